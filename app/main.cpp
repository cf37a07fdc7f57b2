#include <QApplication>

#include "app/no_display.h"
#include "app/startup.h"

int main(int argc, char* argv[]) {
    norva::NoDisplayExit noDisplayExit;
    QApplication application(argc, argv);
    noDisplayExit.Release();
    return norva::RunNorvaProtocol(application);
}
