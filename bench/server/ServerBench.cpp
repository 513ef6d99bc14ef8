// Statements per second and latency percentiles with 8 concurrent clients on loopback, and
// the time to answer the load document of a vendor with 10,000 comments.

#include "CommentServer.h"
#include "DemoData.h"
#include "LoadDocument.h"
#include "ServerTestSupport.h"

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

using namespace vcserver;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kClients = 8;
constexpr int kStatementsPerClient = 100;

std::string insertBatch(const std::string& vendor, int n) {
    return " Declare @MaxID  int ;  select @MaxId = (Select Max(CommentSequence) From "
           "VendorComment where VendorID = '" +
           vendor +
           "');  Set @MaxId = ISNull(@MaxID,0);  INSERT INTO VendorComment "
           "(VendorID,CommentSequence,Type,Location,Effective,Expires,Comment,RecordLastUpdated) "
           "VALUES  (" +
           vendor + ", @MaxID + 1, 4, 12,  '4/1/2009' ,  Null, 'Benchmark comment number " +
           std::to_string(n) + ", a line of ordinary length.',  GETDATE())";
}

std::string updateStatement(const std::string& vendor, int sequence) {
    return "UPDATE VendorComment  SET Type = 2, Location= 1, Effective=  '4/2/2009' , Expires=  "
           "'12/31/2009' , Comment= 'Updated comment " +
           std::to_string(sequence) +
           "', RecordLastUpdated = GETDATE()  WHERE vendorID = " + vendor +
           " AND CommentSequence = " + std::to_string(sequence);
}

// A server on a free loopback port over a fresh database file.
class LiveServer {
public:
    LiveServer() {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() /
               ("vc-server-bench-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
        store_ = openSqliteStore(db());
        store_->seed(demoData());
        server_ = std::make_unique<CommentServer>(*store_, nullptr);
        port_ = server_->bind("127.0.0.1", 0);
        thread_ = std::thread([this] { server_->run(); });
    }
    ~LiveServer() {
        server_->stop();
        thread_.join();
        server_.reset();
        store_.reset();
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path db() const { return dir_ / "bench.db"; }
    int port() const { return port_; }

private:
    std::filesystem::path dir_;
    std::unique_ptr<CommentStore> store_;
    std::unique_ptr<CommentServer> server_;
    std::thread thread_;
    int port_ = 0;
};

// Runs kClients threads, each posting its statements over one kept-alive connection;
// returns every request's latency in milliseconds.
template <typename MakeStatement>
std::vector<double> postConcurrently(int port, MakeStatement make, std::atomic<int>& failures) {
    std::vector<std::vector<double>> perClient(kClients);
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true); // as libcurl does
            client.set_tcp_nodelay(true);
            for (int i = 0; i < kStatementsPerClient; ++i) {
                const std::string body = "SQL=" + vctest::formEncode(make(c, i));
                const auto start = Clock::now();
                const auto res = client.Post("/VendorCommentLOAD.asp", body,
                                             "application/x-www-form-urlencoded");
                const std::chrono::duration<double, std::milli> took = Clock::now() - start;
                perClient[c].push_back(took.count());
                if (!res || res->status != 200 || !res->body.empty()) {
                    ++failures;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::vector<double> all;
    for (const auto& v : perClient) {
        all.insert(all.end(), v.begin(), v.end());
    }
    return all;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

template <typename MakeStatement>
void runStatements(benchmark::State& state, LiveServer& server, MakeStatement make) {
    std::vector<double> latencies;
    std::atomic<int> failures{0};
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto batch = postConcurrently(server.port(), make, failures);
        const std::chrono::duration<double> took = Clock::now() - start;
        state.SetIterationTime(took.count());
        seconds += took.count();
        latencies.insert(latencies.end(), batch.begin(), batch.end());
    }
    state.counters["statements_per_s"] = static_cast<double>(latencies.size()) / seconds;
    state.counters["p50_ms"] = percentile(latencies, 0.50);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["failures"] = failures.load();
}

void BM_Inserts8Clients(benchmark::State& state) {
    LiveServer server;
    // Clients share two vendors, so inserts contend for the same next sequence.
    runStatements(state, server, [](int client, int i) {
        return insertBatch(client % 2 ? "V100" : "318", client * 1000 + i);
    });
}

void BM_Updates8Clients(benchmark::State& state) {
    LiveServer server;
    std::atomic<int> failures{0};
    postConcurrently(
        server.port(),
        [](int client, int i) { return insertBatch("B" + std::to_string(client), i); }, failures);
    runStatements(state, server, [](int client, int i) {
        return updateStatement("B" + std::to_string(client), i + 1);
    });
}

// 10,000 comments written straight into the table in one transaction.
void fillVendor(const std::filesystem::path& db, const std::string& vendor, int count) {
    sqlite3* raw = nullptr;
    sqlite3_open(db.c_str(), &raw);
    sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(raw,
                       "INSERT INTO VendorComment VALUES (?1, ?2, 4, 12, '2009-04-01', NULL, ?3, "
                       "'2009-04-01 00:00:00')",
                       -1, &st, nullptr);
    for (int i = 1; i <= count; ++i) {
        const std::string comment = "Comment " + std::to_string(i) +
                                    ": deliveries before noon only, & <always> with the PO number.";
        sqlite3_bind_text(st, 1, vendor.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 2, i);
        sqlite3_bind_text(st, 3, comment.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
}

void BM_LoadDocument10k(benchmark::State& state) {
    LiveServer server;
    fillVendor(server.db(), "BIG", 10000);
    httplib::Client client("127.0.0.1", server.port());
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto res = client.Get("/VendorCommentLOAD.asp?Vendor=BIG&SCRN=7&PODate=03/23/2009");
        if (!res || res->status != 200) {
            state.SkipWithError("load failed");
            return;
        }
        bytes = res->body.size();
    }
    state.counters["document_bytes"] = static_cast<double>(bytes);
}

// The same without HTTP: the database read and the document text only.
void BM_LoadDocument10kInProcess(benchmark::State& state) {
    LiveServer server;
    fillVendor(server.db(), "BIG", 10000);
    auto store = openSqliteStore(server.db());
    for (auto _ : state) {
        benchmark::DoNotOptimize(loadDocument(store->load("BIG")));
    }
}

} // namespace

BENCHMARK(BM_Inserts8Clients)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Updates8Clients)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadDocument10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadDocument10kInProcess)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
