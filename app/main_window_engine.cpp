#include <QPalette>

#include "app/main_window.h"
#include "app/window_constants.h"
#include "serial/com_port.h"

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Qt would pass the focus of a disabled button on to the next control, Clear Credit, where the
// operator's next Space wipes the count and the credit. No control keeps the focus instead.
void SetDecisionButtonEnabled(QPushButton* button, bool enabled) {
    if (!enabled && button->window()->focusWidget() == button) button->clearFocus();
    button->setEnabled(enabled);
}

}  // namespace

TDigitsPanel* TForm1::Panel(norva::Display display) const {
    switch (display) {
        case norva::Display::NoteCount:
            return DigitsPanel1;
        case norva::Display::Escrow:
            return DigitsPanel2;
        case norva::Display::Credit:
            return DigitsPanel3;
    }
    return DigitsPanel1;
}

void TForm1::AppendLogLine(std::string_view line) {
    Memo1->AppendLine(FromUtf8(line));
}

void TForm1::SetLinkIndicator(std::string_view caption, std::uint32_t rgb) {
    // Every received block sets it, nearly always to what it already shows.
    const QString text = FromUtf8(caption);
    const QColor colour = QColor::fromRgb(rgb);
    if (Label2->text() == text && Label2->palette().color(QPalette::Window) == colour) return;
    QPalette colours = Label2->palette();
    colours.setColor(QPalette::Window, colour);
    Label2->setPalette(colours);
    Label2->SetState(text);
    Label2->adjustSize();
}

void TForm1::SetStatusText(int panel, std::string_view text) {
    StatusBar1->SetPanelText(panel, FromUtf8(text));
}

std::string TForm1::EnableButtonCaption() const {
    return BitBtn5->text().toStdString();
}

void TForm1::SetEnableButtonCaption(std::string_view caption) {
    BitBtn5->setText(FromUtf8(caption));
}

void TForm1::SetAcceptEnabled(bool enabled) {
    SetDecisionButtonEnabled(BitBtn6, enabled);
}

void TForm1::SetRejectEnabled(bool enabled) {
    SetDecisionButtonEnabled(BitBtn7, enabled);
}

void TForm1::SetDisplayValue(norva::Display display, std::int32_t value) {
    Panel(display)->SetValue(value);
}

std::int32_t TForm1::DisplayValue(norva::Display display) const {
    return Panel(display)->Value();
}

bool TForm1::ChannelTicked(int channel) const {
    const QCheckBox* box = ChannelBox(channel);
    return box != nullptr && box->isChecked();
}

std::string TForm1::ChannelCaption(int channel) const {
    const QCheckBox* box = ChannelBox(channel);
    return box != nullptr ? box->text().toStdString() : std::string();
}

int TForm1::EscrowSetting() const {
    return RadioGroup1->ItemIndex();
}

void TForm1::ShowLastingState(const QString& text) {
    StatusBar1->SetPanelText(norva::kTitleStatusPanel, text);
    problemTimer_->stop();
}

void TForm1::LastLineNotWritten() {
    Memo1->MarkLastLineNotWritten(norva::ComHandle.IsOpen() ? QStringLiteral("the write failed")
                                                            : QStringLiteral("no port open"));
}

void TForm1::ShowTransientProblem(std::string_view text) {
    StatusBar1->SetPanelText(norva::kTitleStatusPanel, FromUtf8(text));
    problemTimer_->start();
}
