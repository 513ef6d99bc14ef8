// LoadData beside its floor, and the memory a loaded list holds.
//
// - LoadData of vendor B1 against the floor of the same document in the same iteration: a
//   libcurl GET of the same URL, a pugixml parse and a read of every GRID cell into a
//   std::string. Target: LoadData / floor <= 1.3 (the median of the paired ratios).
// - The memory held per loaded comment, 100,000 comments, in a fresh process (the resident
//   set after the load minus before it). Target: <= 0.5 KB. And what stays after a second
//   load of a vendor with ten comments (heap in use, then against the same load before).

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QProcess>

#include <sstream>

namespace bench {
namespace {

void BM_LoadDataBesideFloor(benchmark::State& state) {
    const int comments = int(state.range(0));
    ReferenceServer& server = sharedServer(comments);
    Control c;
    BareClient bare;
    const std::string url = server.loadUrl("B1");
    std::vector<double> floors, loads, ratios, paints;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        std::string document = bare.get(url);
        benchmark::DoNotOptimize(parseAndReadCells(document));
        const double floor = secondsSince(start);

        start = std::chrono::steady_clock::now();
        c.load(server.baseUrl(), "B1");
        const double load = secondsSince(start);

        start = std::chrono::steady_clock::now();
        QApplication::processEvents(); // the first paint, apart
        paints.push_back(secondsSince(start));

        state.SetIterationTime(load);
        floors.push_back(floor);
        loads.push_back(load);
        ratios.push_back(load / floor);
    }
    if (c.control.form().lstComments().count() != comments)
        state.SkipWithError("the list does not hold every comment");
    state.counters["floor_ms"] = 1e3 * median(floors);
    state.counters["load_ms"] = 1e3 * median(loads);
    state.counters["paint_ms"] = 1e3 * median(paints);
    state.counters["ratio"] = median(ratios);
    state.counters["target"] = 1.3;
}
BENCHMARK(BM_LoadDataBesideFloor)
    ->Arg(10000)
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_LoadDataBesideFloor)
    ->Arg(100000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// Runs the memory probe in a fresh process of this binary against the shared server.
void BM_MemoryHeldPerComment(benchmark::State& state) {
    const int comments = int(state.range(0));
    ReferenceServer& server = sharedServer(comments);
    for (auto _ : state) {
        QProcess probe;
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(QCoreApplication::applicationFilePath(),
                    {"--memory-probe", QString::fromStdString(server.baseUrl())});
        if (!probe.waitForFinished(300000) || probe.exitCode() != 0) {
            state.SkipWithError("the memory probe failed");
            return;
        }
        std::istringstream figures(probe.readAllStandardOutput().toStdString());
        long rssBefore = 0, rssLoaded = 0, rssAfter = 0, heapBefore = 0, heapLoaded = 0,
             heapAfter = 0;
        int rows = 0;
        figures >> rssBefore >> rssLoaded >> rssAfter >> heapBefore >> heapLoaded >> heapAfter >>
            rows;
        if (rows != comments) {
            state.SkipWithError("the probe's list does not hold every comment");
            return;
        }
        state.counters["kb_per_comment"] = double(rssLoaded - rssBefore) / 1024.0 / comments;
        state.counters["target_kb"] = 0.5;
        state.counters["heap_kb_per_comment"] = double(heapLoaded - heapBefore) / 1024.0 / comments;
        state.counters["heap_retained_kb"] = double(heapAfter - heapBefore) / 1024.0;
        state.counters["rss_retained_kb"] = double(rssAfter - rssBefore) / 1024.0;
    }
}
BENCHMARK(BM_MemoryHeldPerComment)
    ->Arg(100000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
} // namespace bench
