#include <QTest>

#include "protocol/wire.h"
#include "protocol_tables.h"

using namespace norva::wire;

class WireTest : public QObject {
    Q_OBJECT

private slots:
    void sentLines() {
        QCOMPARE(SentLine(0x02), std::string_view("Send      [0x02]"));
        QCOMPARE(SentLine(0x0F), std::string_view("Send      [0x0F]"));
        QCOMPARE(SentLine(0x0C), std::string_view("Send      [0x0C]"));
        QCOMPARE(SentLine(0x30), std::string_view("Send      [0x30]"));
        QCOMPARE(SentLine(0x3E), std::string_view("Send [0x3E]"));
        QCOMPARE(SentLine(0x5E), std::string_view("Send [0x5E]"));
        int withText = 0;
        for (int b = 0; b < 256; ++b)
            withText += SentLine(std::uint8_t(b)).empty() ? 0 : 1;
        QCOMPARE(withText, 6);
    }

    void receivedLines() {
        QCOMPARE(ReceivedLine(0x3E), std::string("Receive [0x3E]"));
        QCOMPARE(ReceivedLine(0xA1), std::string("Receive [0xA1]"));
        QCOMPARE(ReceivedLine(0x20), std::string("Receive [0x20]"));
        QCOMPARE(ReceivedLine(0x00), std::string("Receive [0x00]"));
        QCOMPARE(ReceivedLine(0xFF), std::string("Receive [0xFF]"));
        QCOMPARE(EscrowLine(0x40), std::string("Receive [0x81][0x8F][0x40]"));
        QCOMPARE(EscrowLine(0x4A), std::string("Receive [0x81][0x8F][0x4A]"));
        QCOMPARE(EscrowLine(0x0f), std::string("Receive [0x81][0x8F][0x0F]"));
        for (int b = 0; b < 256; ++b) {
            const std::string line = ReceivedLine(std::uint8_t(b));
            QCOMPARE(line, QString::asprintf("Receive [0x%02X]", b).toStdString());
        }
    }

    // Every byte value, against the table written out by hand.
    void everyByteClassified() {
        using protocol_tables::Reaction;
        for (int b = 0; b < 256; ++b) {
            ByteKind expected = ByteKind::Ignored;
            switch (protocol_tables::ReactionTo(std::uint8_t(b))) {
                case Reaction::None:
                    break;
                case Reaction::Stacked:
                    expected = ByteKind::Stacked;
                    break;
                case Reaction::Returned:
                    expected = ByteKind::Returned;
                    break;
                case Reaction::LoggedOnly:
                    expected = ByteKind::LoggedOnly;
                    break;
                case Reaction::Status:
                    expected = ByteKind::Status;
                    break;
                case Reaction::PowerUpLead:
                    expected = ByteKind::PowerUpLead;
                    break;
                case Reaction::EscrowLead:
                    expected = ByteKind::EscrowLead;
                    break;
                case Reaction::AckRequest:
                    expected = ByteKind::AckRequest;
                    break;
            }
            QVERIFY2(Classify(std::uint8_t(b)) == expected, qPrintable(QString::number(b, 16)));
            QCOMPARE(IsStatusCode(std::uint8_t(b)), expected == ByteKind::Status);
        }
        QCOMPARE(ChannelOf(0x40), 1);
        QCOMPARE(ChannelOf(0x4F), 16);
        QCOMPARE(ChannelOf(0x0F), 16);
        QCOMPARE(ChannelOf(0xF3), 4);
    }
};

QTEST_APPLESS_MAIN(WireTest)
#include "tst_wire.moc"
