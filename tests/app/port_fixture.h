#pragma once

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "process_cpu.h"
#include "pty_pair.h"
#include "serial/rs232.h"

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
    PortMapping(int n, const std::string& path) : name_("NORVA_COM" + std::to_string(n)) {
        ::setenv(name_.c_str(), path.c_str(), 1);
    }
    ~PortMapping() { ::unsetenv(name_.c_str()); }

private:
    std::string name_;
};
