#include "app/message_boxes.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>

#include "app/application_title.h"

namespace norva {

namespace {

// Centres itself on the screen once its final size is known, whatever window is active.
class ScreenCentredBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
};

void ShowBox(QMessageBox::Icon icon, const QString& text) {
    ScreenCentredBox box(icon, ApplicationTitle(), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);  // a file name or a typed value is never markup
    box.exec();
}

}  // namespace

QString ErrorBoxText(const QString& failure) {
    if (failure.isEmpty() || failure.back().unicode() <= u'.') return failure;
    return failure + u'.';
}

void ShowErrorBox(const QString& failure) {
    ShowBox(QMessageBox::Critical, ErrorBoxText(failure));
}

void ShowNoticeBox(const QString& text) {
    ShowBox(QMessageBox::NoIcon, text);
}

}  // namespace norva
