// vendor-comment-server: the reference server page the VendorComment control talks to.

#include "CommandLine.h"
#include "admin/AdminCommands.h"
#include "http/CommentServer.h"
#include "store/DemoData.h"
#include "store/PostgresUri.h"

#include "common/Text.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

// Threads running the page's database work, each one store call at a time; the PostgreSQL
// store keeps as many connections.
constexpr std::size_t kWorkerThreads = 16;

constexpr const char* kUsage =
    "usage: vendor-comment-server --db FILE|URI [--listen HOST:PORT] [--seed-demo]\n"
    "                             [--log-format text|json] [--users FILE]\n"
    "                             [--tls-cert FILE --tls-key FILE] [--insecure-open]\n"
    "                             [--metrics-listen HOST:PORT] [--cache-bytes N]\n"
    "       vendor-comment-server user add NAME --role read|write --users FILE\n"
    "       vendor-comment-server user remove NAME --users FILE\n"
    "       vendor-comment-server lookup list|add|rename|remove --db DB type|location ...\n"
    "       vendor-comment-server import --db DB FILE.csv [--dry-run] [--for-spreadsheet]\n"
    "       vendor-comment-server export --db DB [--vendor V] [--for-spreadsheet] > FILE.csv\n"
    "       vendor-comment-server backup --db FILE OUT\n"
    "       vendor-comment-server history --db DB --vendor V [--sequence N] [--json]\n"
    "       vendor-comment-server history --db DB --prune-before TIME\n"
    "       vendor-comment-server restore --db DB --vendor V --sequence N [--at TIME]\n"
    "       (each command's --help says more)\n"
    "  --db FILE           SQLite database file, created with its tables when missing\n"
    "  --db URI            PostgreSQL database, postgresql://USER@HOST:PORT/DBNAME?...; the\n"
    "                      password comes from PGPASSWORD, ~/.pgpass or the URI\n"
    "  --listen HOST:PORT  address to serve on (default 127.0.0.1:8080; port 0 picks one)\n"
    "  --seed-demo         add demo lookups and comments for vendors 318 and V100\n"
    "  --log-format F      text (default) or json, one object a line for a log collector\n"
    "  --users FILE        sign requests in with HTTP Basic against FILE's name:role:hash\n"
    "                      lines (made by 'user add'): read users may load, write users may\n"
    "                      also change comments\n"
    "  --tls-cert FILE     serve HTTPS with this PEM certificate (intermediates after it)\n"
    "  --tls-key FILE      ... and its PEM private key\n"
    "  --insecure-open     serve a non-loopback address without --users, open to anyone\n"
    "  --metrics-listen HOST:PORT  serve GET /metrics there (plain HTTP, no sign-in) instead\n"
    "                      of beside the page; loopback unless --insecure-open\n"
    "  --cache-bytes N     keep built load documents up to N bytes (K, M, G: KiB, MiB,\n"
    "                      GiB; default 64M; 0 keeps none); each is sent again only while\n"
    "                      nothing it shows has changed\n"
    "  -h, --help          print this and exit\n"
    "  --version           print the version and exit\n"
    "Prints the base URL on the first line of standard output and logs one line per request\n"
    "on standard error: time, client, method, path, status, bytes, duration and, for a\n"
    "refusal, the reason. GET /healthz answers 200 \"ok\" while the database answers, 503\n"
    "otherwise, without sign-in; GET /metrics the counts in the Prometheus text format.\n"
    "Stops on SIGINT or SIGTERM.\n";

struct Options {
    std::string db;
    std::string host = "127.0.0.1";
    int port = 8080;
    bool seedDemo = false;
    vcserver::LogFormat logFormat = vcserver::LogFormat::Text;
    std::string users;
    std::string tlsCert;
    std::string tlsKey;
    bool insecureOpen = false;
    std::string metricsHost;
    int metricsPort = -1; // none: the metrics are served beside the page
    std::size_t cacheBytes = vcserver::ServerOptions{}.cacheBytes;
};

