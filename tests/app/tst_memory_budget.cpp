#include <QTest>

#include <vector>

#include "app/memory_budget.h"
#include "scoped_env.h"

using norva::MemoryBudget;

namespace {

constexpr std::uint64_t kMiB = 1024ULL * 1024ULL;
constexpr std::uint64_t kGiB = 1024ULL * kMiB;

// A store that shrinks by what it is told to drop, as the log does.
struct Store {
    std::uint64_t bytes;
    std::vector<double> drops;
};

}  // namespace

class MemoryBudgetTest : public QObject {
    Q_OBJECT

private slots:
    void overrideAndDefault() {
        const std::pair<const char*, std::optional<std::uint64_t>> texts[] = {
            {"200", 200},
            {"1", 1},
            {"0", std::nullopt},
            {"", std::nullopt},
            {"-5", std::nullopt},
            {"12MB", std::nullopt},
            {" 7", std::nullopt},
            {"99999999999999", std::nullopt},
            {"1099511627776", 1099511627776ULL},
        };
        for (const auto& [text, megabytes] : texts)
            QVERIFY2(norva::ParseBudgetMegabytes(text) == megabytes, text);

        QCOMPARE(norva::DefaultLogBudgetBytes(24 * kGiB), 6 * kGiB);
        QCOMPARE(norva::DefaultLogBudgetBytes(4 * kGiB), 1 * kGiB);
        QCOMPARE(norva::DefaultLogBudgetBytes(2 * kGiB), 1 * kGiB);
        QCOMPARE(norva::DefaultLogBudgetBytes(0), 1 * kGiB);

        for (const auto& [text, isOverride] : {std::pair{"200", true}, std::pair{"lots", false}}) {
            const ScopedEnv budget(norva::kLogBudgetVariable, text);
            if (isOverride)
                QCOMPARE(norva::LogBudgetBytes(), 200 * kMiB);
            else
                QVERIFY(norva::LogBudgetBytes() >= 1 * kGiB);
        }
    }

    void texts() {
        QCOMPARE(norva::BudgetSizeText(6 * kGiB), std::string("6 GB"));
        QCOMPARE(norva::BudgetSizeText(1 * kGiB), std::string("1 GB"));
        QCOMPARE(norva::BudgetSizeText(6012 * kMiB), std::string("5.9 GB"));
        QCOMPARE(norva::BudgetSizeText(200 * kMiB), std::string("200 MB"));
        QCOMPARE(norva::WithThousands(1200000), std::string("1,200,000"));
        QCOMPARE(norva::WithThousands(999), std::string("999"));
        QCOMPARE(norva::WithThousands(1000), std::string("1,000"));
        QCOMPARE(norva::WithThousands(0), std::string("0"));
    }

    // Every store gives up the same share; never less than a tenth, and enough to get back to
    // nine tenths of the limit.
    void trimsEveryStoreAlike_data() {
        QTest::addColumn<quint64>("first");
        QTest::addColumn<quint64>("second");
        QTest::addColumn<double>("fraction");  // 0: no trim
        QTest::newRow("under the limit") << quint64(400) << quint64(600) << 0.0;
        QTest::newRow("just over: a tenth and a little")
            << quint64(500) << quint64(501) << 1 - 900.0 / 1001;
        QTest::newRow("far over: back to 900") << quint64(1500) << quint64(1500) << 0.7;
    }

    void trimsEveryStoreAlike() {
        QFETCH(quint64, first);
        QFETCH(quint64, second);
        QFETCH(double, fraction);
        MemoryBudget budget(1000);
        Store stores[] = {{first, {}}, {second, {}}, {0, {}}};
        for (Store& store : stores) {
            budget.AddConsumer({[&store] { return store.bytes; },
                                [&store](double f) { store.drops.push_back(f); }});
        }
        QCOMPARE(budget.Total(), first + second);
        QCOMPARE(budget.Enforce(), fraction > 0);
        for (const Store& store : stores) {
            QCOMPARE(store.drops.size(), fraction > 0 ? 1u : 0u);
            if (fraction > 0) QVERIFY(qAbs(store.drops.front() - fraction) < 1e-9);
        }
    }

    void removedConsumerIsNotCounted() {
        MemoryBudget budget(10);
        int drops = 0;
        const int id =
            budget.AddConsumer({[] { return std::uint64_t{50}; }, [&](double) { ++drops; }});
        budget.RemoveConsumer(id);
        QCOMPARE(budget.Total(), std::uint64_t{0});
        QVERIFY(!budget.Enforce());
        QCOMPARE(drops, 0);
    }
};

QTEST_APPLESS_MAIN(MemoryBudgetTest)
#include "tst_memory_budget.moc"
