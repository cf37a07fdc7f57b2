#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "app/memory_budget.h"
#include "capture/capture_file_recorder.h"
#include "capture/traffic_record.h"

class QAction;
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
    // Empty on success, else the text for the error box.
    std::string StartRecording(const std::string& fileName);
    // Ends a recording, keeping what it wrote; the text for the error box if it had failed.
    std::string StopRecording();

private:
    void PortOpened(std::int64_t unixMicros, const PortIdentity& port) override;
    void Received(std::int64_t firstByteUnixMicros, std::span<const std::uint8_t> block) override;
    void Sent(std::int64_t unixMicros, std::uint8_t byte) override;

    void AskAndSave();
    void ToggleRecording();
    void Flush();

    QWidget* window_;
    AcceptorLink& link_;
    ProtocolLogPane& pane_;
    MemoryBudget& budget_;
    int budgetId_ = 0;
    TrafficRecord record_;
    std::unique_ptr<CaptureFileRecorder> recorder_;
    QTimer flushTimer_;
    QAction* clear_;
    QAction* save_;
    QAction* recordAction_;
};

}  // namespace norva
