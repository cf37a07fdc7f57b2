// The order of a tap's two inputs: where a block stands against the host's bytes, and which
// pairs are marked as of uncertain order, never swapped. Times in microseconds; the quiet gap is
// the bench's 50 ms, the bound 2 ms.
#include <QRegularExpression>
#include <QTest>

#include "link/tap_order.h"

using norva::TapOrder;
using norva::TapSide;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::int64_t kBound = 2'000;

// One item a line: "B 80 8F" a block, "H 02" a host byte, "U h 500" a pair (h: the host byte
// first) and its margin; '<' / '>' end a block whose pair partner stands before / after it,
// '!' a host byte in a pair; "gone D" / "back H" an input.
struct Trace : TapOrder::Sink {
    void OrderUncertain(const norva::UncertainOrder& p) override {
        items.push_back(QString("U %1 %2").arg(p.hostFirst ? "h" : "b").arg(p.margin));
    }
    void Block(const norva::TapBlock& b) override {
        QString text = "B";
        for (const std::uint8_t byte : b.bytes)
            text += QString::asprintf(" %02X", byte);
        items.push_back(text + (b.uncertainBefore ? "<" : "") + (b.uncertainAfter ? ">" : ""));
    }
    void HostByte(std::int64_t, std::uint8_t byte, bool uncertain) override {
        items.push_back(QString::asprintf("H %02X", byte) + (uncertain ? "!" : ""));
    }
    void LineChanged(TapSide side, bool gone, std::int64_t) override {
        items.push_back(QString(gone ? "gone " : "back ") + (side == TapSide::Host ? "H" : "D"));
    }
    QStringList items;
};

struct Input {
    TapSide side;
    std::int64_t time;
    Bytes bytes;  // empty: the input went away (gone) or came back (back)
    int change = 0;
};

constexpr TapSide D = TapSide::Device;
constexpr TapSide H = TapSide::Host;

}  // namespace

Q_DECLARE_METATYPE(std::vector<Input>)

