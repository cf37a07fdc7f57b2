#include "app/status_bar.h"

#include <QApplication>
#include <QLabel>

#include <algorithm>

namespace norva {

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    // A status bar keeps the system's own font, not the window's, as on the platforms it came
    // from; the window's 16-pixel font would not fit its height. Family and size are set one by
    // one so that the window's font cannot take their place.
    const QFont system = QApplication::font("QStatusBar");
    QFont own(system.family());
    own.setPointSizeF(system.pointSizeF());
    setFont(own);
    for (auto& label : labels_) {
        label = new QLabel(this);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setAlignment(Qt::AlignCenter);
        // A panel may show a typed caption or a file's text, which is never markup.
        label->setTextFormat(Qt::PlainText);
        label->setFocusPolicy(Qt::NoFocus);
    }
}

void StatusBar::SetPanel(int panel, int width, const QString& text) {
    widths_.at(panel) = width;
    labels_.at(panel)->setText(text);
    LayOut();
}

void StatusBar::SetPanelText(int panel, const QString& text) {
    if (panel < 0 || panel >= kPanelCount) return;
    labels_[panel]->setText(text);
}

QString StatusBar::PanelText(int panel) const {
    return labels_.at(panel)->text();
}

void StatusBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut();
}

void StatusBar::LayOut() {
    int left = 0;
    for (int i = 0; i < kPanelCount; ++i) {
        const int width = i + 1 == kPanelCount ? std::max(0, this->width() - left) : widths_[i];
        labels_[i]->setGeometry(left, 0, width, height());
        left += widths_[i];
    }
}

}  // namespace norva
