#include "app/message_boxes.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QShowEvent>

#include "app/application_title.h"
#include "widgets/window_look.h"

namespace norva {

namespace {

// Centres itself on the screen once its final size is known, whatever window is active.
class ScreenCentredBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        CentreOnScreen(this);
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

QString AskSaveFileName(QWidget* parent, const QString& title, const QString& filter) {
    return QFileDialog::getSaveFileName(parent, title, QString(), filter, nullptr,
                                        QFileDialog::DontUseNativeDialog);
}

QString AskOpenFileName(QWidget* parent, const QString& title) {
    return QFileDialog::getOpenFileName(parent, title, QString(), QString(), nullptr,
                                        QFileDialog::DontUseNativeDialog);
}

}  // namespace norva