// "N", "NK", "NM" or "NG" (binary multiples), at most 1 TiB.
std::string byteCountProblem(const std::string& text, std::size_t& out) {
    const std::size_t digits = text.find_first_not_of("0123456789");
    const std::string suffix = digits == std::string::npos ? "" : text.substr(digits);
    const int shift = suffix.empty()  ? 0
                      : suffix == "K" ? 10
                      : suffix == "M" ? 20
                      : suffix == "G" ? 30
                                      : -1;
    if (text.empty() || digits == 0 || shift < 0 || text.size() - suffix.size() > 13) {
        return "--cache-bytes wants a byte count such as 67108864 or 64M, got '" +
               tavik::common::excerpt(text) + "'";
    }
    const std::size_t n = std::stoull(text.substr(0, text.size() - suffix.size()));
    if (n > (std::size_t{1} << (40 - shift))) {
        return "--cache-bytes is at most 1 TiB";
    }
    out = n << shift;
    return {};
}

int usageError(const std::string& message) {
    std::cerr << "vendor-comment-server: " << message << "\n" << kUsage;
    return 2;
}

// "HOST:PORT", "[v6-address]:PORT" or ":PORT"; an empty HOST leaves host as it is.
bool parseAddress(const std::string& text, std::string& hostOut, int& portOut) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    portOut = std::stoi(port);
    if (portOut > 65535) {
        return false;
    }
    if (!host.empty()) {
        hostOut = host;
    }
    return true;
}

// Why an option's HOST:PORT will not do, empty when it does.
std::string addressProblem(const char* option, const std::string& text, std::string& host,
                           int& port) {
    return parseAddress(text, host, port) ? std::string()
                                          : std::string(option) + " wants HOST:PORT, got '" +
                                                tavik::common::excerpt(text) + "'";
}

std::optional<Options> parseArguments(int argc, char** argv, int& exitCode) {
    Options options;
    bool version = false;
    std::string problem;
    const auto arguments = vcserver::readArguments(
        argc, argv,
        {{"version", &version, true},
         {"db", &options.db},
         {"listen",
          [&](const std::string& value) {
              return addressProblem("--listen", value, options.host, options.port);
          }},
         {"seed-demo", &options.seedDemo},
         {"log-format",
          [&](const std::string& value) {
              if (value != "text" && value != "json") {
                  return "--log-format wants text or json, got '" + tavik::common::excerpt(value) +
                         "'";
              }
              options.logFormat =
                  value == "json" ? vcserver::LogFormat::Json : vcserver::LogFormat::Text;
              return std::string();
          }},
         {"users", &options.users},
         {"tls-cert", &options.tlsCert},
         {"tls-key", &options.tlsKey},
         {"insecure-open", &options.insecureOpen},
         {"metrics-listen",
          [&](const std::string& value) {
              options.metricsHost = "127.0.0.1";
              return addressProblem("--metrics-listen", value, options.metricsHost,
                                    options.metricsPort);
          }},
         {"cache-bytes",
          [&](const std::string& value) { return byteCountProblem(value, options.cacheBytes); }}},
        problem, false);
    if (!arguments) {
        exitCode = usageError(problem);
        return std::nullopt;
    }
    if (arguments->help) {
        std::cout << kUsage;
        exitCode = 0;
        return std::nullopt;
    }
    if (version) {
        std::cout << "vendor-comment-server " << VC_VERSION << "\n";
        exitCode = 0;
        return std::nullopt;
    }
    if (options.db.empty()) {
        exitCode = usageError("--db FILE|URI is required");
        return std::nullopt;
    }
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        exitCode = usageError("--tls-cert and --tls-key go together");
        return std::nullopt;
    }
    return options;
}

// Whether every address the host name stands for is this machine's own loopback. An empty
// host is every address.
bool isLoopback(const std::string& host) {
    if (host.empty()) {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
        return false;
    }
    bool loopback = found != nullptr;
    for (const addrinfo* ai = found; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET) {
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
            loopback = loopback && (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
        } else if (ai->ai_family == AF_INET6) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(ai->ai_addr);
            loopback = loopback && IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
        } else {
            loopback = false;
        }
    }
    freeaddrinfo(found);
    return loopback;
}

// The program's own lines on standard error: as they always read in text, or one JSON object
// each with its level, like the request log, for a collector.
void say(vcserver::LogFormat format, vcserver::LogLevel level, const std::string& text) {
    if (format == vcserver::LogFormat::Json) {
        std::cerr << vcserver::formatMessage(text, level, format, std::chrono::system_clock::now())
                  << std::endl;
    } else {
        std::cerr << "vendor-comment-server: "
                  << (level == vcserver::LogLevel::Warning ? "warning: " : "") << text << std::endl;
    }
}

