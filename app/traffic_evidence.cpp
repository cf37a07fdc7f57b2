#include "app/traffic_evidence.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QAction>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "app/message_boxes.h"
#include "app/protocol_log_pane.h"
#include "billvalues/bill_values.h"
#include "link/acceptor_link.h"
#include "serial/comm_ini.h"

namespace norva {

namespace {

void ShowIfFailed(const Outcome& outcome, bool withReason) {
    if (!outcome.ok())
        ShowErrorBox(QString::fromStdString(withReason ? outcome.Describe() : outcome.text()));
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

    newsWake_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (newsWake_.valid()) {
        newsNotifier_ = std::make_unique<QSocketNotifier>(newsWake_.get(), QSocketNotifier::Read);
        connect(newsNotifier_.get(), &QSocketNotifier::activated, this,
                &TrafficEvidence::TakeWaitingNews);
    } else {
        auto* look = new QTimer(this);
        connect(look, &QTimer::timeout, this, &TrafficEvidence::TakeWaitingNews);
        look->start(250);
    }

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

Outcome TrafficEvidence::StartRecording(const std::string& fileName) {
    (void)StopRecording();
    CaptureFileRecorder::Setup setup;
    setup.fileName = fileName;
    setup.currentPort = record_.currentPort();
    setup.protectedFiles = {{link_.devicePath(), "the serial device"},
                            {kBillValueFileName, "the bill value file"},
                            {kCommIniFileName, "the port settings file"}};
    // On the writer's thread: nothing is made there that the window's thread frees but the
    // news behind the mutex, a hand-over the thread checker sees.
    setup.onNews = [this](const RecorderNews& news) {
        std::lock_guard lock(newsMutex_);
        news_.push_back(news);
        if (newsWake_.valid()) {
            const std::uint64_t one = 1;
            (void)!::write(newsWake_.get(), &one, sizeof one);
        }
    };
    Result<std::unique_ptr<CaptureFileRecorder>> started = CaptureFileRecorder::Start(setup);
    if (!started.ok()) return started.outcome();
    if (Outcome committed = started.value()->Commit(); !committed.ok()) return committed;
    recorder_ = std::move(started).value();
    link_.AddTrafficSink(recorder_.get());
    recordAction_->setChecked(true);
    return {};
}

Outcome TrafficEvidence::StopRecording() {
    recordAction_->setChecked(false);
    if (!recorder_) return {};
    link_.RemoveTrafficSink(recorder_.get());
    Outcome stopped = recorder_->Stop();
    recorder_.reset();
    return stopped;
}

void TrafficEvidence::AskAndSave() {
    const QString path = AskSaveFileName(window_, QStringLiteral("Save Traffic As"));
    if (!path.isEmpty()) ShowIfFailed(SaveTo(path.toStdString()), false);
}

void TrafficEvidence::ToggleRecording() {
    if (recorder_) {
        ShowIfFailed(StopRecording(), true);
        return;
    }
    recordAction_->setChecked(false);
    const QString path = AskSaveFileName(window_, QStringLiteral("Record Traffic to File"));
    if (!path.isEmpty()) ShowIfFailed(StartRecording(path.toStdString()), true);
}

// A failed recording stops, and the operator is told once, in status panel 3 and the box.
void TrafficEvidence::TakeWaitingNews() {
    std::vector<RecorderNews> taken;
    {
        std::lock_guard lock(newsMutex_);
        if (newsWake_.valid()) {
            std::uint64_t count = 0;
            (void)!::read(newsWake_.get(), &count, sizeof count);
        }
        taken.swap(news_);
    }
    for (const RecorderNews& news : taken)
        TakeNews(news);
}

void TrafficEvidence::TakeNews(const RecorderNews& news) {
    emit RecordingNews(QString::fromStdString(news.text));
    if (news.stopped && recorder_ && !recorder_->recording()) ShowIfFailed(StopRecording(), true);
}

}  // namespace norva
