#include <QApplication>
#include <cstdio>

#include "app/command_line.h"
#include "app/no_display.h"
#include "app/startup.h"

int main(int argc, char* argv[]) {
    if (const auto status = norva::AnswerOwnArguments(argc, argv, stdout)) return *status;
    norva::NoDisplayExit noDisplayExit;
    QApplication application(argc, argv);
    noDisplayExit.Release();
    return norva::RunNorvaProtocol(application);
}
