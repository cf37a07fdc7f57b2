#pragma once

#include <QIcon>
#include <QImage>
#include <QLineEdit>

#include <string>

#include "app/main_window.h"
#include "billvalues/bill_value_dialog.h"
#include "protocol/shared_state.h"

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
