#include "measured_program.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QSocketNotifier>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/startup.h"
#include "clock.h"
#include "control_channel.h"
#include "serial/com_port.h"

namespace norva::bench {

namespace {

double Ms(std::int64_t ns) {
    return static_cast<double>(ns) / 1e6;
}

long ResidentKb() {
    long pages = 0;
    long resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Answers the driver. Everything it does runs on the window's thread, in the program's own
// event loop, so a question is answered only when the program is free to, as an operator's
// click would be.
class Probe : public QObject {
public:
    Probe(int controlFd, std::int64_t startNs, std::int64_t mainNs)
        : channel_(controlFd), startNs_(startNs), mainNs_(mainNs) {
        notifier_ = new QSocketNotifier(controlFd, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { OnControl(); });
    }

    void ApplicationReady() { applicationNs_ = MonotonicNs(); }

    // Runs once the event loop has started, so the windows exist.
    void WindowsExist() {
        connect(Form1->Timer1, &QTimer::timeout, this,
                [this] { timerFirings_.push_back(MonotonicNs()); });
    }

    // The first paint of the main window ends the start-up; the figure is taken when control is
    // back in the event loop, after the window's contents have gone to the screen.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!paintSeen_ && event->type() == QEvent::Paint && Form1 != nullptr &&
            watched == static_cast<QObject*>(Form1)) {
            paintSeen_ = true;
            paintNs_ = MonotonicNs();
            QMetaObject::invokeMethod(
                this,
                [this] {
                    const std::int64_t paintedNs = MonotonicNs();
                    qApp->removeEventFilter(this);
                    Send("painted main_ms=" + Figure(Ms(mainNs_ - startNs_)) +
                         " app_ms=" + Figure(Ms(applicationNs_ - startNs_)) +
                         " paint_ms=" + Figure(Ms(paintNs_ - startNs_)) +
                         " painted_ms=" + Figure(Ms(paintedNs - startNs_)));
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    static std::string Figure(double value) {
        char text[64];
        std::snprintf(text, sizeof text, "%.3f", value);
        return text;
    }
    static std::string Figure(long long value) { return std::to_string(value); }

    void Send(const std::string& line) { channel_.Send(line); }

    void OnControl() {
        for (const std::string& command : channel_.ReadAvailable())
            Handle(command);
        if (channel_.closed()) {
            // The driver has gone: nobody is left to ask the program to close.
            notifier_->setEnabled(false);
            QCoreApplication::exit(1);
        }
    }

    void Handle(const std::string& command) {
        if (command == "open") {
            // Picking "Com1" from the list, as the operator does: the window in front, the
            // caret left in the port box.
            Form1->activateWindow();
            Form1->ComboBox1->setFocus();
            Form1->ComboBox1->setCurrentIndex(Form1->ComboBox1->findText(QStringLiteral("Com1")));
            Form1->ComboBox1Change();
            Send("opened ok=" + Figure(static_cast<long long>(norva::ComHandle.IsOpen())));
        } else if (command == "usage") {
            SendUsage();
        } else if (command == "engine") {
            Send("engine bytes=" + Figure(static_cast<long long>(Form1->Engine().bytesHandled())) +
                 " blocks=" + Figure(static_cast<long long>(Form1->Engine().blocksHandled())));
        } else if (command == "log") {
            SendLogCounts();
        } else if (command == "timer-reset") {
            timerFrom_ = timerFirings_.empty() ? 0 : timerFirings_.size() - 1;
            Send("timer-reset");
        } else if (command == "timer") {
            SendTimerLateness();
        } else if (command == "hold-reset") {
            StartHoldWatch();
            Send("hold-reset");
        } else if (command == "hold") {
            Send("hold max_ms=" + Figure(Ms(longestHoldNs_)));
        } else if (command.rfind("fill ", 0) == 0) {
            fillLeft_ = std::atoll(command.c_str() + 5);
            fillStartNs_ = MonotonicNs();
            QMetaObject::invokeMethod(
                this, [this] { FillStep(); }, Qt::QueuedConnection);
        } else if (command == "quit") {
            // The close box's way out, once this event is over.
            QMetaObject::invokeMethod(
                this, [] { Form1->close(); }, Qt::QueuedConnection);
        } else {
            Send("unknown");
        }
    }

    void SendUsage() {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const long long cpuUs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1'000'000LL +
                                usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
        const struct mallinfo2 heap = ::mallinfo2();
        Send("usage cpu_us=" + Figure(cpuUs) +
             " rss_kb=" + Figure(static_cast<long long>(ResidentKb())) +
             " peak_kb=" + Figure(static_cast<long long>(usage.ru_maxrss)) +
             " heap_bytes=" + Figure(static_cast<long long>(heap.uordblks + heap.hblkhd)) +
             " heap_free=" + Figure(static_cast<long long>(heap.fordblks)) +
             " mapped_bytes=" + Figure(static_cast<long long>(heap.hblkhd)) + " budget_bytes=" +
             Figure(static_cast<long long>(Form1 ? Form1->EvidenceBudget().Total() : 0)) +
             " now_ms=" + Figure(Ms(MonotonicNs() - startNs_)));
    }

    // Status code lines ("Receive [0x20]" to "Receive [0x29]") against the polls sent.
    void SendLogCounts() {
        Form1->FlushLog();
        long long status = 0;
        long long polls = 0;
        const QTextDocument* document = Form1->Memo1->document();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            const QString text = block.text();
            if (text.size() == 14 && text.startsWith(QLatin1String("Receive [0x2")) &&
                text[12] >= u'0' && text[12] <= u'9' && text[13] == u']')
                ++status;
            else if (text == QLatin1String("Send      [0x0C]"))
                ++polls;
        }
        Send("log lines=" + Figure(static_cast<long long>(document->blockCount())) +
             " status=" + Figure(status) + " polls=" + Figure(polls));
    }

    // Lateness against the timer's own schedule, kept as Qt keeps it: each firing is due one
    // interval after the previous one was due, unless that was missed altogether, when the
    // next is due one interval after the late firing. A firing that is overdue now counts with
    // what it has lost so far.
    void SendTimerLateness() {
        if (timerFirings_.empty()) {
            Send("timer firings=0 max_late_ms=nan");
            return;
        }
        const std::int64_t interval = std::int64_t{Form1->Timer1->interval()} * 1'000'000;
        const auto nextDue = [interval](std::int64_t due, std::int64_t fired) {
            return due + interval < fired ? fired + interval : due + interval;
        };
        std::int64_t due = timerFirings_[timerFrom_];
        std::int64_t worst = 0;
        for (std::size_t i = timerFrom_ + 1; i < timerFirings_.size(); ++i) {
            due = nextDue(due, timerFirings_[i - 1]);
            worst = std::max(worst, timerFirings_[i] - due);
        }
        worst = std::max(worst, MonotonicNs() - nextDue(due, timerFirings_.back()));
        Send("timer firings=" +
             Figure(static_cast<long long>(timerFirings_.size() - timerFrom_ - 1)) +
             " max_late_ms=" + Figure(Ms(worst)));
    }

    // A fine-grained timer on the window's thread: any firing later than its interval shows
    // for how long something held the thread away from its event loop.
    void StartHoldWatch() {
        static constexpr int kTickMs = 10;
        longestHoldNs_ = 0;
        lastTickNs_ = MonotonicNs();
        if (holdWatch_ == nullptr) {
            holdWatch_ = new QTimer(this);
            holdWatch_->setTimerType(Qt::PreciseTimer);
            holdWatch_->setInterval(kTickMs);
            connect(holdWatch_, &QTimer::timeout, this, [this] {
                const std::int64_t now = MonotonicNs();
                longestHoldNs_ = std::max(longestHoldNs_, now - lastTickNs_ - kTickMs * 1'000'000);
                lastTickNs_ = now;
            });
        }
        holdWatch_->start();
    }

    // Lines go in as the engine adds them under traffic: one block's worth, then the event
    // loop runs (and paints) before the next, as it does between two received blocks.
    void FillStep() {
        static constexpr long long kLinesPerBlock = 4999;
        const long long n = std::min(fillLeft_, kLinesPerBlock);
        char line[] = "Receive [0x20]";
        for (long long i = 0; i < n; ++i) {
            line[12] = static_cast<char>('0' + (fillDone_ + i) % 10);
            Form1->AppendLogLine(line);
        }
        Form1->FlushLog();
        fillDone_ += n;
        fillLeft_ -= n;
        if (fillLeft_ > 0) {
            QMetaObject::invokeMethod(
                this, [this] { FillStep(); }, Qt::QueuedConnection);
            return;
        }
        Send("filled lines=" + Figure(fillDone_) +
             " ms=" + Figure(Ms(MonotonicNs() - fillStartNs_)));
    }

    LineChannel channel_;
    QSocketNotifier* notifier_;
    std::int64_t startNs_;
    std::int64_t mainNs_;
    std::int64_t applicationNs_ = 0;
    std::int64_t paintNs_ = 0;
    bool paintSeen_ = false;
    std::vector<std::int64_t> timerFirings_;
    std::size_t timerFrom_ = 0;
    QTimer* holdWatch_ = nullptr;
    std::int64_t lastTickNs_ = 0;
    std::int64_t longestHoldNs_ = 0;
    long long fillLeft_ = 0;
    long long fillDone_ = 0;
    std::int64_t fillStartNs_ = 0;
};

}  // namespace

int RunMeasuredProgram(char* programName) {
    const std::int64_t mainNs = MonotonicNs();
    const char* fd = std::getenv(kControlFdVariable);
    const char* start = std::getenv(kStartNsVariable);
    if (fd == nullptr || start == nullptr) {
        std::fprintf(stderr, "%s is started by the benchmark driver only\n", programName);
        return 2;
    }
    // The binary is started without arguments.
    int argc = 1;
    char* argv[] = {programName, nullptr};
    QApplication application(argc, argv);
    Probe probe(std::atoi(fd), std::atoll(start), mainNs);
    probe.ApplicationReady();
    application.installEventFilter(&probe);
    QMetaObject::invokeMethod(
        &probe, [&probe] { probe.WindowsExist(); }, Qt::QueuedConnection);
    const int status = norva::RunNorvaProtocol(application);
    application.removeEventFilter(&probe);
    return status;
}

}  // namespace norva::bench
