#pragma once

#include <QObject>
#include <memory>
#include <mutex>
#include <vector>

#include "app/memory_budget.h"
#include "base/unique_fd.h"
#include "capture/capture_file_recorder.h"
#include "capture/traffic_record.h"

class QAction;
class QSocketNotifier;
class QWidget;

namespace norva {

class AcceptorLink;
class ProtocolLogPane;

// The window's evidence of the traffic: everything received and sent since start, kept in
// memory under the log's budget, saved on request, and recorded to a file as it happens while
// the operator asks for it. It also tells the log pane which block its received lines came from.
class TrafficEvidence : public QObject, private TrafficSink {
    Q_OBJECT

public:
    TrafficEvidence(QWidget* window, AcceptorLink& link, ProtocolLogPane& pane,
                    MemoryBudget& budget);
    ~TrafficEvidence() override;

    const TrafficRecord& record() const { return record_; }
    bool recording() const { return recorder_ != nullptr; }

    // The entries of the log pane's menu: "Clear Traffic", "Save Traffic As…" (Ctrl+Shift+S)
    // and "Record Traffic to File…", ticked while a recording runs.
    QAction* clearAction() const { return clear_; }
    QAction* saveAction() const { return save_; }
    QAction* recordAction() const { return recordAction_; }

    // A failure carries the text for the error box.
    Outcome SaveTo(const std::string& fileName) const;
    // A file that is not a regular one, or is the device or a settings file, is refused; an
    // old file stays as it is until the new recording has its header on disk.
    Outcome StartRecording(const std::string& fileName);
    // Ends a recording, keeping what it wrote; the failure that had stopped it, if any.
    Outcome StopRecording();

signals:
    // For status panel 3: the recording file was started again, or the recording failed.
    void RecordingNews(const QString& text);

private:
    void PortOpened(std::int64_t unixMicros, const PortIdentity& port) override;
    void Received(std::int64_t firstByteUnixMicros, std::span<const std::uint8_t> block) override;
    void Sent(std::int64_t unixMicros, std::uint8_t byte) override;

    void AskAndSave();
    void ToggleRecording();
    void TakeNews(const RecorderNews& news);
    void TakeWaitingNews();

    QWidget* window_;
    AcceptorLink& link_;
    ProtocolLogPane& pane_;
    MemoryBudget& budget_;
    int budgetId_ = 0;
    TrafficRecord record_;
    // The recorder's writer thread leaves its news here and makes the descriptor readable; the
    // window's thread takes them. Declared before the recorder, which goes first and joins its
    // writer.
    std::mutex newsMutex_;
    std::vector<RecorderNews> news_;
    UniqueFd newsWake_;
    std::unique_ptr<QSocketNotifier> newsNotifier_;  // goes before the descriptor it watches
    std::unique_ptr<CaptureFileRecorder> recorder_;
    QAction* clear_;
    QAction* save_;
    QAction* recordAction_;
};

}  // namespace norva
