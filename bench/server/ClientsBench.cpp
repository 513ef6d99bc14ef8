// The reference server program on SQLite under many, slow and hostile clients, driven from
// outside over loopback:
// - a normal GET's latency while 1,000 slow clients are connected (half idle, half sending
//   a request one byte a second), with the server's memory (target: within 200 ms);
// - GETs per second and p50/p99 with 200 keep-alive clients (target: no failure, p99
//   within 200 ms);
// - inserts per second and p50/p99 with 8 clients, open over HTTP (the floor), and signed
//   in, over HTTPS, or both, each beside the open figures;
// - one GET asking for 400 overlapping ranges: answer size and the server's peak memory.
// Every figure is taken from the program built here ("this"). With VC_PEER_SERVER naming
// another build of vendor-comment-server, the same figures are taken from it ("peer") in
// the same run and printed beside: that is how the figures before a change are compared.

#include "Posting.h"
#include "ServerProcess.h"
#include "ServerTestSupport.h"
#include "TestCertificate.h"
#include "access/PasswordHash.h"
#include "access/UsersFile.h"
#include "statement/LoadDocumentWriter.h"
#include "store/CommentStore.h"
#include "store/DemoData.h"

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sqlite3.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>
#include <tuple>

using namespace vcserver;
using vcbench::percentile;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kPage = "/VendorCommentLOAD.asp";
constexpr double kTargetMs = 200;

std::string insertBatch(const std::string& vendor, int n) {
    return vctest::insertBatch(vendor, 4, 12, "4/1/2009", "",
                               "Benchmark comment number " + std::to_string(n) +
                                   ", a line of ordinary length.");
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A server program on a free loopback port over a database prepared beforehand; its log
// goes nowhere, so logging costs the same whichever program runs.
class LiveServer {
public:
    LiveServer(const std::string& program, const std::filesystem::path& db,
               std::vector<std::string> options = {})
        : process_(withDatabase(db, std::move(options)), "/dev/null", program) {
        const std::string url = process_.firstLine();
        if (url.rfind("http://127.0.0.1:", 0) != 0 && url.rfind("https://127.0.0.1:", 0) != 0) {
            throw std::runtime_error("the server did not start");
        }
        origin_ = url.substr(0, url.size() - 1);
        port_ = std::stoi(origin_.substr(origin_.rfind(':') + 1));
    }

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" or "https://..."
    const std::string& origin() const { return origin_; }

    // The server's resident memory now (VmRSS) or at its peak (VmHWM), in MB.
    double memoryMb(const char* field) const {
        std::ifstream status("/proc/" + std::to_string(process_.pid()) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind(field, 0) == 0) {
                return std::atof(line.c_str() + std::string_view(field).size()) / 1024.0;
            }
        }
        return 0;
    }

private:
    static std::vector<std::string> withDatabase(const std::filesystem::path& db,
                                                 std::vector<std::string> options) {
        options.insert(options.begin(), {"--db", db.string(), "--listen", "127.0.0.1:0"});
        return options;
    }

    vctest::ServerProcess process_;
    std::string origin_;
    int port_ = 0;
};

// A database with the demo data.
std::filesystem::path prepareDatabase(const vctest::TempDir& dir) {
    const auto db = dir.path() / "bench.db";
    openSqliteStore(db)->seed(demoData());
    return db;
}

