// LoadData beside its floor, and the memory a loaded list holds.
//
// - LoadData of vendor B1 against the floor of the same document in the same iteration: a
//   libcurl GET of the same URL, a pugixml parse and a read of every GRID cell into a
//   std::string. Target: LoadData / floor <= 1.3 (the median of the paired ratios).
// - The control's XML reader beside one QXmlStreamReader pass over the same document, and
//   beside the reader it had before expat (a strictness scan in front of pugixml).
// - The memory held per loaded comment, 100,000 comments, in a fresh process (the resident
//   set after the load minus before it). Target: <= 0.5 KB. And what stays after a second
//   load of a vendor with ten comments (heap in use, then against the same load before).

#include "BenchSupport.h"
#include "baseline/BaselineXmlDocument.h"

#include "platform/XmlDocument.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QProcess>
#include <QXmlStreamReader>

#include <ctime>
#include <optional>
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

// The control's reader (the strictness scan, pugixml, and a read of every GRID cell through
// the document component) beside the least a streaming reader would do for the same load:
// one QXmlStreamReader pass that keeps every GRID cell's text. A streaming reader replaces
// this one only if it keeps within 1.3 times it.
void BM_ReaderBesideStreamReader(benchmark::State& state) {
    const int comments = int(state.range(0));
    ReferenceServer& server = sharedServer(comments);
    BareClient bare;
    const std::string document = bare.get(server.loadUrl("B1"));
    const QByteArray bytes = QByteArray::fromStdString(document);
    std::vector<double> ours, streaming, ratios;
    std::size_t ourCells = 0, streamedCells = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        tavik::platform::XmlDocument doc;
        if (!doc.loadXml(document)) {
            state.SkipWithError("the document did not load");
            return;
        }
        ourCells = 0;
        for (const tavik::platform::XmlNode grid : doc.documentElement().childNodes())
            for (const tavik::platform::XmlNode cell : grid.childNodes()) {
                benchmark::DoNotOptimize(cell.text());
                ++ourCells;
            }
        const double our = secondsSince(start);

        start = std::chrono::steady_clock::now();
        QXmlStreamReader reader(bytes);
        streamedCells = 0;
        int depth = 0;
        while (!reader.atEnd()) {
            const auto token = reader.readNext();
            if (token == QXmlStreamReader::StartElement && ++depth == 3) {
                benchmark::DoNotOptimize(reader.readElementText().toStdString());
                --depth;
                ++streamedCells;
            } else if (token == QXmlStreamReader::EndElement) {
                --depth;
            }
        }
        const double stream = secondsSince(start);
        if (reader.hasError()) {
            state.SkipWithError("the stream reader refused the document");
            return;
        }
        state.SetIterationTime(our);
        ours.push_back(our);
        streaming.push_back(stream);
        ratios.push_back(stream / our);
    }
    if (ourCells != streamedCells)
        state.SkipWithError("the two readers saw different cells");
    state.counters["control_ms"] = 1e3 * median(ours);
    state.counters["stream_ms"] = 1e3 * median(streaming);
    state.counters["ratio"] = median(ratios);
    state.counters["target"] = 1.3;
}
BENCHMARK(BM_ReaderBesideStreamReader)
    ->Arg(10000)
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_ReaderBesideStreamReader)
    ->Arg(100000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// Reads every GRID cell of a document through a reader's document component; the cells
// read, or nothing when the document did not load.
template <typename Document> std::optional<std::size_t> readCells(const std::string& document) {
    Document doc;
    if (!doc.loadXml(document))
        return std::nullopt;
    std::size_t cells = 0;
    for (const auto grid : doc.documentElement().childNodes())
        for (const auto cell : grid.childNodes()) {
            benchmark::DoNotOptimize(cell.text());
            ++cells;
        }
    return cells;
}

// The processor time of this thread, in seconds: on a shared machine, waits for a core
// would otherwise count as the reader's.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The control's reader (expat) beside the one it replaced, on the same document in the same
// iteration: parse and a read of every GRID cell, in processor time. Target: within 1.3
// times the old one.
void BM_ReaderBesideBaseline(benchmark::State& state) {
    const int comments = int(state.range(0));
    ReferenceServer& server = sharedServer(comments);
    BareClient bare;
    const std::string document = bare.get(server.loadUrl("B1"));
    std::vector<double> ours, baseline, ratios;
    for (auto _ : state) {
        double start = threadSeconds();
        const auto ourCells = readCells<tavik::platform::XmlDocument>(document);
        const double our = threadSeconds() - start;

        start = threadSeconds();
        const auto baselineCells = readCells<tavik::baseline::XmlDocument>(document);
        const double old = threadSeconds() - start;
        if (!ourCells || ourCells != baselineCells) {
            state.SkipWithError("the two readers did not read the same cells");
            return;
        }
        state.SetIterationTime(our);
        ours.push_back(our);
        baseline.push_back(old);
        ratios.push_back(our / old);
    }
    state.counters["control_ms"] = 1e3 * median(ours);
    state.counters["baseline_ms"] = 1e3 * median(baseline);
    state.counters["ratio"] = median(ratios);
    state.counters["target"] = 1.3;
}
BENCHMARK(BM_ReaderBesideBaseline)
    ->Arg(10000)
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_ReaderBesideBaseline)
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
