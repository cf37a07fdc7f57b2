#include <fcntl.h>
#include <sys/stat.h>

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstring>
#include <fstream>
#include <tuple>

#include "base/unique_fd.h"
#include "child_process.h"
#include "pty_pair.h"
#include "scoped_env.h"
#include "serial/com_port.h"
#include "serial/port_exclusion.h"
#include "serial/port_name.h"
#include "temp_cwd.h"

using namespace norva;

namespace {

// The special files every reader meets, made at path: a FIFO held open by a writer (a read would
// wait for ever), a link to /dev/zero (a read would never end), a folder, a huge file.
const char* const kSpecialKinds[] = {"a FIFO", "a symbolic link", "a folder", "huge"};
UniqueFd MakeSpecial(const std::string& kind, const std::string& path) {
    if (kind == "a FIFO") ::mkfifo(path.c_str(), 0644);
    if (kind == "a FIFO") return UniqueFd(::open(path.c_str(), O_RDWR | O_NONBLOCK));
    if (kind == "a symbolic link") (void)!::symlink("/dev/zero", path.c_str());
    if (kind == "a folder") ::mkdir(path.c_str(), 0755);
    if (kind == "huge") (void)!::truncate((std::ofstream(path), path.c_str()), 1L << 30);
    return {};
}
void RemoveAny(const std::string& path) {
    if (::unlink(path.c_str()) != 0) ::rmdir(path.c_str());
}

}  // namespace

class PortGuardsTest : public QObject {
    Q_OBJECT

private slots:
    // A lock name that holds no lock file neither hangs nor refuses the open and is left alone;
    // a huge file is no lock either and is taken over.
    void lockFilesThatAreNoLocks() {
        PtyPair pty;
        QVERIFY(pty.ok());
        QTemporaryDir locks;
        const std::vector<std::string> folders = UucpLockFolders();
        const auto restore = qScopeGuard([&] { UucpLockFolders() = folders; });
        UucpLockFolders() = {locks.path().toStdString()};
        const std::string lock = locks.path().toStdString() + "/" + LockFileName(pty.slavePath());
        for (const std::string kind : kSpecialKinds) {
            const UniqueFd writer = MakeSpecial(kind, lock);
            PortHandle port;
            const auto start = std::chrono::steady_clock::now();
            const Result<OpenedPort> opened = OpenDevice(&port, pty.slavePath(), "9600,E,8,1");
            QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(2));
            QVERIFY2(opened.ok(), opened.text().c_str());
            QCOMPARE(::access(lock.c_str(), F_OK), 0);  // left in place, or ours now
            if (kind == "huge")  // no lock either, but a file of the kind a lock is: taken over
                QCOMPARE(ReadFileBytes(lock),
                         QString::asprintf("%10d\n", ::getpid()).toStdString());
            else
                QCOMPARE(opened->warning,
                         lock + ": " + kind + ", not a lock file; ignored and left in place");
            CloseComPort(&port);
            RemoveAny(lock);
        }

