#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/session_picture_window.h"
#include "base/unique_fd.h"

class QAction;
class QSocketNotifier;
class QWidget;

namespace norva {

class ProtocolLogPane;
class TrafficRecord;

namespace picture {
class RecordPicture;
}

// The picture windows and their two entries in the log pane's menu: "Session Picture…" shows
// the bench's own session from its traffic record, brought up to date once a second while the
// window is open and not at all once it is closed; "Open Traffic…" reads a capture file, the
// bench's or a tap's, away from the window's thread and shows it with its log lines.
class PictureWindows : public QObject {
    Q_OBJECT

public:
    using Captions = std::function<std::array<std::string, 16>()>;

    // `captions` gives the note values the live picture counts the credit with.
    PictureWindows(QWidget* window, const TrafficRecord& record, ProtocolLogPane& pane,
                   Captions captions);
    ~PictureWindows() override;

    QAction* sessionPictureAction() const { return sessionPicture_; }
    QAction* openTrafficAction() const { return openTraffic_; }
    // The live window while it is open.
    SessionPictureWindow* live() const { return live_; }
    // Whether the record is being read for it.
    bool following() const { return livePicture_ != nullptr || liveTimer_.isActive(); }

    void ShowSessionPicture();
    // Reads the capture and opens its window; a capture that cannot be read shows the error box.
    void OpenCapture(const QString& path);

signals:
    void CaptureShown(SessionPictureWindow* window);

private:
    struct Loading;

    void UpdateLive();
    void AskAndOpen();
    void TakeLoaded();
    void Loaded(Loading* loading);

    QWidget* window_;
    const TrafficRecord& record_;
    Captions captions_;
    QAction* sessionPicture_;
    QAction* openTraffic_;
    QPointer<SessionPictureWindow> live_;
    std::unique_ptr<picture::RecordPicture> livePicture_;
    QTimer liveTimer_;
    std::vector<std::unique_ptr<Loading>> loading_;
    // Readable when a capture has been read; the reading threads only write to it, so nothing
    // they make is freed here but through their own join.
    UniqueFd loadedWake_;
    std::unique_ptr<QSocketNotifier> loadedNotifier_;  // goes before the descriptor it watches
    QTimer loadedLook_;                                // instead, when the system gave none
};

}  // namespace norva
