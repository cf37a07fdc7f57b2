#pragma once

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/startup.h"
#include "modal_watcher.h"
#include "process_cpu.h"
#include "pty_pair.h"
#include "scoped_env.h"
#include "serial/com_port.h"
#include "serial/rs232.h"
#include "temp_cwd.h"
#include "windows_fixture.h"

// Picks an item the way the operator does: open the list, move to the item, press Enter.
inline void PickItem(QComboBox* combo, const QString& item) {
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    view->setCurrentIndex(combo->model()->index(combo->findText(item), 0));
    QTest::keyClick(view, Qt::Key_Return);
}

// Replaces the selector's text by typing, one key at a time.
inline void TypeInto(QComboBox* combo, const QString& text) {
    combo->lineEdit()->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), text);
}

inline QString LogText(TForm1* window) {
    window->FlushLog();
    return window->Memo1->toPlainText();
}

// Waits until the device side has received the byte, reading off everything before it.
inline bool DeviceReceives(const PtyPair& pty, std::uint8_t wanted, int timeoutMs = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents();
        for (std::uint8_t b : pty.ReadUntilQuiet(5)) {
            if (b == wanted) return true;
        }
    }
    return false;
}

// What the device side receives while the window's thread goes on serving events: count bytes,
// or whatever came by the time-out.
inline std::vector<std::uint8_t> DeviceGets(const PtyPair& pty, std::size_t count,
                                            int timeoutMs = 3000) {
    std::vector<std::uint8_t> got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < count && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents();
        const auto more = pty.ReadCount(count - got.size(), 5);
        got.insert(got.end(), more.begin(), more.end());
    }
    return got;
}

// Points COMn at a device path for as long as the object lives.
class PortMapping {
public:
    PortMapping(int n, const std::string& path) : env_("NORVA_COM" + std::to_string(n), path) {}

private:
    ScopedEnv env_;
};

// The program's windows in a fresh working folder, shown, polling stopped, with Com3 opened on a
// pseudo-terminal whose other end the test plays as the acceptor. Everything is taken down and
// the port released when the object goes.
class WindowsOnDevice {
public:
    explicit WindowsOnDevice(const std::string& billValues)
        : mapping_(3, pty_.slavePath()), windows_(billValues) {
        Form1->Timer1->stop();
        PickItem(Form1->ComboBox1, "Com3");
    }
    ~WindowsOnDevice() {
        // The windows stop the receive thread; only then may the port go.
        windows_.TakeDown();
        norva::ReleaseComPort(&norva::ComHandle);
    }
    WindowsOnDevice(const WindowsOnDevice&) = delete;
    WindowsOnDevice& operator=(const WindowsOnDevice&) = delete;

    bool ready() const { return pty_.ok() && windows_.ready() && norva::ComHandle.IsOpen(); }
    // What the window said when the open failed.
    QString why() const { return Form1->StatusBar1->PanelText(3); }
    const PtyPair& device() const { return pty_; }

private:
    PtyPair pty_;
    PortMapping mapping_;
    ShownWindows windows_;
    StrayBoxes strays_;  // a refused open shows a box; ready() then says false at once
};
