#pragma once

#include <QIcon>
#include <QImage>
#include <QLineEdit>

#include <string>

#include <QTest>

#include "app/main_window.h"
#include "app/startup.h"
#include "billvalues/bill_value_dialog.h"
#include "protocol/shared_state.h"
#include "temp_cwd.h"

// The bill value file that Default and Done write: "1" to "16", each ended by CR LF.
inline std::string DefaultBillValueBytes() {
    std::string bytes;
    for (int n = 1; n <= 16; ++n)
        bytes += std::to_string(n) + "\r\n";
    return bytes;
}

// Takes down what CreateWindows built (the dialog belongs to the main window) and the state
// the windows share, so the next case starts as the program does.
inline void DestroyWindows() {
    delete Form1;
    Form1 = nullptr;
    Form3 = nullptr;
    norva::ResetSharedState();
}

// The program's windows as the program creates them, in a fresh working folder holding the
// given BILLVALUE.TXT, the main window shown; taken down with the shared state at the end.
class ShownWindows {
public:
    explicit ShownWindows(const std::string& billValues = DefaultBillValueBytes()) {
        WriteFileBytes("BILLVALUE.TXT", billValues);
        norva::CreateWindows();
        Form1->show();
        exposed_ = QTest::qWaitForWindowExposed(Form1);
    }
    ~ShownWindows() { TakeDown(); }
    ShownWindows(const ShownWindows&) = delete;
    ShownWindows& operator=(const ShownWindows&) = delete;

    bool ready() const { return exposed_; }
    // Before the end, for a fixture that must release something after the windows.
    void TakeDown() {
        if (Form1 != nullptr) DestroyWindows();
    }

private:
    TempCwd cwd_;  // first: the file goes into the fresh folder
    bool exposed_ = false;
};

inline QStringList ChannelCaptions() {
    QStringList captions;
    for (int n = 1; n <= 16; ++n)
        captions << Form1->ChannelBox(n)->text();
    return captions;
}

inline QStringList DialogTexts() {
    QStringList texts;
    for (int n = 1; n <= 16; ++n)
        texts << Form3->ChannelEdit(n)->text();
    return texts;
}

// "1" ... "16".
inline QStringList NumberedTexts() {
    QStringList texts;
    for (int n = 1; n <= 16; ++n)
        texts << QString::number(n);
    return texts;
}

// Whether the icon shows the emblem of the window's image.
inline bool IsEmblem(const QIcon& icon) {
    const QImage emblem = QImage(QStringLiteral(":/app/emblem.png"))
                              .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return !emblem.isNull() && !icon.isNull() &&
           icon.pixmap(emblem.size())
                   .toImage()
                   .convertToFormat(QImage::Format_ARGB32_Premultiplied) == emblem;
}
