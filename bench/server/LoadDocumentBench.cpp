// The processor time to build the load document of a vendor with 10,000 comments, beside the
// read and writer it replaced (a copy in BaselineLoadDocument.cpp), and to compress it. Each case
// times the old and the new in the same iterations, so the ratio holds on a loaded machine.
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
using vcbench::BaselineReader;

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
    const auto oldRows = BaselineReader(bigVendor().file()).read("BIG");
    const std::string document = baselineLoadDocument(oldRows);
    if (loadDocument(rows) != document) {
        state.SkipWithError("the new writer's bytes differ from the old one's");
        return;
    }
    oldBesideNew(
        state, [&] { return baselineLoadDocument(oldRows); },
        [&] {
            LoadDocumentWriter writer(document.size());
            handOn(rows, writer);
            return std::move(writer).finish();
        });
    state.counters["document_bytes"] = static_cast<double>(document.size());
}

// What a GET that misses the cache costs before the answer is sent: the version, the store's
// read and the text. After a change the server makes room for the size of the document it
// kept before; a vendor it keeps nothing of grows its room as it goes. Timed beside the old
// build in the same iterations (new_cpu_ms, where each follows the old one's allocations),
// and alone after a change (alone_cpu_ms) and for a vendor kept nowhere (cold_cpu_ms).
void readAndWrite(benchmark::State& state) {
    CommentStore& store = bigVendor().store();
    BaselineReader old(bigVendor().file());
    const std::string document = baselineLoadDocument(old.read("BIG"));
    const auto miss = [&](std::size_t room) {
        LoadDocumentWriter writer(room);
        store.loadChanged("BIG", {}, writer);
        return std::move(writer).finish();
    };
    if (miss(0).view() != document) {
        state.SkipWithError("the new build's bytes differ from the old one's");
        return;
    }
    oldBesideNew(
        state, [&] { return baselineLoadDocument(old.read("BIG")); },
        [&] { return miss(document.size()); });
    const auto average = [](auto work) {
        double ms = 0;
        for (int i = 0; i < 20; ++i) {
            ms += cpuMs(work);
        }
        return ms / 20;
    };
    state.counters["alone_cpu_ms"] = average([&] { return miss(document.size()); });
    state.counters["cold_cpu_ms"] = average([&] { return miss(0); });
    state.counters["store_read_cpu_ms"] = average([&] {
        struct : LoadReceiver {
            void lookups(std::vector<LookupEntry>, std::vector<LookupEntry>) override {}
            void comment(const CommentRow& row) override { benchmark::DoNotOptimize(row); }
        } nothing;
        return store.loadChanged("BIG", {}, nothing);
    });
}

// What the store's read cannot go below: its query on a connection of its own, each column
// read as the store reads it and nothing kept (the key is the one asked for, as in a table
// the store made).
void sqliteFloor(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(bigVendor().file().c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                    nullptr);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT NULL, CommentSequence, Type, Location, Effective, Expires, "
                       "Comment FROM VendorComment WHERE VendorID = ?1 ORDER BY CommentSequence",
                       -1, &q, nullptr);
    for (auto _ : state) {
        sqlite3_bind_text(q, 1, "BIG", -1, SQLITE_STATIC);
        std::int64_t sum = 0;
        while (sqlite3_step(q) == SQLITE_ROW) {
            for (int col = 1; col < 4; ++col) {
                sum += sqlite3_column_int64(q, col);
            }
            for (const int col : {4, 5, 6}) {
                benchmark::DoNotOptimize(sqlite3_column_text(q, col));
                sum += sqlite3_column_bytes(q, col);
            }
        }
        benchmark::DoNotOptimize(sum);
        sqlite3_reset(q);
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
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
BENCHMARK(sqliteFloor)->Name("LoadDocument10k/sqlite_query_floor")->Unit(benchmark::kMillisecond);
BENCHMARK(compress)->Name("LoadDocument10k/gzip")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
