#include <QCoreApplication>

#include "app/main_window.h"
#include "app/message_boxes.h"
#include "billvalues/bill_value_dialog.h"
#include "billvalues/bill_values.h"
#include "protocol/shared_state.h"
#include "textfile/text_lines.h"

bool TForm1::FormCreate() {
    norva::NoteCount = 0;
    const auto file = norva::ReadBillValueFile();
    if (!file.ok()) {
        norva::ShowErrorBox(QString::fromStdString(file.text()));
        return false;
    }
    norva::ApplyBillValueLines(file.value(), [this](int channel, const std::string& text) {
        ChannelBox(channel)->setText(QString::fromLocal8Bit(text));
    });
    return true;
}

// The receive thread is stopped and joined before the port goes, so no thread can use a
// released descriptor.
void TForm1::FormClose() {
    link_.Close();
    // What the recording file holds is kept; a failure there is no reason to stay open.
    (void)traffic_->StopRecording();
    QCoreApplication::exit(0);
}

void TForm1::BitBtn1Click() {
    Memo1->ClearLog();
}

void TForm1::BitBtn5Click() {
    link_.Commands().ToggleEnable();
}

void TForm1::BitBtn6Click() {
    link_.Commands().Accept();
}

void TForm1::BitBtn7Click() {
    link_.Commands().Reject();
}

void TForm1::BitBtn8Click() {
    link_.Commands().ClearCredit();
}

void TForm1::Button1Click() {
    link_.Commands().Reset();
}

void TForm1::Button2Click() {
    if (Form3 != nullptr) Form3->exec();
}

void TForm1::Button3Click() {
    if (Timer1->isActive()) {
        Timer1->stop();
        Button3->setText(QStringLiteral("Stop Poll"));
    } else {
        Timer1->start();  // a fresh interval: the first poll comes a full period later
        Button3->setText(QStringLiteral("Polling"));
    }
}

void TForm1::Timer1Timer() {
    link_.Commands().Poll();
}

void TForm1::SaveLogAs() {
    const QString path = norva::AskSaveFileName(this, QStringLiteral("Save Log As"));
    if (path.isEmpty()) return;
    FlushLog();
    std::vector<std::string> lines;
    for (const QString& line : Memo1->ShownLines())
        lines.push_back(line.toStdString());
    const norva::Outcome saved = norva::WriteTextLines(path.toStdString(), lines, "\n");
    if (!saved.ok()) norva::ShowErrorBox(QString::fromStdString(saved.text()));
}