        // Under the link's name too, unless that is another device's own ("null"); a live lock
        // there whose process does not hold this device (another link of that name) is let be.
        const std::string dir = locks.path().toStdString() + "/";
        for (const char* name : {"acceptor", "null"})
            QCOMPARE(::symlink(pty.slavePath().c_str(), (dir + name).c_str()), 0);
        PortHandle port;
        QVERIFY(OpenDevice(&port, dir + "acceptor", "9600,E,8,1").ok());
        QCOMPARE(std::stoi(ReadFileBytes(dir + "LCK..acceptor")), int(::getpid()));
        QCOMPARE(std::stoi(ReadFileBytes(lock)), int(::getpid()));
        CloseComPort(&port);
        QVERIFY(!QFile::exists(QString::fromStdString(dir + "LCK..acceptor")));
        std::ofstream(dir + "LCK..acceptor") << "         1\n";
        QVERIFY(OpenDevice(&port, dir + "acceptor", "9600,E,8,1").ok());
        CloseComPort(&port);
        QVERIFY(OpenDevice(&port, dir + "null", "9600,E,8,1").ok());
        QVERIFY(!QFile::exists(QString::fromStdString(dir + "LCK..null")));
        QCOMPARE(ReadFileBytes(dir + "LCK..acceptor"), std::string("         1\n"));
    }

    // ports.conf that cannot be read whole: the port falls back with a reason naming the file,
    // at once, and giving a device to a port leaves the file as it is.
    void portsConfThatCannotBeRead() {
        QTemporaryDir config;
        ::chmod(config.path().toUtf8().constData(), 0755);
        const ScopedEnv home("XDG_CONFIG_HOME", config.path().toStdString());
        const ScopedEnv com1("NORVA_COM1", std::nullopt);
        const std::string file = PortsConfPath();
        QVERIFY(QDir().mkpath(config.path() + "/norva-protocol"));
        // What the port opens and says, and what giving it a device does to the file.
        const auto seen = [&]() {
            const Result<PortDevice> device = DeviceForPort("COM1");
            struct stat before {
            }, after{};
            (void)::lstat(file.c_str(), &before);
            const Outcome given = AssignPortInPortsConf(1, "/dev/ttyUSB0");
            (void)::lstat(file.c_str(), &after);
            const bool kept = after.st_mode == before.st_mode && after.st_size == before.st_size;
            return device->path + " | " + device->warning + " | " + given.Describe() +
                   (kept ? " | kept" : " | changed");
        };
        const auto expected = [&](const std::string& why) {
            return "/dev/ttyS0 | " + file + " ignored (" + why + "); COM1 opens /dev/ttyS0 | " +
                   "Cannot open file " + file + ": " + why + "; left as it is | kept";
        };
        for (const std::string kind : kSpecialKinds) {
            const UniqueFd writer = MakeSpecial(kind, file);
            QCOMPARE(seen(), expected(kind == "a symbolic link" ? "a character device"
                                      : kind == "huge"          ? "larger than 1048576 bytes"
                                                                : kind));
            RemoveAny(file);
        }
        if (::geteuid() != 0) return;
        std::ofstream(file) << "COM1=/dev/ttyUSB0\n";
        ::chmod(file.c_str(), 0);
        QCOMPARE(RunInChild(seen, true), expected(std::strerror(EACCES)));
    }

    // The whole file counts: a mapping across the first 64 KiB and the lines after it; lines
    // that were ignored are named for the port that falls back; a rewrite keeps every other
    // line as it was.
    void portsConfReadWhole() {
        QTemporaryDir config;
        const ScopedEnv home("XDG_CONFIG_HOME", config.path().toStdString());
        const ScopedEnv com1("NORVA_COM1", std::nullopt), com2("NORVA_COM2", std::nullopt);
        const std::string file = PortsConfPath();
        const std::string across = "/dev/serial/by-id/usb-across-the-64-KiB-point";
        const std::string head = "#" + std::string(65530, '-') + "\nCOM1=" + across + "\n";
        const std::string tail =
            "COM2=dev/ttyUSB2\nCOM0=/dev/x\nCOM257=/dev/x\njunk\nCOM3=/dev/ttyUSB3\n";
        QVERIFY(AssignPortInPortsConf(9, "/dev/ttyS8").ok());  // makes the folder
        std::ofstream(file) << head << tail << std::string(8000, '#') << "\n";
        QCOMPARE(DeviceForPort("COM1")->path, across);
        QCOMPARE(DeviceForPort("COM3")->path, std::string("/dev/ttyUSB3"));
        const Result<PortDevice> com2Device = DeviceForPort("COM2");
        QCOMPARE(com2Device->path, std::string("/dev/ttyS1"));
        QCOMPARE(com2Device->warning, file + ":3 ignored (a relative path), " + file +
                                          ":4 ignored (no port COM1 to COM256), " + file +
                                          ":5 ignored (no port COM1 to COM256) and 1 more; "
                                          "COM2 opens /dev/ttyS1");
        QVERIFY(AssignPortInPortsConf(3, "/dev/ttyACM0").ok());
        QCOMPARE(ReadFileBytes(file), head +
                                          "COM2=dev/ttyUSB2\nCOM0=/dev/x\nCOM257=/dev/x\njunk\n" +
                                          std::string(8000, '#') + "\nCOM3=/dev/ttyACM0\n");
    }

    // Joining the device's group is advice only where that group may open it; a folder on the
    // way that the user may not enter is named instead.
    void permissionAdvice() {
        if (::geteuid() != 0) QSKIP("needs an unprivileged user made here");
        PtyPair pty;
        QVERIFY(pty.ok());
        const std::string path = pty.slavePath();
        QTemporaryDir closed;  // root's, 0700
        const std::string inside = closed.path().toStdString() + "/acceptor";
        QCOMPARE(::symlink(path.c_str(), inside.c_str()), 0);
        const std::string ask = "; ask for read and write access to the device";
        using Row = std::tuple<std::string, gid_t, mode_t, std::string>;  // advice after
        for (const auto& [name, group, mode, advice] :  // "PATH: permission denied"
             {Row{path, 0, 0600, " (owner root, group root, mode 0600)" + ask},
              Row{path, 0, 0660, " (owner root, group root, mode 0660)" + ask},
              Row{path, 20, 0640, " (owner root, group dialout, mode 0640)" + ask},
              Row{path, 20, 0660,
                  " (group dialout); join the group (sudo usermod -aG dialout $USER), then log out "
                  "and in"},
              Row{inside, 20, 0660,
                  "; this user may not enter the folder " + closed.path().toStdString()}}) {
            QVERIFY(::chown(path.c_str(), 0, group) == 0 && ::chmod(path.c_str(), mode) == 0);
            PortHandle port;
            const std::string said =
                RunInChild([&] { return OpenDevice(&port, name, "9600,E,8,1").text(); }, true);
            QCOMPARE(QString::fromStdString(said),
                     QString::fromStdString(name + ": permission denied" + advice));
        }
    }
};

QTEST_GUILESS_MAIN(PortGuardsTest)
#include "tst_port_guards.moc"