// Every connection holds a descriptor; the usual soft limit of 1,024 would cap the server
// far below its connection limit.
void raiseDescriptorLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        if (const auto command = vcserver::adminCommandNamed(argv[1])) {
            return command(argc - 1, argv + 1);
        }
    }
    int exitCode = 0;
    const auto options = parseArguments(argc, argv, exitCode);
    if (!options) {
        return exitCode;
    }
    using vcserver::LogLevel;
    const auto log = [format = options->logFormat](LogLevel level, const std::string& text) {
        say(format, level, text);
    };
    const std::string address = options->host + ":" + std::to_string(options->port);
    const bool loopback = isLoopback(options->host);
    if (options->users.empty() && !loopback && !options->insecureOpen) {
        log(LogLevel::Error, "refusing to serve " + address +
                                 " without --users: anyone who reaches it could change every "
                                 "vendor's comments. Give --users FILE (made by 'user add'), "
                                 "listen on 127.0.0.1, or give --insecure-open to serve it open "
                                 "anyway.");
        return 2;
    }
    // The metrics' address has no sign-in: the same rule as the page without users.
    if (options->metricsPort >= 0 && !isLoopback(options->metricsHost) && !options->insecureOpen) {
        log(LogLevel::Error, "refusing to serve metrics on " + options->metricsHost + ":" +
                                 std::to_string(options->metricsPort) +
                                 ", which has no sign-in: give a loopback address, or "
                                 "--insecure-open to serve them open anyway.");
        return 2;
    }

    vcserver::ServerOptions serverOptions;
    serverOptions.logFormat = options->logFormat;
    serverOptions.cacheBytes = options->cacheBytes;
    // Each call to a database server waits on the network: every thread may wait at once.
    if (vcserver::isPostgresUri(options->db)) {
        serverOptions.eagerThreads = kWorkerThreads;
    }
    try {
        if (!options->users.empty()) {
            serverOptions.users = std::make_shared<vcserver::Authenticator>(options->users);
        }
        if (!options->tlsCert.empty()) {
            serverOptions.tls = vcserver::readTlsFiles(options->tlsCert, options->tlsKey);
        }
    } catch (const std::exception& e) {
        log(LogLevel::Error, e.what());
        return 1;
    }
    if (serverOptions.users && serverOptions.users->userCount() == 0) {
        log(LogLevel::Warning, "users file " + options->users +
                                   " has no users; every request is refused until 'user add' "
                                   "adds one");
    }
    if (serverOptions.users && !serverOptions.tls && !loopback) {
        log(LogLevel::Warning, "passwords cross the network in clear text on " + address +
                                   "; give --tls-cert and --tls-key, or serve behind a TLS "
                                   "proxy");
    }

    // Block the stop signals in every thread; one thread takes them with sigwait, so the
    // server is stopped from ordinary code rather than from a signal handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<vcserver::CommentStore> store;
    try {
        store = vcserver::openStore(options->db, kWorkerThreads);
        if (options->seedDemo) {
            store->seed(vcserver::demoData());
        }
    } catch (const vcserver::StoreError& e) {
        const std::string shown =
            vcserver::isPostgresUri(options->db) ? vcserver::redactedUri(options->db) : options->db;
        log(LogLevel::Error, "cannot use database '" + shown + "': " + e.what());
        return 1;
    }

    raiseDescriptorLimit();
    vcserver::CommentServer server(*store, &std::cerr, kWorkerThreads, serverOptions);
    if (server.bind(options->host, options->port) < 0) {
        log(LogLevel::Error, "cannot listen on " + address + ": " + server.bindError());
        return 1;
    }
    if (options->metricsPort >= 0 &&
        server.bindMetrics(options->metricsHost, options->metricsPort) < 0) {
        log(LogLevel::Error, "cannot listen on " + options->metricsHost + ":" +
                                 std::to_string(options->metricsPort) +
                                 " for metrics: " + server.bindError());
        return 1;
    }
    // Logged before the URL goes out, so whoever reads the URL finds the line already there.
    log(LogLevel::Info,
        "serving " + server.baseUrl() +
            (options->metricsPort >= 0 ? ", metrics on " + server.metricsUrl() : std::string()));
    std::cout << server.baseUrl() << std::endl;

    std::thread signalThread([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    });
    const bool served = server.run();
    // The server may also end without a signal; wake the signal thread so it can be joined.
    pthread_kill(signalThread.native_handle(), SIGTERM);
    signalThread.join();
    if (!served) {
        log(LogLevel::Error, "the HTTP service could not be started");
        return 1;
    }
    log(LogLevel::Info, "stopped");
    return 0;
}
