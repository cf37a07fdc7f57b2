#pragma once

// norva-cli and the simulator as a user runs them, each in a process of its own that is killed
// and reaped when the test lets go of it, whatever an assertion did.
#include <signal.h>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

namespace {

constexpr int kPatienceMs = 30000;

class Program {
public:
    Program(const QString& binary, const QStringList& args) {
        process_.start(binary, args);
        process_.waitForStarted(kPatienceMs);
    }
    ~Program() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kPatienceMs);
        }
    }
    // The pseudo-terminal the simulator made, from its first line.
    QString PtyPath() {
        if (!process_.canReadLine()) process_.waitForReadyRead(kPatienceMs);
        return QString::fromUtf8(process_.readLine()).trimmed().section(' ', 1);
    }
    bool WaitErr(const QString& text) {
        for (QElapsedTimer t; !t.isValid() || t.elapsed() < kPatienceMs;) {
            if (!t.isValid()) t.start();
            err_ += process_.readAllStandardError();
            if (err().contains(text)) return true;
            process_.waitForReadyRead(100);
        }
        return false;
    }
    // Reads standard output until `done` holds for all of it so far.
    template <typename Done>
    bool WaitOut(Done done) {
        for (QElapsedTimer t; !t.isValid() || t.elapsed() < kPatienceMs;) {
            if (!t.isValid()) t.start();
            out_ += process_.readAllStandardOutput();
            if (done(out())) return true;
            process_.waitForReadyRead(100);
        }
        return false;
    }
    void Interrupt() { ::kill(pid(), SIGINT); }
    pid_t pid() const { return static_cast<pid_t>(process_.processId()); }
    // Exit status of a normal exit, or -1.
    int Finished(int ms = kPatienceMs) {
        if (!process_.waitForFinished(ms)) return -1;
        out_ += process_.readAllStandardOutput();
        err_ += process_.readAllStandardError();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QString out() const { return QString::fromUtf8(out_); }
    QString err() const { return QString::fromUtf8(err_); }
    // From standard output, or standard error when standard output failed.
    // The summary is one line; notices may still follow it on standard error.
    QJsonObject Summary() const {
        const QByteArray& text = out_.contains("\n{") ? out_ : err_;
        const qsizetype start = text.lastIndexOf("\n{") + 1;
        const qsizetype end = text.indexOf('\n', start);
        return QJsonDocument::fromJson(text.mid(start, end < 0 ? -1 : end - start)).object();
    }

private:
    QProcess process_;
    QByteArray out_, err_;
};

inline Program Cli(const QStringList& args) {
    return Program(QStringLiteral(NORVA_CLI), args);
}
inline Program Sim(const QStringList& args) {
    return Program(QStringLiteral(NORVA_ACCEPTOR_SIM), args);
}
// norva-cli with its standard streams as the shell script before "exec" leaves them.
inline Program ShellCli(const QString& script, const QStringList& args) {
    return Program("/bin/sh", QStringList{"-c", script + " exec \"$0\" \"$@\"", NORVA_CLI} + args);
}

}  // namespace
