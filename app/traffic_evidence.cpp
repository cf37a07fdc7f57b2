#include "app/traffic_evidence.h"

#include <QAction>
#include <QFileDialog>
#include <QWidget>

#include "app/message_boxes.h"
#include "app/protocol_log_pane.h"
#include "link/acceptor_link.h"

namespace norva {

namespace {

// Recorded events reach the disk at least this often, so a crash loses at most this much.
constexpr int kFlushMs = 1000;

QString AskForFile(QWidget* window, const QString& title) {
    return QFileDialog::getSaveFileName(window, title, QString(), QString(), nullptr,
                                        QFileDialog::DontUseNativeDialog);
}

void ShowIfFailed(const std::string& error) {
    if (!error.empty()) ShowErrorBox(QString::fromStdString(error));
}

}  // namespace

TrafficEvidence::TrafficEvidence(QWidget* window, AcceptorLink& link, ProtocolLogPane& pane,
                                 MemoryBudget& budget)
    : window_(window), link_(link), pane_(pane), budget_(budget) {
    clear_ = new QAction(QStringLiteral("Clear Traffic"), this);
    save_ = new QAction(QStringLiteral("Save Traffic As\u2026"), this);
    save_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    recordAction_ = new QAction(QStringLiteral("Record Traffic to File\u2026"), this);
    recordAction_->setCheckable(true);
    window->addAction(save_);
    connect(clear_, &QAction::triggered, this, [this] { record_.Clear(); });
    connect(save_, &QAction::triggered, this, &TrafficEvidence::AskAndSave);
    connect(recordAction_, &QAction::triggered, this, &TrafficEvidence::ToggleRecording);
    pane_.AddContextActions({clear_, save_, recordAction_});

    flushTimer_.setInterval(kFlushMs);
    connect(&flushTimer_, &QTimer::timeout, this, &TrafficEvidence::Flush);
    // A received line's block is the one handed over last; the operator's lines follow a batch.
    connect(&link_, &AcceptorLink::BlocksHandled, this, [this] { pane_.EndReceivedBlock(); });
    link_.AddTrafficSink(this);
    budgetId_ = budget_.AddConsumer({[this] { return std::uint64_t(record_.MemoryBytes()); },
                                     [this](double f) { record_.DropOldestFraction(f); }});
}

TrafficEvidence::~TrafficEvidence() {
    link_.RemoveTrafficSink(this);
    if (recorder_) link_.RemoveTrafficSink(recorder_.get());
    budget_.RemoveConsumer(budgetId_);
}

void TrafficEvidence::PortOpened(std::int64_t unixMicros, const PortIdentity& port) {
    record_.PortOpened(unixMicros, port);
}

void TrafficEvidence::Received(std::int64_t firstByteUnixMicros,
                               std::span<const std::uint8_t> block) {
    record_.Received(firstByteUnixMicros, block);
    pane_.BeginReceivedBlock(firstByteUnixMicros, block.size());
}

void TrafficEvidence::Sent(std::int64_t unixMicros, std::uint8_t byte) {
    record_.Sent(unixMicros, byte);
}

Outcome TrafficEvidence::SaveTo(const std::string& fileName) const {
    return record_.SaveAs(fileName);
}

std::string TrafficEvidence::StartRecording(const std::string& fileName) {
    StopRecording();
    auto recorder = std::make_unique<CaptureFileRecorder>(fileName, record_.currentPort());
    if (recorder->failed()) return recorder->error();
    recorder_ = std::move(recorder);
    link_.AddTrafficSink(recorder_.get());
    flushTimer_.start();
    recordAction_->setChecked(true);
    return {};
}

std::string TrafficEvidence::StopRecording() {
    recordAction_->setChecked(false);
    if (!recorder_) return {};
    flushTimer_.stop();
    link_.RemoveTrafficSink(recorder_.get());
    const std::string error = recorder_->Stop();
    recorder_.reset();
    return error;
}

void TrafficEvidence::AskAndSave() {
    const QString path = AskForFile(window_, QStringLiteral("Save Traffic As"));
    if (!path.isEmpty()) ShowIfFailed(SaveTo(path.toStdString()).text());
}

void TrafficEvidence::ToggleRecording() {
    if (recorder_) {
        ShowIfFailed(StopRecording());
        return;
    }
    recordAction_->setChecked(false);
    const QString path = AskForFile(window_, QStringLiteral("Record Traffic to File"));
    if (!path.isEmpty()) ShowIfFailed(StartRecording(path.toStdString()));
}

void TrafficEvidence::Flush() {
    if (!recorder_) return;
    recorder_->Flush();
    // A recording that failed stops, and the operator is told once.
    if (recorder_->failed()) ShowIfFailed(StopRecording());
}

}  // namespace norva
