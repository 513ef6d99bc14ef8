// Statements per second and latency percentiles with 8 concurrent clients on loopback, and
// the time to answer the load document of a vendor with 10,000 comments: SQLite beside
// PostgreSQL, and PostgreSQL served by 1, 2 and 4 server processes sharing one database.
//
// PostgreSQL needs a cluster in VC_TEST_POSTGRES, as the tests do:
//   scripts/with-test-postgres build/bin/server_bench

#include "Posting.h"
#include "ServerProcess.h"
#include "ServerTestSupport.h"
#include "statement/LoadDocumentWriter.h"
#include "store/CommentStore.h"
#include "store/DemoData.h"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <thread>

using namespace vcserver;
using namespace vctest;
using vcbench::percentile;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kClients = 8;
constexpr int kStatementsPerClient = 100;
constexpr int kBigVendorComments = 10000;

std::string benchInsert(const std::string& vendor, int n) {
    return insertBatch(vendor, 4, 12, "4/1/2009", "",
                       "Benchmark comment number " + std::to_string(n) +
                           ", a line of ordinary length.");
}

std::string benchUpdate(const std::string& vendor, int sequence) {
    return updateStatement(vendor, sequence, 2, 1, "4/2/2009", "12/31/2009",
                           "Updated comment " + std::to_string(sequence));
}

// A fresh database served by one or more server processes on free loopback ports.
class LiveServers {
public:
    LiveServers(StoreKind kind, int processes) : db_(kind) {
        for (int i = 0; i < processes; ++i) {
            servers_.push_back(std::make_unique<ServerProcess>(
                std::vector<std::string>{"--db", db_.location(), "--listen", "127.0.0.1:0",
                                         "--seed-demo"},
                logs_.path() / ("server" + std::to_string(i) + ".log")));
            // One at a time: the first creates the tables and seeds.
            const std::string url = servers_.back()->firstLine();
            if (url.rfind("http://127.0.0.1:", 0) != 0) {
                throw std::runtime_error("the server did not start");
            }
            ports_.push_back(std::stoi(url.substr(17)));
        }
    }

    const TestDatabase& db() const { return db_; }
    int port(int client) const { return ports_[static_cast<std::size_t>(client) % ports_.size()]; }

private:
    TestDatabase db_;
    TempDir logs_;
    std::vector<std::unique_ptr<ServerProcess>> servers_;
    std::vector<int> ports_;
};

// kClients clients, each on its server, posting their statements at once.
template <typename MakeStatement>
std::vector<double> postConcurrently(const LiveServers& servers, MakeStatement make,
                                     std::atomic<int>& failures) {
    return vcbench::postConcurrently(
        kClients, kStatementsPerClient,
        [&](int client) { return httplib::Client("127.0.0.1", servers.port(client)); }, make,
        failures);
}

template <typename MakeStatement>
void runStatements(benchmark::State& state, const LiveServers& servers, MakeStatement make) {
    std::vector<double> latencies;
    std::atomic<int> failures{0};
    double seconds = 0;
    int round = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto batch = postConcurrently(
            servers, [&](int client, int i) { return make(round, client, i); }, failures);
        const std::chrono::duration<double> took = Clock::now() - start;
        state.SetIterationTime(took.count());
        seconds += took.count();
        latencies.insert(latencies.end(), batch.begin(), batch.end());
        ++round;
    }
    state.counters["statements_per_s"] = static_cast<double>(latencies.size()) / seconds;
    state.counters["p50_ms"] = percentile(latencies, 0.50);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["failures"] = failures.load();
}