// Adds a vendor with count comments of at most length characters (at least one line), written
// straight into the table in one transaction.
void addVendor(const std::filesystem::path& db, const std::string& vendor, int count,
               std::size_t length) {
    sqlite3* raw = nullptr;
    sqlite3_open(db.c_str(), &raw);
    sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(raw,
                       "INSERT INTO VendorComment VALUES (?1, ?2, 4, 12, '2009-04-01', NULL, ?3, "
                       "'2009-04-01 00:00:00')",
                       -1, &st, nullptr);
    const std::string line = ": deliveries before noon only, & <always> with the PO number.";
    for (int i = 1; i <= count; ++i) {
        std::string comment = "Comment " + std::to_string(i) + line;
        while (comment.size() + line.size() <= length) {
            comment += line;
        }
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

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Connections that hold a server's attention without finishing a request: the even ones
// sit idle, the odd ones send a request one byte a second. A connection the server closes
// is opened again, so the load stays while the figures are taken.
class SlowClients {
public:
    SlowClients(int port, int count) : port_(port), slots_(static_cast<std::size_t>(count)) {
        for (auto& s : slots_) {
            s.fd = connectTo(port_);
        }
        thread_ = std::thread([this] { trickle(); });
    }
    ~SlowClients() {
        stop_ = true;
        thread_.join();
        for (auto& s : slots_) {
            if (s.fd >= 0) {
                ::close(s.fd);
            }
        }
    }

    int open() const {
        return static_cast<int>(
            std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.fd >= 0; }));
    }

private:
    struct Slot {
        int fd = -1;
        std::size_t sent = 0;
    };

    void trickle() {
        static const std::string request =
            "GET /VendorCommentLOAD.asp?Vendor=318 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        auto next = Clock::now();
        while (!stop_) {
            for (std::size_t i = 0; i < slots_.size(); ++i) {
                Slot& s = slots_[i];
                pollfd p{s.fd, POLLIN, 0};
                bool closed = s.fd < 0 || (poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP)));
                if (!closed && i % 2 == 1) {
                    // The last byte never goes: the request never completes.
                    const char byte = request[std::min(s.sent, request.size() - 2)];
                    closed = ::send(s.fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1;
                    ++s.sent;
                }
                if (closed) {
                    if (s.fd >= 0) {
                        ::close(s.fd);
                    }
                    s = {connectTo(port_), 0};
                }
            }
            next += 1s;
            while (!stop_ && Clock::now() < next) {
                std::this_thread::sleep_for(50ms);
            }
        }
    }

    const int port_;
    std::vector<Slot> slots_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string peerProgram() {
    const char* peer = std::getenv("VC_PEER_SERVER");
    return peer ? peer : "";
}

void BM_GetWhileSlowClients(benchmark::State& state, const std::string& program) {
    vctest::TempDir dir;
    LiveServer server(program, prepareDatabase(dir));
    constexpr int kSlow = 1000;
    constexpr int kGets = 20;
    constexpr auto kGiveUp = 10s;
    SlowClients slow(server.port(), kSlow);
    // Let the trickling clients send a few bytes each.
    std::this_thread::sleep_for(2s);
    std::vector<double> latencies;
    int unanswered = 0;
    for (auto _ : state) {
        for (int i = 0; i < kGets && unanswered == 0; ++i) {
            httplib::Client client("127.0.0.1", server.port());
            client.set_connection_timeout(kGiveUp);
            client.set_read_timeout(kGiveUp);
            const auto start = Clock::now();
            const auto res = client.Get(std::string(kPage) + "?Vendor=318");
            latencies.push_back(msSince(start));
            if (!res || res->status != 200) {
                ++unanswered; // the rest would wait as long; one is enough to show it
            }
        }
        state.SetIterationTime(percentile(latencies, 0.5) / 1000);
    }
    state.counters["slow_clients_open"] = slow.open();
    state.counters["get_p50_ms"] = percentile(latencies, 0.5);
    state.counters["get_max_ms"] = *std::max_element(latencies.begin(), latencies.end());
    state.counters["target_ms"] = kTargetMs;
    state.counters["unanswered_in_10s"] = unanswered;
    state.counters["server_rss_mb"] = server.memoryMb("VmRSS:");
}