class TapOrderTest : public QObject {
    Q_OBJECT

private slots:
    void orderAndMarks_data() {
        QTest::addColumn<std::vector<Input>>("inputs");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char* name, std::vector<Input> in, QStringList out) {
            QTest::newRow(name) << in << out;
        };
        row("the bench answers after the quiet gap", {{D, 0, {0x80, 0x8F}}, {H, 51'000, {0x02}}},
            {"B 80 8F", "H 02"});
        row("a poll in the quiet gap stands before the block",
            {{D, 0, {0x21}}, {H, 30'000, {0x0C}}}, {"H 0C", "B 21"});
        row("a poll just before the gap's end", {{D, 0, {0x21}}, {H, 49'500, {0x0C}}},
            {"U h 500", "H 0C!", "B 21<"});
        row("a poll just after the gap's end", {{D, 0, {0x21}}, {H, 50'800, {0x0C}}},
            {"U b 800", "B 21>", "H 0C!"});
        row("a fast controller's answer ends the block", {{D, 0, {0x80, 0x8F}}, {H, 5'000, {0x02}}},
            {"B 80 8F", "H 02"});
        row("an answer at the end of the message it answers",
            {{D, 0, {0x80, 0x8F}}, {H, 500, {0x02}}}, {"B 80 8F", "H 02"});
        row("an answer close after bytes that followed its message",
            {{D, 0, {0x80, 0x8F}}, {D, 4'000, {0x21}}, {H, 4'500, {0x02}}},
            {"U b 500", "B 80 8F 21>", "H 02!"});
        row("a block right after the answer that ended the one before",
            {{D, 0, {0x80, 0x8F}}, {H, 5'000, {0x02}}, {D, 5'600, {0x3E}}},
            {"B 80 8F", "U h 600", "H 02!", "B 3E<"});
        row("host bytes while a block comes stand before it",
            {{D, 0, {0x81, 0x8F}}, {H, 10'000, {0x0C}}, {D, 20'000, {0x40}}},
            {"H 0C", "B 81 8F 40"});
        row("0x0F answers an escrow message", {{D, 0, {0x81, 0x8F, 0x43}}, {H, 3'000, {0x0F}}},
            {"B 81 8F 43", "H 0F"});
        row("0x0F answers no power-up", {{D, 0, {0x80, 0x8F}}, {H, 3'000, {0x0F}}},
            {"H 0F", "B 80 8F"});
        row("read in the same pass: the acceptor's first",
            {{H, 1'000, {0x02}}, {D, 1'000, {0x80, 0x8F, 0x21}}},
            {"U b 0", "B 80 8F 21>", "H 02!"});
        row("after the answer the host's next bytes are certain",
            {{D, 0, {0x80, 0x8F}}, {H, 50'500, {0x02, 0x5E}}}, {"B 80 8F", "H 02", "H 5E"});
        row("a gap of the quiet gap ends a block", {{D, 0, {0x21}}, {D, 50'000, {0x22}}},
            {"B 21", "B 22"});
        row("a message cut by a gap still asks",
            {{D, 0, {0x81}}, {D, 60'000, {0x8F, 0x40}}, {H, 62'500, {0x02}}},
            {"B 81", "B 8F 40", "H 02"});
        row("the acceptor's line gone ends its block",
            {{D, 0, {0x81}}, {D, 10'000, {}, 1}, {D, 900'000, {}, 2}, {D, 901'000, {0x8F}}},
            {"B 81", "gone D", "back D", "B 8F"});
        row("two polls before the end: two pairs",
            {{D, 0, {0x21}}, {H, 48'500, {0x0C}}, {H, 49'900, {0x0C}}},
            {"U h 1500", "H 0C!", "U h 100", "H 0C!", "B 21<"});
    }

    void orderAndMarks() {
        QFETCH(std::vector<Input>, inputs);
        QFETCH(QStringList, expected);
        Trace trace;
        TapOrder order({50'000, kBound, 4999}, trace);
        // Each input's reads in its own order, the host's first: the order does not come from
        // the arrival.
        for (const TapSide side : {H, D}) {
            for (const Input& in : inputs) {
                if (in.side != side) continue;
                if (in.change == 0)
                    order.Read(in.side, in.time, in.bytes);
                else
                    order.LineChanged(in.side, in.change == 1, in.time);
            }
        }
        order.Finish();
        QCOMPARE(trace.items, expected);
        QCOMPARE(order.uncertainPairs(),
                 std::uint64_t(expected.filter(QRegularExpression("^U ")).size()));
    }

    // Nothing is handed out before a later read could still pair with it, and a block waits for
    // its quiet gap; reads not yet heard through are not settled.
    void handsOutOnlyWhatIsSettled() {
        Trace trace;
        TapOrder order({50'000, kBound, 4999}, trace);
        order.Read(H, 0, Bytes{0x0C});
        order.Read(D, 10'000, Bytes{0x21});
        order.Advance(1'999);
        QCOMPARE(trace.items, QStringList{});
        QCOMPARE(order.NextDue(), std::optional<std::int64_t>(2'000));
        order.Advance(2'000);
        QCOMPARE(trace.items, QStringList{"H 0C"});
        order.Advance(59'999);
        QCOMPARE(order.NextDue(), std::optional<std::int64_t>(62'000));
        order.Advance(61'999);
        QCOMPARE(trace.items, QStringList{"H 0C"});
        order.Advance(62'000);
        QCOMPARE(trace.items, (QStringList{"H 0C", "B 21"}));
        QCOMPARE(order.NextDue(), std::nullopt);
    }

    // A flood is cut into blocks of the bench's largest read.
    void longBlocksAreCutAtTheLargestRead() {
        Trace trace;
        TapOrder order({50'000, kBound, 4999}, trace);
        order.Read(D, 0, Bytes(6000, 0x20));
        order.Read(D, 1'000, Bytes(4000, 0x20));
        order.Finish();
        QList<qsizetype> sizes;
        for (const QString& item : trace.items)
            sizes.push_back(item.count(' '));
        QCOMPARE(sizes, (QList<qsizetype>{4999, 4999, 2}));
    }
};

QTEST_APPLESS_MAIN(TapOrderTest)
#include "tst_tap_order.moc"
