#include "bench_link.h"

#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "link/acceptor_link.h"
#include "process_cpu.h"
#include "pty_pair.h"
#include "recording_window.h"

namespace norva::bench {

namespace {

// Runs the event loop, sleeping while nothing happens, for ms.
void RunEventsFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void RunEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        RunEventsFor(1);
}

// Runs the event loop until the device side has received a byte, or timeoutMs pass.
bool AwaitAnswer(const PtyPair& pty, int timeoutMs) {
    bool answered = false;
    RunEventsUntil(
        [&] {
            pollfd ready{pty.master(), POLLIN, 0};
            std::uint8_t byte = 0;
            if (!answered && ::poll(&ready, 1, 0) == 1 && ::read(pty.master(), &byte, 1) == 1)
                answered = byte == 0x02;
            return answered;
        },
        timeoutMs);
    return answered;
}

double Milliseconds(const std::function<void()>& step) {
    QElapsedTimer timer;
    timer.start();
    step();
    return double(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

LinkFigures MeasureLink(int trials, int idleSeconds) {
    LinkFigures figures;
    QTemporaryDir folder;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder.path());  // comm.ini goes here
    const std::string path = folder.path().toStdString() + "/ttyUSB0";
    ::setenv("NORVA_COM1", path.c_str(), 1);
    RecordingWindow window;
    {
        AcceptorLink link(window);
        auto pty = std::make_unique<PtyPair>();
        (void)::symlink(pty->slavePath().c_str(), path.c_str());
        link.SelectPort(1);
        for (int trial = 0; trial < trials; ++trial) {
            ::unlink(path.c_str());
            pty.reset();
            RunEventsUntil([&] { return link.waitingForDevice(); }, 5000);
            if (trial == 0) {
                const double before = ProcessCpuMs();
                QElapsedTimer wall;
                wall.start();
                RunEventsFor(idleSeconds * 1000);
                figures.waitingCpuPercent =
                    100.0 * (ProcessCpuMs() - before) / double(wall.elapsed());
            }
            // The adapter is back and the acceptor powers up at once.
            QElapsedTimer sinceBack;
            pty = std::make_unique<PtyPair>();
            pty->Write({0x80, 0x8F});
            sinceBack.start();
            (void)::symlink(pty->slavePath().c_str(), path.c_str());
            if (AwaitAnswer(*pty, 5000))
                figures.reappearToAnswerMs.push_back(double(sinceBack.nsecsElapsed()) / 1e6);
            else
                std::fprintf(stderr, "link: no answer after the device came back (%s)\n",
                             link.waitingForDevice() ? "still waiting" : "reopened");
        }

        // A line that never goes quiet for the 50 ms that end a read.
        std::atomic<bool> streaming{true};
        std::thread stream([&] {
            while (streaming) {
                pty->Write({0x00});
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        RunEventsFor(300);
        figures.portChangeMs = Milliseconds([&] { link.SelectPort(1); });
        RunEventsFor(300);
        figures.closeMs = Milliseconds([&] { link.Close(); });
        streaming = false;
        stream.join();
    }
    ::unlink(path.c_str());
    ::unsetenv("NORVA_COM1");
    QDir::setCurrent(previous);
    return figures;
}

}  // namespace norva::bench