void BM_KeepAliveGets200Clients(benchmark::State& state, const std::string& program) {
    vctest::TempDir dir;
    LiveServer server(program, prepareDatabase(dir));
    constexpr int kClients = 200;
    constexpr int kRequests = 20000;
    constexpr auto kTimeCap = 30s;
    std::vector<double> all;
    std::atomic<int> failures{0};
    double seconds = 0;
    for (auto _ : state) {
        std::atomic<int> left{kRequests};
        std::vector<std::vector<double>> perClient(kClients);
        std::vector<std::thread> threads;
        const auto start = Clock::now();
        for (int c = 0; c < kClients; ++c) {
            threads.emplace_back([&, c] {
                httplib::Client client("127.0.0.1", server.port());
                client.set_keep_alive(true);
                client.set_tcp_nodelay(true);
                client.set_read_timeout(10s);
                while (left-- > 0 && Clock::now() - start < kTimeCap) {
                    const auto sent = Clock::now();
                    const auto res = client.Get(std::string(kPage) + "?Vendor=318");
                    perClient[c].push_back(msSince(sent));
                    if (!res || res->status != 200) {
                        ++failures;
                    }
                }
            });
        }
        for (auto& t : threads) {
            t.join();
        }
        const double took = msSince(start) / 1000;
        state.SetIterationTime(took);
        seconds += took;
        for (const auto& v : perClient) {
            all.insert(all.end(), v.begin(), v.end());
        }
    }
    state.counters["gets_per_s"] = static_cast<double>(all.size()) / seconds;
    state.counters["p50_ms"] = percentile(all, 0.50);
    state.counters["p99_ms"] = percentile(all, 0.99);
    state.counters["target_p99_ms"] = kTargetMs;
    state.counters["failures"] = failures.load();
}

// Where the clients post and how they sign in: the CA to trust over HTTPS, the user to sign
// in as when the server has users.
struct Endpoint {
    std::string origin;
    std::filesystem::path ca;
    std::string user;
    std::string password;
};

// 8 clients, each posting 100 statements over one connection, signed in as `to` says.
template <typename MakeStatement>
std::vector<double> postConcurrently(const Endpoint& to, MakeStatement make,
                                     std::atomic<int>& failures) {
    return vcbench::postConcurrently(
        8, 100,
        [&](int) {
            httplib::Client client(to.origin);
            if (!to.ca.empty()) {
                client.set_ca_cert_path(to.ca.c_str());
                client.enable_server_certificate_verification(true);
            }
            if (!to.user.empty()) {
                client.set_basic_auth(to.user, to.password);
            }
            return client;
        },
        make, failures);
}

template <typename MakeStatement>
void runStatements(benchmark::State& state, const Endpoint& to, MakeStatement make) {
    std::vector<double> latencies;
    std::atomic<int> failures{0};
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto batch = postConcurrently(to, make, failures);
        const double took = msSince(start) / 1000;
        state.SetIterationTime(took);
        seconds += took;
        latencies.insert(latencies.end(), batch.begin(), batch.end());
    }
    state.counters["statements_per_s"] = static_cast<double>(latencies.size()) / seconds;
    state.counters["p50_ms"] = percentile(latencies, 0.50);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["failures"] = failures.load();
}

// How the page is served for the inserts.
enum class Guard { Open, Users, Tls, UsersTls };

// The open figures of each program, printed beside its others.
struct OpenFigures {
    double perSecond = 0;
    double p50 = 0;
    double p99 = 0;
};
std::map<std::string, OpenFigures> openFigures;

void BM_Inserts8Clients(benchmark::State& state, const std::string& program, Guard access) {
    vctest::TempDir dir;
    std::vector<std::string> options;
    Endpoint to;
    if (access == Guard::Users || access == Guard::UsersTls) {
        UsersFile users;
        users.put({"clerk", Role::Write, hashPassword("Clerk-Secret-1")});
        users.save(dir.path() / "users");
        options.insert(options.end(), {"--users", (dir.path() / "users").string()});
        to.user = "clerk";
        to.password = "Clerk-Secret-1";
    }
    if (access == Guard::Tls || access == Guard::UsersTls) {
        const auto made = vctest::makeTestCertificate(dir.path());
        options.insert(options.end(),
                       {"--tls-cert", made.certificate.string(), "--tls-key", made.key.string()});
        to.ca = made.certificate;
    }
    LiveServer server(program, prepareDatabase(dir), options);
    to.origin = server.origin();
    if (!to.user.empty()) {
        // The first sign-in checks the password's hash; later ones are recalled without it.
        // Timed apart, so the inserts show the steady cost.
        httplib::Client client(to.origin);
        if (!to.ca.empty()) {
            client.set_ca_cert_path(to.ca.c_str());
        }
        client.set_basic_auth(to.user, to.password);
        const auto start = Clock::now();
        const auto res = client.Get(std::string(kPage) + "?Vendor=318");
        state.counters["first_sign_in_ms"] = msSince(start);
        if (!res || res->status != 200) {
            state.SkipWithError("the first sign-in failed");
            return;
        }
    }
    // Clients share two vendors, so inserts contend for the same next sequence.
    runStatements(state, to, [](int client, int i) {
        return insertBatch(client % 2 ? "V100" : "318", client * 1000 + i);
    });
    if (access == Guard::Open) {
        openFigures[program] = {state.counters["statements_per_s"], state.counters["p50_ms"],
                                state.counters["p99_ms"]};
    } else {
        const OpenFigures open = openFigures[program];
        state.counters["open_statements_per_s"] = open.perSecond;
        state.counters["open_p50_ms"] = open.p50;
        state.counters["open_p99_ms"] = open.p99;
    }
}

