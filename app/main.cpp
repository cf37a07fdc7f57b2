#include <QApplication>
#include <cstdio>

#include "app/command_line.h"
#include "app/startup.h"

int main(int argc, char* argv[]) {
    if (const auto status = norva::AnswerOwnArguments(argc, argv, stdout)) return *status;
    QApplication application(argc, argv);
    return norva::RunNorvaProtocol(application);
}
