#include "app/picture_windows.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QAction>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QWidget>

#include "app/message_boxes.h"
#include "app/protocol_log_pane.h"
#include "app/session_picture_window.h"
#include "capture/traffic_record.h"
#include "picture/picture_reading.h"

namespace norva {

namespace {

// The live picture is brought up to date at most this often.
constexpr int kLiveUpdateMs = 1000;
const QString kPictureTitle = QStringLiteral("Session Picture");
// How often finished reads are looked for when there is no wake descriptor.
constexpr int kLoadedLookMs = 50;

}  // namespace

// A capture being read on a thread of its own; the result comes back through the event loop.
struct PictureWindows::Loading {
    QString path;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};  // the result is there: set last by the reading thread
    Result<std::shared_ptr<picture::SessionPicture>> result{Outcome::Failed("not read yet")};
    std::thread thread;
};

PictureWindows::PictureWindows(QWidget* window, const TrafficRecord& record, ProtocolLogPane& pane,
                               Captions captions)
    : window_(window), record_(record), captions_(std::move(captions)) {
    sessionPicture_ = new QAction(QStringLiteral("Session Picture\u2026"), this);
    openTraffic_ = new QAction(QStringLiteral("Open Traffic\u2026"), this);
    connect(sessionPicture_, &QAction::triggered, this, &PictureWindows::ShowSessionPicture);
    connect(openTraffic_, &QAction::triggered, this, &PictureWindows::AskAndOpen);
    pane.AddContextActions({sessionPicture_, openTraffic_});
    liveTimer_.setInterval(kLiveUpdateMs);
    connect(&liveTimer_, &QTimer::timeout, this, &PictureWindows::UpdateLive);
    loadedWake_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (loadedWake_.valid()) {
        loadedNotifier_ =
            std::make_unique<QSocketNotifier>(loadedWake_.get(), QSocketNotifier::Read);
        connect(loadedNotifier_.get(), &QSocketNotifier::activated, this,
                &PictureWindows::TakeLoaded);
    }
    loadedLook_.setInterval(kLoadedLookMs);
    connect(&loadedLook_, &QTimer::timeout, this, &PictureWindows::TakeLoaded);
}

PictureWindows::~PictureWindows() {
    for (const auto& loading : loading_)
        loading->stop = true;
    for (const auto& loading : loading_)
        loading->thread.join();
}

void PictureWindows::ShowSessionPicture() {
    if (live_) {
        live_->raise();
        live_->activateWindow();
        return;
    }
    live_ = new SessionPictureWindow(kPictureTitle, false, window_);
    livePicture_ =
        std::make_unique<picture::RecordPicture>(kPictureTitle.toStdString(), captions_());
    // Closed, it costs nothing: no timer, no reading, no picture.
    connect(live_, &SessionPictureWindow::Closed, this, [this] {
        liveTimer_.stop();
        livePicture_.reset();
    });
    UpdateLive();
    liveTimer_.start();
    live_->show();
}

void PictureWindows::UpdateLive() {
    if (!live_ || !livePicture_) return;
    // A long record is read a share at a time, so the engine on this thread keeps answering.
    if (!livePicture_->Update(record_) && !livePicture_->More()) return;
    if (livePicture_->More())
        QTimer::singleShot(0, this, &PictureWindows::UpdateLive);
    else
        live_->SetPicture(livePicture_->picture());
}

void PictureWindows::AskAndOpen() {
    const QString path = AskOpenFileName(window_, QStringLiteral("Open Traffic"));
    if (!path.isEmpty()) OpenCapture(path);
}

void PictureWindows::OpenCapture(const QString& path) {
    auto loading = std::make_unique<Loading>();
    Loading* l = loading.get();
    l->path = path;
    const int wake = loadedWake_.get();
    l->thread = std::thread([l, wake] {
        l->result = picture::PictureOfCapture(l->path.toStdString(), &l->stop);
        l->done = true;
        if (wake >= 0) {
            const std::uint64_t one = 1;
            (void)!::write(wake, &one, sizeof one);
        }
    });
    loading_.push_back(std::move(loading));
    if (!loadedWake_.valid()) loadedLook_.start();
}

void PictureWindows::TakeLoaded() {
    if (loadedWake_.valid()) {
        std::uint64_t count = 0;
        (void)!::read(loadedWake_.get(), &count, sizeof count);
    }
    std::vector<Loading*> done;
    for (const auto& loading : loading_)
        if (loading->done) done.push_back(loading.get());
    for (Loading* loading : done)
        Loaded(loading);
    if (loading_.empty()) loadedLook_.stop();
}

void PictureWindows::Loaded(Loading* loading) {
    loading->thread.join();
    auto result = std::move(loading->result);
    const QString path = loading->path;
    std::erase_if(loading_, [loading](const auto& l) { return l.get() == loading; });
    if (!result.ok()) {
        ShowErrorBox(QString::fromStdString(result.Describe()));
        return;
    }
    auto* shown = new SessionPictureWindow(
        kPictureTitle + QStringLiteral(" - ") + QFileInfo(path).fileName(), true, window_);
    shown->SetPicture(std::move(result.value()));
    shown->show();
    emit CaptureShown(shown);
}

}  // namespace norva
