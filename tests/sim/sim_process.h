#pragma once

// The real simulator in a process of its own, killed and reaped when the test lets go of it
// whatever an assertion did.
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <climits>

#include "host_end.h"

class Sim {
public:
    // Standard input and output from and to files when they are named, else pipes to the test.
    explicit Sim(const QStringList& args, const QString& input = {}, const QString& output = {}) {
        if (!input.isEmpty()) process_.setStandardInputFile(input);
        if (!output.isEmpty()) process_.setStandardOutputFile(output);
        process_.start(QStringLiteral(NORVA_ACCEPTOR_SIM), args);
        process_.waitForStarted(kPatienceMs);
    }
    ~Sim() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kPatienceMs);
        }
    }

    void Type(const QByteArray& line) { process_.write(line + "\n"); }
    void EndInput() { process_.closeWriteChannel(); }
    void Terminate() { process_.terminate(); }
    void Signal(int signal) { ::kill(pid_t(process_.processId()), signal); }

    // The next whole line of standard output, or nothing after the patience ran out.
    QString NextLine() {
        Until([&] { return process_.canReadLine(); });
        return process_.canReadLine() ? QString::fromUtf8(process_.readLine()).chopped(1)
                                      : QString();
    }
    // Standard output lines up to and including the first that contains text.
    bool WaitOut(const QString& text) {
        for (QString line = NextLine(); !line.isNull(); line = NextLine()) {
            out_ << line;
            if (line.contains(text)) return true;
        }
        return false;
    }
    bool WaitErr(const QString& text) {
        return Until([&] { return err().contains(text); });
    }

    // Exit status of a normal exit, the signal that ended it negated, or INT_MIN while it runs.
    int Finished() {
        if (!process_.waitForFinished(kPatienceMs)) return INT_MIN;
        const int code = process_.exitCode();  // the signal's number after a crash
        return process_.exitStatus() == QProcess::NormalExit ? code : -code;
    }
    QString err() {
        err_ += QString::fromUtf8(process_.readAllStandardError());
        return err_;
    }
    // Lets a busy device's standard output go, so that it never waits for the test.
    void Drain() {
        while (process_.waitForReadyRead(0)) {
        }
        process_.readAllStandardOutput();
        err();
    }
    QString RestOfOut() { return QString::fromUtf8(process_.readAllStandardOutput()); }
    const QStringList& out() const { return out_; }

private:
    template <typename Predicate>
    bool Until(Predicate done) {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > kPatienceMs) return false;
            if (!process_.waitForReadyRead(50) && process_.state() == QProcess::NotRunning) {
                return done();
            }
        }
        return true;
    }

    QProcess process_;
    QString err_;
    QStringList out_;
};
