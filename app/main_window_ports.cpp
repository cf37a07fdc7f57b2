#include <optional>

#include "app/main_window.h"
#include "app/message_boxes.h"
#include "app/window_constants.h"

namespace {

// The number of the port an item names, "Com1" to "Com10" exactly; nothing for any other text.
std::optional<int> PortNumberOfItem(const QString& text) {
    for (int n = 1; n <= norva::kPortCount; ++n) {
        if (text.toStdString() == norva::PortItemText(norva::PortName(unsigned(n)))) return n;
    }
    return std::nullopt;
}

}  // namespace

TForm1::~TForm1() {
    // The pane outlives this object's members, the budget among them.
    Memo1->AttachBudget(nullptr, {});
}

void TForm1::ComboBox1Change() {
    const QString text = ComboBox1->currentText();
    const std::optional<int> n = PortNumberOfItem(text);
    if (!n) return;

    const norva::SelectionOutcome outcome = link_.SelectPort(*n);
    switch (outcome.kind) {
        case norva::SelectionOutcome::Kind::SettingsFailed:
            norva::ShowErrorBox(QString::fromStdString(outcome.text));
            return;
        case norva::SelectionOutcome::Kind::OpenFailed:
            // The reason first, so that it is there to read while the box waits.
            ShowTransientProblem(outcome.text);
            norva::ShowNoticeBox(QString::fromLatin1(norva::kPortOpenErrorText));
            break;
        case norva::SelectionOutcome::Kind::Opened:
            if (!outcome.text.empty()) {
                ShowTransientProblem(outcome.text);
            } else if (!problemTimer_->isActive()) {
                // A device that was gone is no longer waited for.
                StatusBar1->SetPanelText(
                    norva::kTitleStatusPanel,
                    QLatin1String(norva::kTitlePanelText.data(), norva::kTitlePanelText.size()));
            }
            break;
    }
    StatusBar1->SetPanelText(norva::kPortStatusPanel, text);
}
