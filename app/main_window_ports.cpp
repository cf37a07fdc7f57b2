#include "app/com_thread.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "protocol/traffic_sink.h"
#include "serial/com_port.h"
#include "serial/comm_ini.h"

namespace {

// The number of the port an item names, "Com1" to "Com10" exactly; 0 for any other text.
int PortNumberOfItem(const QString& text) {
    for (int n = 1; n <= 10; ++n) {
        if (text == QStringLiteral("Com%1").arg(n)) return n;
    }
    return 0;
}

}  // namespace

TForm1::~TForm1() {
    // The receive thread hands blocks to this window's inbox; it must not outlive it.
    StopReceiveThread();
    // The pane outlives this object's members, the budget among them.
    Memo1->AttachBudget(nullptr, {});
}

void TForm1::ComboBox1Change() {
    const QString text = ComboBox1->currentText();
    const int n = PortNumberOfItem(text);
    if (n == 0) return;

    // Only one receive thread, and none that could use the port after its release: stop it,
    // then handle what it already read while the port it came from is still open.
    StopReceiveThread();
    HandleBlocks(inbox_.TakeAll());
    norva::ReleaseComPort(&norva::ComHandle);
    engine_.DropHeldTail();

    if (const std::string error = norva::WriteCommIni(n); !error.empty()) {
        norva::ShowErrorBox(QString::fromStdString(error));
        return;
    }
    const norva::CommSettings settings = norva::ReadCommIni();
    if (!settings.error.empty()) {
        norva::ShowErrorBox(QString::fromStdString(settings.error));
        return;
    }
    if (norva::OpenComPort(&norva::ComHandle, settings.portName, settings.modeString) ==
        norva::kOpenFailed) {
        norva::ShowNoticeBox(QStringLiteral("The COMPort open error !"));
    } else {
        StartReceiving();
    }
    StatusBar1->SetPanelText(1, text);
}

void TForm1::StartReceiving() {
    ComThread = std::make_unique<norva::RS232>(
        norva::ComHandle, [this](const std::atomic<bool>& stopRequested) {
            norva::ReceiveBlock(norva::ComHandle, inbox_, stopRequested);
        });
}

void TForm1::DrainInbox() {
    // A batch at a time, so that a flood cannot hold off the polling timer and the operator's
    // clicks; the rest waits for the next turn of the event loop.
    HandleBlocks(inbox_.Take(kDrainBatchBytes));
    if (!inbox_.Empty()) QMetaObject::invokeMethod(this, &TForm1::DrainInbox, Qt::QueuedConnection);
}

void TForm1::HandleBlocks(const std::vector<norva::Block>& blocks) {
    for (const norva::Block& block : blocks) {
        // Until the blocks carry their first byte's time, the drain's time stands in for it.
        Memo1->BeginReceivedBlock(norva::UnixMicrosNow(), block.size());
        engine_.HandleBlock(block);
        Memo1->EndReceivedBlock();
    }
    FlushLog();
}
