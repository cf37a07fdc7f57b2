// The log pane under a flood: one received block's worth of lines, shown, then the repaint.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWidget>

#include "app/protocol_log_pane.h"

namespace {

void BM_LogPaneBlock(benchmark::State& state) {
    if (QApplication::instance() == nullptr) {
        state.SkipWithError("needs a QApplication");
        return;
    }
    QWidget window;
    window.resize(300, 340);
    auto* pane = new norva::ProtocolLogPane(&window);
    pane->setGeometry(5, 5, 289, 329);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    window.show();
    QCoreApplication::processEvents();

    constexpr int kLines = 4999;
    QStringList lines;
    for (int i = 0; i < kLines; ++i)
        lines << QStringLiteral("Receive [0x2%1]").arg(i % 10);
    long long inPane = 0;
    for (auto _ : state) {
        for (const QString& line : lines)
            pane->AppendLine(line);
        pane->FlushLog();
        QCoreApplication::processEvents();
        // A pane of a million lines is the size the memory figure is taken at; the cost of an
        // append must not depend on how long the benchmark happened to run.
        inPane += kLines;
        if (inPane >= 1'000'000) {
            state.PauseTiming();
            pane->ClearLog();
            inPane = 0;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * kLines);
}
BENCHMARK(BM_LogPaneBlock)->Name("log pane: 4999 lines appended and painted");

}  // namespace