// Runs body, turning a database that cannot be had into the benchmark's error.
template <typename Body> void guarded(benchmark::State& state, Body body) {
    try {
        body();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

void inserts(benchmark::State& state, StoreKind kind, int processes) {
    guarded(state, [&] {
        LiveServers servers(kind, processes);
        // Clients share two vendors, so inserts contend for the same next sequence.
        runStatements(state, servers, [](int round, int client, int i) {
            return benchInsert(client % 2 ? "V100" : "318", round * 100000 + client * 1000 + i);
        });
    });
}

void updates(benchmark::State& state, StoreKind kind, int processes) {
    guarded(state, [&] {
        LiveServers servers(kind, processes);
        std::atomic<int> failures{0};
        postConcurrently(
            servers, [](int client, int i) { return benchInsert("B" + std::to_string(client), i); },
            failures);
        runStatements(state, servers, [](int, int client, int i) {
            return benchUpdate("B" + std::to_string(client), i + 1);
        });
    });
}

// 10,000 comments written straight into the table in one statement.
void fillBigVendor(const TestDatabase& db) {
    const std::string values =
        "'BIG', n, 4, 12, '2009-04-01', NULL, 'Comment ' || n || ': deliveries before noon "
        "only, & <always> with the PO number.'";
    if (db.kind() == StoreKind::Postgres) {
        db.exec("INSERT INTO VendorComment SELECT " + values + ", now() FROM generate_series(1, " +
                std::to_string(kBigVendorComments) + ") n");
    } else {
        db.exec("WITH RECURSIVE g(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM g WHERE n < " +
                std::to_string(kBigVendorComments) + ") INSERT INTO VendorComment SELECT " +
                values + ", '2009-04-01 00:00:00' FROM g");
    }
}

// Over HTTP from one server process.
void loadDocumentOverHttp(benchmark::State& state, StoreKind kind) {
    guarded(state, [&] {
        LiveServers servers(kind, 1);
        fillBigVendor(servers.db());
        httplib::Client client("127.0.0.1", servers.port(0));
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        std::size_t bytes = 0;
        for (auto _ : state) {
            const auto res =
                client.Get("/VendorCommentLOAD.asp?Vendor=BIG&SCRN=7&PODate=03/23/2009");
            if (!res || res->status != 200) {
                state.SkipWithError("load failed");
                return;
            }
            bytes = res->body.size();
        }
        state.counters["document_bytes"] = static_cast<double>(bytes);
    });
}

// Without HTTP: the database read and the document text only.
void loadDocumentInProcess(benchmark::State& state, StoreKind kind) {
    guarded(state, [&] {
        TestDatabase db(kind);
        auto store = openStore(db.location(), 1);
        store->seed(demoData());
        fillBigVendor(db);
        for (auto _ : state) {
            benchmark::DoNotOptimize(loadDocument(store->load("BIG")));
        }
    });
}

void registerAll() {
    struct Setup {
        const char* name;
        StoreKind kind;
        int processes;
    };
    const Setup setups[] = {{"sqlite/1_process", StoreKind::Sqlite, 1},
                            {"postgres/1_process", StoreKind::Postgres, 1},
                            {"postgres/2_processes", StoreKind::Postgres, 2},
                            {"postgres/4_processes", StoreKind::Postgres, 4}};
    for (const auto& s : setups) {
        benchmark::RegisterBenchmark((std::string("Inserts8Clients/") + s.name).c_str(), inserts,
                                     s.kind, s.processes)
            ->UseManualTime()
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    }
    for (const auto& s : setups) {
        benchmark::RegisterBenchmark((std::string("Updates8Clients/") + s.name).c_str(), updates,
                                     s.kind, s.processes)
            ->UseManualTime()
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    }
    for (const auto kind : {StoreKind::Sqlite, StoreKind::Postgres}) {
        const std::string store = kind == StoreKind::Sqlite ? "sqlite" : "postgres";
        benchmark::RegisterBenchmark(("LoadDocument10k/" + store).c_str(), loadDocumentOverHttp,
                                     kind)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("LoadDocument10kInProcess/" + store).c_str(),
                                     loadDocumentInProcess, kind)
            ->Unit(benchmark::kMillisecond);
    }
}

} // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
