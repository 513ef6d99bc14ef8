// A statement's cost in time and processor.
//
// - Save to the updated list (POST, the accepted answer, the reload GET and the refill) beside
//   the bare requests for the same work in the same iteration: a libcurl POST of the same
//   statement, a GET of the load document and its parse. Target: Save / bare <= 1.5. Both
//   inserted comments are deleted after each iteration, so the vendor keeps its size. The
//   server's database is on disk (memdb:0), as a user runs it, or in memory (memdb:1), which
//   takes the commit's wait for the disk out of both sides.
// - The processor used while a Save waits 2 s for a delayed answer. Target: under 1% of a
//   core.

#include "BenchSupport.h"

#include "editor/Statements.h"
#include "gateway/URLEncode.h"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <QApplication>
#include <QTest>

#include <ctime>

namespace bench {
namespace {

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void BM_SaveBesideBareRequests(benchmark::State& state) {
    const int comments = int(state.range(0));
    ReferenceServer& server =
        sharedServer(comments, state.range(1) ? Database::InMemory : Database::OnDisk);
    Control c;
    c.load(server.baseUrl(), "B1");
    BareClient bare;
    const std::string insert =
        "SQL=" + tavik::URLEncode(tavik::InsertStatement("B1", 4, 12, "", "", kBenchComment));
    std::vector<double> saves, bares, ratios, paints;
    for (auto _ : state) {
        c.enterComment();
        // The window shows what came before, as it does by the time a user clicks: a click
        // paints only its button then.
        QApplication::processEvents();
        auto start = std::chrono::steady_clock::now();
        c.save();
        const double save = secondsSince(start);
        start = std::chrono::steady_clock::now();
        QApplication::processEvents(); // the updated list painted, apart
        paints.push_back(secondsSince(start));

        start = std::chrono::steady_clock::now();
        const std::string answer = bare.post(server.pageUrl(), insert);
        std::string document = bare.get(server.loadUrl("B1"));
        std::vector<std::string> added;
        benchmark::DoNotOptimize(parseAndReadCells(document, &added));
        const double bareTime = secondsSince(start);

        if (!answer.empty() || c.control.form().lstComments().count() != comments + 1) {
            state.SkipWithError("a statement was not accepted");
            break;
        }
        for (const std::string& sequence : added)
            bare.post(server.pageUrl(),
                      "SQL=" + tavik::URLEncode(tavik::DeleteStatement("B1", sequence)));

        state.SetIterationTime(save);
        saves.push_back(save);
        bares.push_back(bareTime);
        ratios.push_back(save / bareTime);
    }
    state.counters["bare_ms"] = 1e3 * median(bares);
    state.counters["save_ms"] = 1e3 * median(saves);
    state.counters["paint_ms"] = 1e3 * median(paints);
    state.counters["ratio"] = median(ratios);
    state.counters["target"] = 1.5;
}
BENCHMARK(BM_SaveBesideBareRequests)
    ->ArgNames({"rows", "memdb"})
    ->ArgsProduct({{10, 1000}, {0, 1}})
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

void BM_ProcessorWhileWaiting(benchmark::State& state) {
    httplib::Server slow;
    slow.Get("/VendorCommentLOAD.asp", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<r><LOC><c>1</c><n>Dock</n></LOC><TYP><c>2</c><n>General</n></TYP></r>",
                        "text/xml");
    });
    slow.Post("/VendorCommentLOAD.asp", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        res.set_content("refused after a while", "text/plain");
    });
    const int port = slow.bind_to_any_port("127.0.0.1");
    std::thread listener([&] { slow.listen_after_bind(); });

    Control c;
    c.load("http://127.0.0.1:" + std::to_string(port) + "/", "1");
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        c.enterComment();
        const double cpuBefore = processCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        c.save();
        cpu += processCpuSeconds() - cpuBefore;
        wall += secondsSince(wallBefore);
        QTest::mouseClick(c.widget("cmdEdit"), Qt::LeftButton); // Cancel
    }
    state.counters["cpu_percent_of_a_core"] = 100.0 * cpu / wall;
    state.counters["target_percent"] = 1;
    state.counters["wait_seconds"] = wall / double(state.iterations());
    slow.stop();
    listener.join();
}
BENCHMARK(BM_ProcessorWhileWaiting)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace bench
