// The processor time to build the load document of a vendor with 10,000 comments, beside the
// writer it replaced (a copy in BaselineLoadDocument.cpp), and to compress it. Each case times
// the old and the new in the same iterations, so the ratio holds on a loaded machine.
//   build/bin/load_document_bench

#include "BaselineLoadDocument.h"
#include "TestDatabase.h"
#include "http/ContentCoding.h"
#include "statement/LoadDocumentWriter.h"
#include "store/CommentStore.h"
#include "store/DemoData.h"

#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <ctime>

using namespace vcserver;
using namespace vctest;
using vcbench::baselineLoadDocument;

namespace {

constexpr int kComments = 10000;

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

template <typename Work> double cpuMs(Work work) {
    const double start = threadCpuMs();
    benchmark::DoNotOptimize(work());
    return threadCpuMs() - start;
}

// Comments with characters to escape, half of them with both dates: about 3.5 MB.
class BigVendor {
public:
    BigVendor() : db_(StoreKind::Sqlite) {
        store_ = openStore(db_.location(), 1);
        store_->seed(demoData());
        db_.exec("WITH RECURSIVE g(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM g WHERE n < " +
                 std::to_string(kComments) +
                 ") INSERT INTO VendorComment SELECT 'BIG', n, 1 + n % 4, CASE n % 3 WHEN 0 THEN "
                 "12 ELSE n % 3 END, '2009-04-01', CASE n % 2 WHEN 0 THEN NULL ELSE "
                 "'2010-12-31' END, 'Comment ' || n || ': deliveries before noon only, & "
                 "<always> with the PO number.' || char(13) || char(10), '2009-04-01 00:00:00' "
                 "FROM g");
    }
    CommentStore& store() { return *store_; }
    const std::string& file() const { return db_.location(); }

private:
    TestDatabase db_;
    std::unique_ptr<CommentStore> store_;
};

BigVendor& bigVendor() {
    static BigVendor vendor;
    return vendor;
}

// Times the old and the new for one iteration each; the new one is the benchmark's figure.
template <typename Old, typename New> void oldBesideNew(benchmark::State& state, Old old, New now) {
    double oldMs = 0, newMs = 0;
    for (auto _ : state) {
        oldMs += cpuMs(old);
        const double ms = cpuMs(now);
        newMs += ms;
        state.SetIterationTime(ms / 1e3);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["old_cpu_ms"] = oldMs / n;
    state.counters["new_cpu_ms"] = newMs / n;
    state.counters["old_per_new"] = oldMs / newMs;
}

// The document text from rows already read.
void writeOnly(benchmark::State& state) {
    const VendorComments rows = bigVendor().store().load("BIG");
    if (baselineLoadDocument(rows) != loadDocument(rows)) {
        state.SkipWithError("the new writer's bytes differ from the old one's");
        return;
    }
    oldBesideNew(
        state, [&] { return baselineLoadDocument(rows); }, [&] { return loadDocument(rows); });
    state.counters["document_bytes"] = static_cast<double>(loadDocument(rows).size());
}

// What a GET costs before the answer is sent: the store's read and the text.
void readAndWrite(benchmark::State& state) {
    CommentStore& store = bigVendor().store();
    oldBesideNew(
        state, [&] { return baselineLoadDocument(store.load("BIG")); },
        [&] { return loadDocument(store.load("BIG")); });
    double readMs = 0;
    for (int i = 0; i < 5; ++i) {
        readMs += cpuMs([&] { return store.load("BIG"); });
    }
    state.counters["store_read_cpu_ms"] = readMs / 5;
}

// What the store's read could come to: the rows' query on a connection of its own, each text
// touched but not copied, with SQLite's default page cache (2 MiB, smaller than the table, so
// every read goes back to the file) and with one that holds the table.
void sqliteFloor(benchmark::State& state) {
    const auto queryMs = [](const std::string& file, const char* pragma, const char* sql) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_exec(db, pragma, nullptr, nullptr, nullptr);
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &q, nullptr);
        double ms = 0;
        for (int round = 0; round < 6; ++round) { // the first one warms the cache
            const double start = threadCpuMs();
            sqlite3_bind_text(q, 1, "BIG", -1, SQLITE_STATIC);
            std::size_t bytes = 0;
            while (sqlite3_step(q) == SQLITE_ROW) {
                for (int col = 0; col < sqlite3_column_count(q); ++col) {
                    bytes += static_cast<std::size_t>(sqlite3_column_bytes(q, col));
                }
            }
            benchmark::DoNotOptimize(bytes);
            sqlite3_reset(q);
            ms += round ? threadCpuMs() - start : 0;
        }
        sqlite3_finalize(q);
        sqlite3_close(db);
        return ms / 5;
    };
    const char* joined =
        "SELECT c.VendorID, c.CommentSequence, c.Type, COALESCE(t.Name, ''), c.Location, "
        "COALESCE(l.Name, ''), COALESCE(c.Effective, ''), COALESCE(c.Expires, ''), c.Comment "
        "FROM VendorComment c LEFT JOIN CommentType t ON t.Code = c.Type "
        "LEFT JOIN CommentLocation l ON l.Code = c.Location "
        "WHERE c.VendorID = ?1 ORDER BY c.CommentSequence";
    const char* plain = "SELECT VendorID, CommentSequence, Type, Location, Effective, Expires, "
                        "Comment FROM VendorComment WHERE VendorID = ?1 ORDER BY CommentSequence";
    const std::string& file = bigVendor().file();
    for (auto _ : state) {
        state.counters["default_cache_cpu_ms"] = queryMs(file, "", joined);
        state.counters["64MiB_cache_cpu_ms"] = queryMs(file, "PRAGMA cache_size = -65536", joined);
        state.counters["64MiB_cache_no_joins_cpu_ms"] =
            queryMs(file, "PRAGMA cache_size = -65536", plain);
    }
    double storeMs = 0;
    for (int i = 0; i < 5; ++i) {
        storeMs += cpuMs([&] { return bigVendor().store().load("BIG"); });
    }
    state.counters["store_load_cpu_ms"] = storeMs / 5;
}

// The compression a distant client's answer costs, once per built document.
void compress(benchmark::State& state) {
    const std::string plain = loadDocument(bigVendor().store().load("BIG"));
    std::string packed;
    for (auto _ : state) {
        packed = gzip(plain);
        benchmark::DoNotOptimize(packed.data());
    }
    state.counters["plain_bytes"] = static_cast<double>(plain.size());
    state.counters["gzip_bytes"] = static_cast<double>(packed.size());
}

} // namespace

BENCHMARK(writeOnly)->Name("LoadDocument10k/write")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(readAndWrite)
    ->Name("LoadDocument10k/store_read_and_write")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(sqliteFloor)->Name("LoadDocument10k/sqlite_query_floor")->Iterations(1);
BENCHMARK(compress)->Name("LoadDocument10k/gzip")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
