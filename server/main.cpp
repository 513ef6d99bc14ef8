// vendor-comment-server: the reference server page the VendorComment control talks to.

#include "AdminCommands.h"
#include "CommandLine.h"
#include "CommentServer.h"
#include "DemoData.h"
#include "PostgresUri.h"
#include "UserCommand.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>

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
    "       vendor-comment-server user add NAME --role read|write --users FILE\n"
    "       vendor-comment-server user remove NAME --users FILE\n"
    "       vendor-comment-server lookup list|add|rename|remove --db DB type|location ...\n"
    "       vendor-comment-server import --db DB FILE.csv [--dry-run]\n"
    "       vendor-comment-server export --db DB [--vendor V] > FILE.csv\n"
    "       vendor-comment-server backup --db FILE OUT\n"
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
    "  --version           print the version and exit\n"
    "Prints the base URL on the first line of standard output and logs one line per request\n"
    "on standard error: time, client, method, path, status, bytes, duration and, for a\n"
    "refusal, the reason. Stops on SIGINT or SIGTERM.\n";

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
};

int usageError(const std::string& message) {
    std::cerr << "vendor-comment-server: " << message << "\n" << kUsage;
    return 2;
}

// "HOST:PORT", "[v6-address]:PORT" or ":PORT".
bool parseListen(const std::string& text, Options& options) {
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
    options.port = std::stoi(port);
    if (options.port > 65535) {
        return false;
    }
    if (!host.empty()) {
        options.host = host;
    }
    return true;
}

std::optional<Options> parseArguments(int argc, char** argv, int& exitCode) {
    std::string problem;
    const auto arguments = vcserver::readArguments(argc, argv,
                                                   {{"help", false},
                                                    {"version", false},
                                                    {"db", true},
                                                    {"listen", true},
                                                    {"seed-demo", false},
                                                    {"log-format", true},
                                                    {"users", true},
                                                    {"tls-cert", true},
                                                    {"tls-key", true},
                                                    {"insecure-open", false}},
                                                   problem);
    if (!arguments) {
        exitCode = usageError(problem);
        return std::nullopt;
    }
    if (!arguments->operands.empty()) {
        exitCode = usageError("unexpected argument '" + arguments->operands.front() + "'");
        return std::nullopt;
    }
    Options options;
    for (const auto& [name, value] : arguments->options) {
        if (name == "help") {
            std::cout << kUsage;
            exitCode = 0;
            return std::nullopt;
        } else if (name == "version") {
            std::cout << "vendor-comment-server " << VC_VERSION << "\n";
            exitCode = 0;
            return std::nullopt;
        } else if (name == "db") {
            options.db = value;
        } else if (name == "listen") {
            if (!parseListen(value, options)) {
                exitCode = usageError("--listen wants HOST:PORT, got '" + value + "'");
                return std::nullopt;
            }
        } else if (name == "seed-demo") {
            options.seedDemo = true;
        } else if (name == "log-format") {
            if (value != "text" && value != "json") {
                exitCode = usageError("--log-format wants text or json, got '" + value + "'");
                return std::nullopt;
            }
            options.logFormat =
                value == "json" ? vcserver::LogFormat::Json : vcserver::LogFormat::Text;
        } else if (name == "users") {
            options.users = value;
        } else if (name == "tls-cert") {
            options.tlsCert = value;
        } else if (name == "tls-key") {
            options.tlsKey = value;
        } else if (name == "insecure-open") {
            options.insecureOpen = true;
        }
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
    if (argc > 1 && std::string(argv[1]) == "user") {
        return vcserver::runUserCommand(argc - 1, argv + 1);
    }
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
    const std::string address = options->host + ":" + std::to_string(options->port);
    const bool loopback = isLoopback(options->host);
    if (options->users.empty() && !loopback && !options->insecureOpen) {
        std::cerr << "vendor-comment-server: refusing to serve " << address
                  << " without --users: anyone who reaches it could change every vendor's "
                     "comments. Give --users FILE (made by 'user add'), listen on 127.0.0.1, or "
                     "give --insecure-open to serve it open anyway.\n";
        return 2;
    }

    vcserver::ServerOptions serverOptions;
    serverOptions.logFormat = options->logFormat;
    try {
        if (!options->users.empty()) {
            serverOptions.users = std::make_shared<vcserver::Authenticator>(options->users);
        }
        if (!options->tlsCert.empty()) {
            serverOptions.tls = vcserver::readTlsFiles(options->tlsCert, options->tlsKey);
        }
    } catch (const std::exception& e) {
        std::cerr << "vendor-comment-server: " << e.what() << "\n";
        return 1;
    }
    if (serverOptions.users && serverOptions.users->userCount() == 0) {
        std::cerr << "vendor-comment-server: warning: users file " << options->users
                  << " has no users; every request is refused until 'user add' adds one\n";
    }
    if (serverOptions.users && !serverOptions.tls && !loopback) {
        std::cerr << "vendor-comment-server: warning: passwords cross the network in clear "
                     "text on "
                  << address << "; give --tls-cert and --tls-key, or serve behind a TLS proxy\n";
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
        std::cerr << "vendor-comment-server: cannot use database '" << shown << "': " << e.what()
                  << "\n";
        return 1;
    }

    raiseDescriptorLimit();
    vcserver::CommentServer server(*store, &std::cerr, kWorkerThreads, serverOptions);
    if (server.bind(options->host, options->port) < 0) {
        std::cerr << "vendor-comment-server: cannot listen on " << options->host << ":"
                  << options->port << ": " << server.bindError() << "\n";
        return 1;
    }
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
        std::cerr << "vendor-comment-server: the HTTP service could not be started\n";
        return 1;
    }
    std::cerr << "vendor-comment-server: stopped\n";
    return 0;
}
