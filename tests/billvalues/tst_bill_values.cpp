#include <QTest>

#include "billvalues/bill_values.h"
#include "temp_cwd.h"

using namespace norva;

class BillValuesTest : public QObject {
    Q_OBJECT

private slots:
    void conversion_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("leading blanks") << QByteArray(" 100") << true << 100;
        QTest::newRow("trailing blank") << QByteArray("100 ") << false << 0;
        QTest::newRow("$FFFFFFFF") << QByteArray("$FFFFFFFF") << true << -1;
        QTest::newRow("0x7FFFFFFF") << QByteArray("0x7FFFFFFF") << true << 2147483647;
        QTest::newRow("0X80000000") << QByteArray("0X80000000") << true << int(INT32_MIN);
        QTest::newRow("max") << QByteArray("2147483647") << true << 2147483647;
        QTest::newRow("min") << QByteArray("-2147483648") << true << int(INT32_MIN);
        QTest::newRow("max + 1") << QByteArray("2147483648") << false << 0;
        QTest::newRow("min - 1") << QByteArray("-2147483649") << false << 0;
        QTest::newRow("huge") << QByteArray("99999999999999999999") << false << 0;
        QTest::newRow("leading zeros") << QByteArray("000000000000042") << true << 42;
        QTest::newRow("plus") << QByteArray("+7") << true << 7;
        QTest::newRow("blank then sign") << QByteArray("  -7") << true << -7;
        QTest::newRow("sign alone +") << QByteArray("+") << false << 0;
        QTest::newRow("sign alone -") << QByteArray("-") << false << 0;
        QTest::newRow("empty") << QByteArray("") << false << 0;
        QTest::newRow("blanks only") << QByteArray("   ") << false << 0;
        QTest::newRow("0x alone") << QByteArray("0x") << false << 0;
        QTest::newRow("$ alone") << QByteArray("$") << false << 0;
        QTest::newRow("signed hex") << QByteArray("-$10") << false << 0;
        QTest::newRow("+0x10") << QByteArray("+0x10") << false << 0;
        QTest::newRow("x1F") << QByteArray("x1F") << true << 31;
        QTest::newRow("X1f") << QByteArray("X1f") << true << 31;
        QTest::newRow("nine hex digits") << QByteArray("$000000001") << false << 0;
        QTest::newRow("bad hex digit") << QByteArray("$1G") << false << 0;
        QTest::newRow("zero") << QByteArray("0") << true << 0;
        QTest::newRow("letters") << QByteArray("abc") << false << 0;
        QTest::newRow("tab is not a blank") << QByteArray("\t5") << false << 0;
        QTest::newRow("byte-order mark") << QByteArray(
                                                "\xEF\xBB\xBF"
                                                "5")
                                         << false << 0;
        QTest::newRow("inner blank") << QByteArray("1 0") << false << 0;
    }

    void conversion() {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        const auto result = ChannelValue(text.toStdString());
        QCOMPARE(result.has_value(), valid);
        if (valid) QCOMPARE(*result, value);
    }

    void failureText() {
        QCOMPARE(NotAValidIntegerText("100 "), std::string("'100 ' is not a valid integer value"));
        QCOMPARE(NotAValidIntegerText(""), std::string("'' is not a valid integer value"));
    }

    // Default values written give 55 bytes; a file read back applies only what it has.
    void fileRoundTrip() {
        TempCwd cwd;
        QCOMPARE(ReadBillValueFile().text(), std::string("Cannot open file BILLVALUE.TXT"));
        QVERIFY(WriteBillValueFile(DefaultBillValues()).ok());
        const std::string bytes = ReadFileBytes("BILLVALUE.TXT");
        QCOMPARE(bytes.size(), std::size_t{55});
        QCOMPARE(bytes.substr(0, 9), std::string("1\r\n2\r\n3\r\n"));
        QVERIFY(bytes.ends_with("15\r\n16\r\n"));

        WriteFileBytes("BILLVALUE.TXT", "5\r\n10\r\n20");
        const auto read = ReadBillValueFile();
        QVERIFY(read.ok());
        BillValueEntries entries;
        entries.fill("0");
        int calls = 0;
        ApplyBillValueLines(read.value(), [&](int channel, const std::string& text) {
            entries[channel - 1] = text;
            ++calls;
        });
        QCOMPARE(calls, 3);
        QCOMPARE(entries[0], std::string("5"));
        QCOMPARE(entries[2], std::string("20"));
        QCOMPARE(entries[3], std::string("0"));

        // A file of twenty lines: the entries come from the first sixteen, and writing them
        // back gives exactly sixteen lines.
        std::string twenty;
        for (int i = 1; i <= 20; ++i)
            twenty += "v" + std::to_string(i) + "\n";
        WriteFileBytes("BILLVALUE.TXT", twenty);
        const auto many = ReadBillValueFile();
        QCOMPARE(many.value().size(), std::size_t{16});
        ApplyBillValueLines(many.value(), [&](int channel, const std::string& text) {
            entries[channel - 1] = text;
        });
        QVERIFY(WriteBillValueFile(entries).ok());
        std::string expected;
        for (int i = 1; i <= 16; ++i)
            expected += "v" + std::to_string(i) + "\r\n";
        QCOMPARE(ReadFileBytes("BILLVALUE.TXT"), expected);
    }
};

QTEST_GUILESS_MAIN(BillValuesTest)
#include "tst_bill_values.moc"
