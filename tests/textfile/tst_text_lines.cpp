#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QTest>

#include "child_process.h"
#include "temp_cwd.h"
#include "textfile/printable.h"
#include "textfile/text_lines.h"

using norva::ReadTextLines;
using norva::SplitTextLines;
using norva::WriteTextLines;
using Lines = std::vector<std::string>;

Q_DECLARE_METATYPE(Lines)

class TextLinesTest : public QObject {
    Q_OBJECT

private slots:
    void lineRules_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Lines>("expected");
        QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << Lines{"a", "b"};
        QTest::newRow("mixed line ends") << QByteArray("a\nb\rc\r\nd") << Lines{"a", "b", "c", "d"};
        QTest::newRow("lf cr is two ends") << QByteArray("a\n\rb") << Lines{"a", "", "b"};
        QTest::newRow("two ends in a row") << QByteArray("a\r\n\r\nb\r\n") << Lines{"a", "", "b"};
        QTest::newRow("no final line end") << QByteArray("5\r\n10\r\n20") << Lines{"5", "10", "20"};
        QTest::newRow("final end adds none") << QByteArray("x\n") << Lines{"x"};
        QTest::newRow("empty file") << QByteArray() << Lines{};
        QTest::newRow("only a line end") << QByteArray("\r\n") << Lines{""};
        QTest::newRow("zero byte in line 3")
            << QByteArray("1\r\n2\r\n3a\0b\r\n4\r\n", 14) << Lines{"1", "2", "3a"};
        QTest::newRow("zero byte at line start") << QByteArray(
                                                        "1\r\n\0"
                                                        "2\r\n",
                                                        6)
                                                 << Lines{"1"};
        QTest::newRow("zero after cr") << QByteArray("1\r\0\n2", 5) << Lines{"1"};
        QTest::newRow("empty fifth line")
            << QByteArray("1\r\n2\r\n3\r\n4\r\n\r\n6\r\n") << Lines{"1", "2", "3", "4", "", "6"};
        QTest::newRow("byte-order mark stays in line 1") << QByteArray(
                                                                "\xEF\xBB\xBF"
                                                                "10\r\n20\r\n")
                                                         << Lines{
                                                                "\xEF\xBB\xBF"
                                                                "10",
                                                                "20"};
        QTest::newRow("blanks kept") << QByteArray(" 100\r\n100 \r\n") << Lines{" 100", "100 "};
        QByteArray twenty;
        Lines sixteen;
        for (int i = 1; i <= 20; ++i) {
            twenty += QByteArray::number(i) + "\r\n";
            if (i <= 16) sixteen.push_back(std::to_string(i));
        }
        QTest::newRow("twenty lines give sixteen") << twenty << sixteen;
    }

    // The same rules hold for text in memory and for a real file read in chunks.
    void lineRules() {
        QFETCH(QByteArray, bytes);
        QFETCH(Lines, expected);
        QCOMPARE(SplitTextLines(std::string_view(bytes.constData(), bytes.size()), 16), expected);
        TempCwd cwd;
        WriteFileBytes("FILE.TXT", bytes.toStdString());
        const auto read = ReadTextLines("FILE.TXT", 16);
        QVERIFY(read.ok());
        QCOMPARE(read.value(), expected);
    }

    // A CR LF split over two read chunks is still one line end.
    void crLfAcrossChunkBoundary() {
        TempCwd cwd;
        std::string bytes(64 * 1024 - 1, 'x');
        bytes += "\r\nsecond\r\n";
        WriteFileBytes("BIG.TXT", bytes);
        const auto read = ReadTextLines("BIG.TXT", 16);
        QCOMPARE(read.value().size(), std::size_t{2});
        QCOMPARE(read.value()[1], std::string("second"));
    }

    // Reading stops after the lines it wants: a huge file is not drained.
    void readingStopsAfterWantedLines() {
        TempCwd cwd;
        std::string many;
        for (int i = 0; i < 200000; ++i)
            many += "7\r\n";
        WriteFileBytes("MANY.TXT", many);
        const auto read = ReadTextLines("MANY.TXT", 16);
        QVERIFY(read.ok());
        QCOMPARE(read.value(), Lines(16, "7"));
    }

    void overlongLineIsCapped() {
        TempCwd cwd;
        WriteFileBytes("LONG.TXT", std::string(norva::kMaxLineBytes + 1000, 'y') + "\nz");
        const auto read = ReadTextLines("LONG.TXT", 16);
        QCOMPARE(read.value().size(), std::size_t{2});
        QCOMPARE(read.value()[0].size(), norva::kMaxLineBytes);
        QCOMPARE(read.value()[1], std::string("z"));
    }

    // Whatever the name stands for, the reader returns at once with the reason: a FIFO that a
    // writer holds open without writing would otherwise hang it, and a device would be opened.
    void readFailures() {
        TempCwd cwd;
        QVERIFY(QDir().mkdir("FOLDER.TXT"));
        QCOMPARE(::mkfifo("FIFO.TXT", 0600), 0);
        const int writer = ::open("FIFO.TXT", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(writer >= 0);
        QCOMPARE(::symlink("/dev/zero", "DEVICE.TXT"), 0);
        const struct {
            const char* name;
            int osError;
            const char* reason;
        } rows[] = {
            {"MISSING.TXT", ENOENT, ""},
            {"FOLDER.TXT", 0, "a folder"},
            {"FIFO.TXT", 0, "a FIFO"},
            {"DEVICE.TXT", 0, "a character device"},
        };
        for (const auto& row : rows) {
            const auto read = ReadTextLines(row.name, 16);
            QVERIFY2(!read.ok(), row.name);
            QCOMPARE(read.text(), "Cannot open file " + std::string(row.name));
            QCOMPARE(read.osError(), row.osError);
            if (*row.reason != 0) QCOMPARE(read.reason(), std::string(row.reason));
        }
        ::close(writer);
    }

    void printableText() {
        const struct {
            std::string_view in;
            const char* out;
        } rows[] = {
            {"Com1 ok", "Com1 ok"},           {std::string_view("a\0b", 3), "a\\x00b"},
            {"\x1b[2J\x7f", "\\x1B[2J\\x7F"}, {"back\\slash\ttab", "back\\\\slash\\x09tab"},
            {"caf\xc3\xa9", "caf\xc3\xa9"},
        };
        for (const auto& row : rows)
            QCOMPARE(norva::Printable(row.in), std::string(row.out));
    }

    void writeGivesCrLfAfterEveryLine() {
        TempCwd cwd;
        QVERIFY(WriteTextLines("OUT.TXT", {"1", "", "abc"}).ok());
        QCOMPARE(ReadFileBytes("OUT.TXT"), std::string("1\r\n\r\nabc\r\n"));
        // Replacing keeps the permission bits and leaves no temporary file behind.
        QCOMPARE(::chmod("OUT.TXT", 0640), 0);
        QVERIFY(WriteTextLines("OUT.TXT", {"2"}).ok());
        QCOMPARE(ReadFileBytes("OUT.TXT"), std::string("2\r\n"));
        struct stat st {};
        QCOMPARE(::stat("OUT.TXT", &st), 0);
        QCOMPARE(st.st_mode & 07777, 0640u);
        QCOMPARE(QDir(".").entryList(QDir::Files | QDir::Hidden), QStringList{"OUT.TXT"});
    }

    void writeToFolderFails() {
        TempCwd cwd;
        QVERIFY(QDir().mkdir("OUT.TXT"));
        QCOMPARE(WriteTextLines("OUT.TXT", {"1"}).text(),
                 std::string("Cannot create file OUT.TXT"));
    }

    // Permission cases run as an unprivileged user, since root ignores permission bits.
    void permissionFailuresLeaveOldFile() {
        TempCwd cwd;
        QCOMPARE(::chmod(".", 0777), 0);
        WriteFileBytes("OLD.TXT", "old\r\n");
        QCOMPARE(::chmod("OLD.TXT", 0444), 0);
        const std::string readOnly =
            RunInChild([] { return WriteTextLines("OLD.TXT", {"new"}).text(); }, true);
        QCOMPARE(readOnly, std::string("Cannot create file OLD.TXT"));
        QCOMPARE(ReadFileBytes("OLD.TXT"), std::string("old\r\n"));

        // A folder that takes no new file: a missing file cannot be created...
        QCOMPARE(::chmod(".", 0755), 0);
        QCOMPARE(RunInChild([] { return WriteTextLines("NEW.TXT", {"x"}).text(); }, true),
                 std::string("Cannot create file NEW.TXT"));
        // ...but a writable existing file is rewritten in place.
        QCOMPARE(::chmod("OLD.TXT", 0666), 0);
        QCOMPARE(RunInChild([] { return WriteTextLines("OLD.TXT", {"new"}).text(); }, true),
                 std::string());
        QCOMPARE(ReadFileBytes("OLD.TXT"), std::string("new\r\n"));
    }

    // Read-only by its mode means refused, whoever runs the program; root included.
    void readOnlyModeIsRefusedForEveryUser_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("throughLink");
        QTest::addColumn<bool>("refused");
        QTest::newRow("0444") << 0444 << false << true;
        QTest::newRow("0400") << 0400 << false << true;
        QTest::newRow("0555") << 0555 << false << true;
        QTest::newRow("0444 behind a symbolic link") << 0444 << true << true;
        QTest::newRow("0200 is writable") << 0200 << false << false;
        QTest::newRow("0004 and 0020 is writable") << 0024 << false << false;
    }
    void readOnlyModeIsRefusedForEveryUser() {
        QFETCH(int, mode);
        QFETCH(bool, throughLink);
        QFETCH(bool, refused);
        TempCwd cwd;
        WriteFileBytes("OLD.TXT", "old\r\n");
        QCOMPARE(::chmod("OLD.TXT", static_cast<mode_t>(mode)), 0);
        const char* name = "OLD.TXT";
        if (throughLink) {
            QCOMPARE(::symlink("OLD.TXT", "LINK.TXT"), 0);
            name = "LINK.TXT";
        }
        QCOMPARE(WriteTextLines(name, {"new"}).text(),
                 refused ? std::string("Cannot create file ") + name : std::string());
        QCOMPARE(::chmod("OLD.TXT", 0600), 0);
        QCOMPARE(ReadFileBytes("OLD.TXT"), std::string(refused ? "old\r\n" : "new\r\n"));
    }

    // A disk that fills up mid-write reports the stream error and keeps the old file.
    void diskFullKeepsOldFile() {
        TempCwd cwd;
        WriteFileBytes("OLD.TXT", "old\r\n");
        const std::string result = RunInChild(
            [] {
                ::signal(SIGXFSZ, SIG_IGN);
                rlimit limit{8, 8};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                return WriteTextLines("OLD.TXT", {"0123456789", "0123456789"}).text();
            },
            false);
        QCOMPARE(result, std::string("Stream write error"));
        QCOMPARE(ReadFileBytes("OLD.TXT"), std::string("old\r\n"));
        QCOMPARE(QDir(".").entryList(QDir::Files | QDir::Hidden), QStringList{"OLD.TXT"});
    }
};

QTEST_GUILESS_MAIN(TextLinesTest)
#include "tst_text_lines.moc"
