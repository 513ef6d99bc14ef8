// The control's benchmarks: LoadData beside its floor and the memory it holds (LoadBench),
// Save beside the bare requests and the processor used while waiting (SaveBench), and here
// the selection of a comment that is one word of 1 MiB (target: the editor filled within
// 100 ms). Each prints its figures beside their targets.
//
// Run: build/bin/control_bench (the memory probe re-runs this binary with --memory-probe).

#include "BenchSupport.h"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QTest>

#include <cstring>

namespace bench {
namespace {

// A click on a comment that is one unbroken word of 1 MiB, until the editor has been painted.
void BM_SelectOneMebibyteWord(benchmark::State& state) {
    httplib::Server page;
    const std::string document = "<r><LOC><c>1</c><n>Dock</n></LOC><TYP><c>2</c><n>General</n>"
                                 "</TYP><GRID><a/><s>1</s><b/><t>General</t><c/><l>Dock</l><e/>"
                                 "<x/><m>" +
                                 std::string(1024 * 1024, 'w') + "</m></GRID></r>";
    page.Get("/VendorCommentLOAD.asp", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(document, "text/xml");
    });
    const int port = page.bind_to_any_port("127.0.0.1");
    std::thread listener([&] { page.listen_after_bind(); });

    Control c;
    c.load("http://127.0.0.1:" + std::to_string(port) + "/", "1");
    auto* list = qobject_cast<QAbstractItemView*>(c.widget("lstComments"));
    const QPoint row = list->visualRect(list->model()->index(0, 0)).center();
    for (auto _ : state) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, row); // clear
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row);
        QApplication::processEvents();
    }
    state.counters["target_ms"] = 100;
    page.stop();
    listener.join();
}
BENCHMARK(BM_SelectOneMebibyteWord)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace bench

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--memory-probe") == 0)
        return bench::memoryProbe(argv[2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bench::releaseServers();
    return 0;
}
