// The session picture as an operator meets it: a day's capture opened in its window, its
// report written, the timeline zoomed and panned, and a capture of three months.
#include "bench_picture.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/session_picture_window.h"
#include "capture/capture_format.h"
#include "clock.h"
#include "picture/picture_reading.h"
#include "picture/report.h"

namespace norva::bench {

namespace {

constexpr std::int64_t kDayStart = 1796774400LL * 1'000'000;  // 2026-12-09T00:00:00Z
constexpr std::int64_t kPollMicros = 730'000;
constexpr std::size_t kDayEvents = 230'000;
constexpr std::size_t kDayNotes = 5'000;
constexpr std::size_t kBigEvents = 20'000'000;
constexpr int kRepaints = 60;

double MsSince(std::int64_t startNs) {
    return double(MonotonicNs() - startNs) / 1e6;
}

// Polls answered by the acceptor's status, `notes` notes spread over them (one in twenty
// refused and returned, one in a hundred handed back unanswered), a power-up now and then.
// Polling pauses while a note is in escrow, as the bench's does.
bool WriteCapture(const std::string& path, std::size_t events, std::size_t notes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string text = std::string(kCaptureHeader) + "\n";
    AppendPortLine(text, {"COM1", "/dev/ttyUSB0", "9600,E,8,1"});
    const std::size_t cycles = (events - 3 * notes) / 2;
    const std::size_t noteEvery =
        std::max<std::size_t>(1, cycles / std::max<std::size_t>(notes, 1));
    std::uint32_t random = 12345;
    const auto next = [&random](std::uint32_t range) {
        random = random * 1103515245u + 12345u;
        return (random >> 8) % range;
    };
    std::int64_t t = kDayStart;
    for (std::size_t i = 0; i < cycles; ++i) {
        if (i % (cycles / 3 + 1) == cycles / 6) {
            static const std::uint8_t powerUp[] = {0x80, 0x8F};
            AppendReceivedLine(text, t, powerUp);
            AppendSentLine(text, t + 52'000, 0x02);
            t += 300'000;
        }
        AppendSentLine(text, t, 0x0C);
        const std::uint8_t status = 0x5E;
        AppendReceivedLine(text, t + 51'000, {&status, 1});
        t += kPollMicros;
        if (i % noteEvery == noteEvery / 2 && notes > 0) {
            const std::uint8_t escrow[] = {0x81, 0x8F, std::uint8_t(0x40 + next(16))};
            AppendReceivedLine(text, t, escrow);
            const std::int64_t decided = t + 150'000 + std::int64_t(next(900'000));
            const std::uint32_t fate = next(100);
            const std::uint8_t end = fate < 5 || fate == 99 ? 0x11 : 0x10;
            if (fate != 99) AppendSentLine(text, decided, fate < 5 ? 0x0F : 0x02);
            AppendReceivedLine(text, decided + 450'000, {&end, 1});
            t = decided + 450'000 + kPollMicros;
        }
        if (text.size() > (1 << 20)) {
            out << text;
            text.clear();
        }
    }
    out << text;
    return bool(out);
}

double PeakPaintMs(PictureCanvas* canvas, const picture::TimeWindow& window) {
    canvas->SetWindow(window);
    canvas->repaint();
    double slowest = 0;
    for (int i = 0; i < kRepaints; ++i) {
        // Panning back and forth by a hundredth of the view, as a drag does.
        const picture::TimeWindow& shown = canvas->window();
        const picture::TimeWindow fit = picture::TimeWindow::Fit(canvas->picture()->startMicros(),
                                                                 canvas->picture()->endMicros());
        canvas->SetWindow(shown.Panned(i % 20 < 10 ? 0.01 : -0.01, fit));
        const std::int64_t start = MonotonicNs();
        canvas->repaint();
        slowest = std::max(slowest, MsSince(start));
    }
    return slowest;
}

}  // namespace

PictureFigures MeasurePicture(bool big) {
    PictureFigures f;
    f.openMs = f.reportMs = f.repaintDayMs = f.repaintHourMs = f.repaintMinuteMs = std::nan("");
    f.bytesPerEvent = f.bigOpenSeconds = f.bigBytesPerEvent = std::nan("");
    QTemporaryDir dir;
    const std::string day = dir.filePath("day.cap").toStdString();
    if (!WriteCapture(day, kDayEvents, kDayNotes)) return f;

    std::int64_t start = MonotonicNs();
    auto read = picture::PictureOfCapture(day);
    if (!read.ok()) {
        std::fprintf(stderr, "picture: %s\n", read.Describe().c_str());
        return f;
    }
    std::shared_ptr<picture::SessionPicture> picture = read.value();
    {
        SessionPictureWindow window(QStringLiteral("Session Picture - day.cap"), true);
        window.SetPicture(picture);
        window.show();
        window.repaint();
        f.openMs = MsSince(start);
        QCoreApplication::processEvents();

        PictureCanvas* canvas = window.canvas();
        const double first = double(picture->startMicros());
        f.repaintDayMs = PeakPaintMs(
            canvas, picture::TimeWindow::Fit(picture->startMicros(), picture->endMicros()));
        f.repaintHourMs = PeakPaintMs(canvas, {first + 10 * 3600e6, first + 11 * 3600e6});
        f.repaintMinuteMs = PeakPaintMs(canvas, {first + 10 * 3600e6, first + 10 * 3600e6 + 60e6});
    }
    f.bytesPerEvent = double(picture->MemoryBytes()) / double(picture->numbers().events);

    picture.reset();

    // As norva-cli --report does it: the capture read again, the page written.
    start = MonotonicNs();
    const auto again = picture::PictureOfCapture(day);
    if (again.ok() &&
        picture::WriteReport(*again.value(), dir.filePath("day.html").toStdString()).ok())
        f.reportMs = MsSince(start);

    if (big) {
        const std::string months = dir.filePath("months.cap").toStdString();
        if (WriteCapture(months, kBigEvents, kBigEvents / 46)) {
            start = MonotonicNs();
            auto bigRead = picture::PictureOfCapture(months);
            if (bigRead.ok()) {
                f.bigOpenSeconds = MsSince(start) / 1000;
                f.bigBytesPerEvent = double(bigRead.value()->MemoryBytes()) /
                                     double(bigRead.value()->numbers().events);
            }
        }
    }
    return f;
}

void AddPictureRows(ResultsTable& table, const std::vector<PictureFigures>& runs) {
    if (runs.empty()) return;
    const auto column = [&runs](double PictureFigures::*field) {
        std::vector<double> values;
        for (const PictureFigures& f : runs)
            values.push_back(f.*field);
        return values;
    };
    const auto ms = [](double v) { return Fixed(v, 1) + " ms"; };
    const auto atMost = [](double limit) { return [limit](double v) { return v <= limit; }; };
    const std::string day = "Picture, a day at the bench (230,000 events, 5,000 notes): ";
    table.Add(day + "capture opened in its window, painted", "≤ 1000 ms",
              column(&PictureFigures::openMs), ms, atMost(1000));
    table.Add(day + "HTML report written from the capture", "≤ 2000 ms",
              column(&PictureFigures::reportMs), ms, atMost(2000));
    table.Add(day + "slowest repaint while panning, whole day in view", "≤ 16 ms",
              column(&PictureFigures::repaintDayMs), ms, atMost(16));
    table.Add(day + "slowest repaint while panning, an hour in view", "≤ 16 ms",
              column(&PictureFigures::repaintHourMs), ms, atMost(16));
    table.Add(day + "slowest repaint while panning, a minute in view", "≤ 16 ms",
              column(&PictureFigures::repaintMinuteMs), ms, atMost(16));
    const auto bytes = [](double v) { return Fixed(v, 1) + " B"; };
    table.Add(day + "memory an event", "≤ 64 B", column(&PictureFigures::bytesPerEvent), bytes,
              atMost(64));
    const std::string big = "Picture, a capture of 20,000,000 events (three months): ";
    table.Add(
        big + "opened", "opens", column(&PictureFigures::bigOpenSeconds),
        [](double v) { return Fixed(v, 1) + " s"; }, [](double v) { return v > 0; });
    table.Add(big + "memory an event", "≤ 64 B", column(&PictureFigures::bigBytesPerEvent), bytes,
              atMost(64));
}

}  // namespace norva::bench
