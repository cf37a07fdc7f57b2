#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include "link/acceptor_link.h"
#include "pty_pair.h"
#include "recording_window.h"
#include "serial/port_exclusion.h"
#include "temp_cwd.h"

// While the link holds the device, another process opens it (root is not kept out): the link
// says so at once, naming the program and its pid, each opener once, by whichever name it used.
// A process that holds another devpts instance's /dev/pts/N (a container's shell, whose terminal
// holds the master), which reads as the same name from here, is no holder at all.
class RivalNoticeTest : public QObject {
    Q_OBJECT

private slots:
    void lateRivalNoticed() {
        if (::geteuid() != 0) QSKIP("only root gets past the exclusive-mode flag");
        TempCwd cwd;
        const std::vector<std::string> folders = norva::UucpLockFolders();
        const auto restore = qScopeGuard([&] { norva::UucpLockFolders() = folders; });
        norva::UucpLockFolders() = {cwd.path().toStdString()};
        PtyPair pty;
        QVERIFY(pty.ok());
        const std::string link = cwd.path().toStdString() + "/acceptor";
        QCOMPARE(::symlink(pty.slavePath().c_str(), link.c_str()), 0);
        std::vector<pid_t> children;
        const auto reap = qScopeGuard([&] {
            for (const pid_t child : children) {
                ::kill(child, SIGKILL);
                ::waitpid(child, nullptr, 0);
            }
        });
        const auto fork = [&] {
            children.push_back(::fork());
            if (children.back() != 0) return false;
            pty.CloseMaster();  // a holder of the master would be the device side
            pty.CloseSlave();
            return true;
        };
        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        if (fork()) {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("devpts", "/dev/pts", "devpts", 0, "newinstance,ptmxmode=0666") != 0)
                ::_exit(1);
            std::vector<PtyPair> ptys(std::stoul(pty.slavePath().substr(9)) + 1);
            const bool shell = ::fork() == 0;
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (PtyPair& p : ptys)
                shell ? p.CloseMaster() : p.CloseSlave();
            if (shell)
                (void)!::write(ready[1], ptys.back().slavePath() == pty.slavePath() ? "r" : "n", 1);
            ::pause();
        }
        ::close(ready[1]);
        char container = 0;
        QVERIFY(::read(ready[0], &container, 1) != 1 || container == 'r');  // or no namespace
        RecordingWindow window;
        norva::AcceptorLink acceptor(window);
        QSignalSpy noticed(&acceptor, &norva::AcceptorLink::RivalOpened);
        QCOMPARE(acceptor.OpenDirect("", link).kind, norva::SelectionOutcome::Kind::Opened);
        for (const std::string& name : {pty.slavePath(), link}) {
            if (fork()) {
                ::prctl(PR_SET_NAME, "rival");
                (void)::open(name.c_str(), O_RDWR | O_NOCTTY);
                ::pause();
            }
            QTRY_COMPARE(noticed.count(), name == link ? 2 : 1);
            QCOMPARE(noticed.last().at(0).toString().toStdString(),
                     link + ": also opened by rival (pid " + std::to_string(children.back()) +
                         "); bytes may go to it");
        }
        acceptor.Close();
    }
};

QTEST_GUILESS_MAIN(RivalNoticeTest)
#include "tst_rival_notice.moc"
