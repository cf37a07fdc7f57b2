#include "app/startup.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>

#include <exception>

#include "app/application_title.h"
#include "app/caret_rest.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "billvalues/bill_value_dialog.h"
#include "widgets/window_look.h"

namespace norva {

void CreateWindows() {
    SetApplicationTitle(ApplicationTitleText());
    InstallFontSubstitutes();
    // The boxes have no parent window to take the emblem from, and the first of them may come
    // while the main window is being created.
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/app/emblem.png")));
    QGuiApplication::setDesktopFileName(QStringLiteral("norva-protocol"));  // its desktop entry
    Form1 = new TForm1();
    new CaretRest(Form1);
    Form3 = new TForm3(&ShowErrorBox, Form1);
    Form3->SetMainWindowLoading([] { return Form1->FormCreate(); });
}

int RunNorvaProtocol(QApplication& application) {
    try {
        CreateWindows();
        Form1->show();
        const int status = application.exec();
        // The loop has ended, so nothing shows any more; taking the windows down just leaves
        // nothing behind for a leak checker.
        delete Form1;
        Form1 = nullptr;
        Form3 = nullptr;
        return status;
    } catch (const std::exception& error) {
        ShowErrorBox(QString::fromLocal8Bit(error.what()));
    }
    return 0;
}

}  // namespace norva
