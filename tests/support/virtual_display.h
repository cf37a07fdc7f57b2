#pragma once

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QStandardPaths>
#include <QString>

#include <memory>
#include <string>

#include "child_process.h"

// A private X server (Xvfb) on the first free display number, for running the real program in
// a real window. The server reports its display number itself once it accepts clients, so no
// number is guessed and nothing waits on a clock.
class VirtualDisplay {
public:
    VirtualDisplay() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) return;
        const std::string program = xvfb.toStdString();
        server_ = std::make_unique<ChildProcess>([&program](int report) {
            const int devNull = ::open("/dev/null", O_RDWR);
            ::dup2(devNull, STDIN_FILENO);
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
            const std::string fd = std::to_string(report);
            ::execl(program.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0",
                    "1024x768x24", "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        });
        std::string number = server_->Report(20000, '\n');
        if (!number.empty() && number.back() == '\n') number.pop_back();
        if (!number.empty()) name_ = QStringLiteral(":") + QString::fromStdString(number);
    }

    // The server is asked to end, so it removes its socket and lock file.
    ~VirtualDisplay() {
        if (server_) server_->Kill(SIGTERM);
    }

    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    static bool Available() {
        return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty();
    }
    bool ok() const { return !name_.isEmpty(); }
    // ":N", for DISPLAY.
    const QString& name() const { return name_; }

private:
    std::unique_ptr<ChildProcess> server_;
    QString name_;
};