// Reads one answer to the end from a raw connection, counting its bytes.
std::size_t drainAnswer(int fd) {
    std::size_t total = 0;
    std::vector<char> buf(1 << 20);
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 30000) > 0) {
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0) {
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    return total;
}

void BM_Get400OverlappingRanges(benchmark::State& state, const std::string& program) {
    vctest::TempDir dir;
    // A document of about 900 KB, as with the long comments that showed the fault.
    const auto db = prepareDatabase(dir);
    addVendor(db, "WIDE", 30, 30000);
    LiveServer server(program, db);
    std::string request = "GET /VendorCommentLOAD.asp?Vendor=WIDE HTTP/1.1\r\nHost: "
                          "127.0.0.1\r\nConnection: close\r\nRange: bytes=0-";
    for (int i = 1; i < 400; ++i) {
        request += ",0-";
    }
    request += "\r\n\r\n";
    const double before = server.memoryMb("VmRSS:");
    std::size_t answer = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const int fd = connectTo(server.port());
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        answer = drainAnswer(fd);
        ::close(fd);
        state.SetIterationTime(msSince(start) / 1000);
    }
    state.counters["document_bytes"] =
        static_cast<double>(loadDocument(openSqliteStore(db)->load("WIDE")).size());
    state.counters["request_bytes"] = static_cast<double>(request.size());
    state.counters["answer_bytes"] = static_cast<double>(answer);
    state.counters["server_rss_before_mb"] = before;
    state.counters["server_peak_mb"] = server.memoryMb("VmHWM:");
}

// 1,000 slow clients and the benchmark's own connections need more than the usual 1,024
// descriptors; the server programs inherit the raised limit.
void raiseDescriptorLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

} // namespace

int main(int argc, char** argv) {
    raiseDescriptorLimit();
    std::vector<std::pair<std::string, std::string>> programs = {{"this", VC_SERVER_PROGRAM}};
    if (const std::string peer = peerProgram(); !peer.empty()) {
        programs.emplace_back("peer", peer);
    }
    using Bench = std::function<void(benchmark::State&, const std::string&)>;
    const auto inserts = [](Guard access) {
        return [access](benchmark::State& state, const std::string& program) {
            BM_Inserts8Clients(state, program, access);
        };
    };
    // The open inserts of a program run before its signed-in and HTTPS ones, which print
    // them beside their own; a peer build may not know those options, so only this one runs
    // them.
    const std::tuple<const char*, Bench, bool> benches[] = {
        {"GetWhileSlowClients", BM_GetWhileSlowClients, true},
        {"KeepAliveGets200Clients", BM_KeepAliveGets200Clients, true},
        {"Inserts8Clients", inserts(Guard::Open), true},
        {"Inserts8Clients/users", inserts(Guard::Users), false},
        {"Inserts8Clients/tls", inserts(Guard::Tls), false},
        {"Inserts8Clients/users+tls", inserts(Guard::UsersTls), false},
        {"Get400OverlappingRanges", BM_Get400OverlappingRanges, true},
    };
    for (const auto& [name, bench, peerToo] : benches) {
        for (const auto& [label, program] : programs) {
            if (label != "this" && !peerToo) {
                continue;
            }
            benchmark::RegisterBenchmark((std::string(name) + "/" + label).c_str(), bench, program)
                ->UseManualTime()
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
