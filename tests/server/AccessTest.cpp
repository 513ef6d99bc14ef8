// Users and TLS: the users file made by the program's own 'user' command, sign-in with HTTP
// Basic and the two roles, credentials in every wrong shape, guessing slowed down per client
// address, and HTTPS with a certificate made by the test.

#include "ServerProcess.h"
#include "ServerTestSupport.h"
#include "TestCertificate.h"
#include "access/FailureThrottle.h"
#include "access/PasswordHash.h"
#include "http/CommentServer.h"
#include "store/DemoData.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>

using namespace vcserver;
using namespace vctest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kPage = "/VendorCommentLOAD.asp";
const char* const kFormType = "application/x-www-form-urlencoded";
const std::string kLoad = std::string(kPage) + "?Vendor=318";
const std::string kAlicePassword = "Alice-Secret-1";
const std::string kBobPassword = "Bob-Secret-2";

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string base64(std::string_view bytes) {
    static const char* const digits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = 0;
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        for (std::size_t j = 0; j < 3; ++j) {
            group = group << 8 | (j < n ? static_cast<unsigned char>(bytes[i + j]) : 0);
        }
        for (std::size_t j = 0; j < 4; ++j) {
            out += j <= n ? digits[group >> (18 - 6 * j) & 63] : '=';
        }
    }
    return out;
}

std::string basic(std::string_view nameAndPassword) {
    return "Basic " + base64(nameAndPassword);
}

// What the page answered one request.
struct Reply {
    int status = -1;
    std::string body;
    std::string challenge; // WWW-Authenticate
};

// A GET of vendor 318's document, or a POST of an insert for it, with the header given.
Reply request(httplib::Client& client, bool post, const std::string& authorization) {
    httplib::Headers headers;
    if (!authorization.empty()) {
        headers.emplace("Authorization", authorization);
    }
    const auto res =
        post ? client.Post(kPage, headers,
                           "SQL=" + formEncode(insertBatch("318", 4, 12, "", "", "signed in")),
                           kFormType)
             : client.Get(kLoad, headers);
    if (!res) {
        return {};
    }
    return {res->status, res->body, res->get_header_value("WWW-Authenticate")};
}

// A 401 asks for Basic credentials and has no text, so the control reports a statement
// refused this way as a failed transfer.
void expectChallenge(const Reply& reply) {
    EXPECT_EQ(reply.status, 401);
    EXPECT_EQ(reply.body, "");
    EXPECT_EQ(reply.challenge.rfind("Basic realm=\"", 0), 0u) << reply.challenge;
}

// The real program: 'user add' and 'user remove' on a file a running server reads again.
TEST(UsersFileProgram, AddSignInByRoleChangeAndRemove) {
    TempDir dir;
    const auto users = dir.path() / "users";
    const auto errors = dir.path() / "stderr.txt";
    const auto user = [&](std::vector<std::string> args, const std::string& input) {
        std::ofstream(dir.path() / "input", std::ios::binary) << input;
        args.insert(args.begin(), "user");
        args.insert(args.end(), {"--users", users.string()});
        ServerProcess command(args, errors, VC_SERVER_PROGRAM, dir.path() / "input");
        return command.wait(30000);
    };
    ASSERT_EQ(user({"add", "alice", "--role", "write"}, kAlicePassword + "\n"), 0)
        << readFile(errors);
    // As a Windows editor would save it.
    ASSERT_EQ(user({"add", "bob", "--role", "read"}, kBobPassword + "\r\n"), 0);
    struct stat st {};
    ASSERT_EQ(::stat(users.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ServerProcess server({"--db", (dir.path() / "comments.db").string(), "--listen", "127.0.0.1:0",
                          "--seed-demo", "--users", users.string()},
                         errors);
    const std::string url = server.firstLine();
    ASSERT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << readFile(errors);
    httplib::Client client("127.0.0.1", std::stoi(url.substr(17)));
    const auto as = [](const std::string& name, const std::string& password) {
        return basic(name + ":" + password);
    };

    const struct {
        const char* name;
        std::string authorization;
        bool post;
        int status;
        std::string text;
    } cases[] = {
        {"WriterLoads", as("alice", kAlicePassword), false, 200, ""},
        {"WriterPosts", as("alice", kAlicePassword), true, 200, ""},
        {"ReaderLoads", as("bob", kBobPassword), false, 200, ""},
        {"ReaderPosts", as("bob", kBobPassword), true, 403,
         "User bob may load comments but not change them: that needs the write role."},
        {"WrongPassword", as("alice", "Wrong-Secret-3"), false, 401, ""},
        {"NoCredentials", "", true, 401, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Reply reply = request(client, c.post, c.authorization);
        EXPECT_EQ(reply.status, c.status);
        if (c.status == 401) {
            expectChallenge(reply);
        } else if (c.post || c.status != 200) {
            EXPECT_EQ(reply.body, c.text);
        }
    }

    // Adding a user again sets a new role and password, at once.
    ASSERT_EQ(user({"add", "bob", "--role", "write"}, "Bob-Secret-4\n"), 0);
    EXPECT_EQ(request(client, false, as("bob", kBobPassword)).status, 401);
    EXPECT_EQ(request(client, true, as("bob", "Bob-Secret-4")).status, 200);
    ASSERT_EQ(user({"remove", "alice"}, ""), 0);
    EXPECT_EQ(request(client, false, as("alice", kAlicePassword)).status, 401);
    EXPECT_EQ(user({"remove", "alice"}, ""), 1);
    EXPECT_EQ(user({"add", "carol", "--role", "read"}, ""), 1) << "no password given";
    EXPECT_EQ(user({"add", "carol:x", "--role", "read"}, "pw\n"), 2);

    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(), 0);
    const std::string log = readFile(errors);
    EXPECT_NE(log.find("alice@127.0.0.1 POST /VendorCommentLOAD.asp 200 0 "), std::string::npos)
        << log;
    EXPECT_NE(log.find(" 127.0.0.1 GET /VendorCommentLOAD.asp?Vendor=318 401 0 "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\"Wrong password for user alice.\""), std::string::npos) << log;
    EXPECT_NE(log.find("users file " + users.string() + " has no user alice"), std::string::npos)
        << log;
    const std::string file = readFile(users);
    EXPECT_EQ(file.rfind("bob:write:$", 0), 0u) << file;
    for (const std::string& secret : {kAlicePassword, kBobPassword, std::string("Wrong-Secret-3"),
                                      std::string("Bob-Secret-4")}) {
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
        EXPECT_EQ(file.find(secret), std::string::npos) << secret;
    }
}

// After the free failures each further attempt waits its turn, the wait doubling up to the
// longest; attempts that would wait longer are refused at once; other addresses are not
// held up, and an address forgets after a quiet while.
TEST(FailureThrottle, FreeFailuresThenTurnsThatDouble) {
    ServerLimits limits;
    limits.freeSignInFailures = 3;
    limits.signInDelay = 1s;
    limits.maxSignInDelay = 4s;
    limits.signInFailureMemory = 60s;
    const auto t0 = Clock::time_point{} + 1h;
    const struct {
        int failures;
        std::chrono::seconds wait;
    } rows[] = {{0, 0s}, {2, 0s}, {3, 1s}, {4, 2s}, {5, 4s}, {9, 4s}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.failures);
        FailureThrottle throttle(limits);
        for (int i = 0; i < row.failures; ++i) {
            throttle.failed("10.0.0.1", t0);
        }
        EXPECT_EQ(throttle.admit("10.0.0.1", t0), t0 + row.wait);
        EXPECT_EQ(throttle.admit("10.0.0.2", t0), t0);
    }

    FailureThrottle throttle(limits);
    for (int i = 0; i < 3; ++i) {
        throttle.failed("10.0.0.1", t0);
    }
    // Attempts arriving together take turns, until the queue is longer than the longest wait.
    EXPECT_EQ(throttle.admit("10.0.0.1", t0), t0 + 1s);
    EXPECT_EQ(throttle.admit("10.0.0.1", t0), t0 + 2s);
    EXPECT_EQ(throttle.admit("10.0.0.1", t0), t0 + 3s);
    EXPECT_EQ(throttle.admit("10.0.0.1", t0), t0 + 4s);
    EXPECT_EQ(throttle.admit("10.0.0.1", t0), std::nullopt);
    EXPECT_EQ(throttle.admit("10.0.0.1", t0 + 70s), t0 + 70s);
}

// The page in-process with two users, alice (write) and bob (read).
class SignInTest : public ::testing::Test {
protected:
    void SetUp() override {
        UsersFile file;
        file.put({"alice", Role::Write, hashPassword(kAlicePassword)});
        file.put({"bob", Role::Read, hashPassword(kBobPassword)});
        file.save(dir_.path() / "users");
    }

    void start(const ServerLimits& limits = {}, std::optional<TlsCredentials> tls = {}) {
        store_ = openSqliteStore(dir_.path() / "comments.db");
        store_->seed(demoData());
        ServerOptions options;
        options.limits = limits;
        options.users = std::make_shared<Authenticator>(dir_.path() / "users");
        options.tls = std::move(tls);
        server_ = std::make_unique<RunningServer>(*store_, &log_, 4, options);
        port_ = server_->port();
        ASSERT_GT(port_, 0);
    }

    Reply get(const std::string& authorization) {
        httplib::Client client("127.0.0.1", port_);
        return request(client, false, authorization);
    }

    TempDir dir_;
    SharedLog logLines_;
    std::ostream log_{&logLines_};
    std::unique_ptr<CommentStore> store_;
    std::unique_ptr<RunningServer> server_;
    int port_ = 0;
};

// Each is refused with a 401 (a head over its limit with a 431 before the credentials are
// read); the server goes on, and no password reaches the log.
TEST_F(SignInTest, CredentialsInEveryWrongShapeAreRefused) {
    ServerLimits limits;
    limits.freeSignInFailures = 100;
    start(limits);
    const struct {
        const char* name;
        std::string authorization;
        int status;
    } cases[] = {
        {"NoColon", basic("alice" + kAlicePassword), 401},
        {"EmptyName", basic(":Empty-Name-Secret"), 401},
        {"EmptyPassword", basic("alice:"), 401},
        {"BadBase64", "Basic *Bad-Base64-Secret*", 401},
        {"UnknownUser", basic("mallory:Unknown-User-Secret"), 401},
        {"PasswordTypedAsName", basic("Typed-As-Name-Secret:" + kAlicePassword), 401},
        {"WrongPassword", basic("alice:Wrong-Password-Secret"), 401},
        {"ZeroByteInPassword", basic("alice:" + kAlicePassword + std::string(1, '\0') + "x"), 401},
        {"ZeroByteInName", basic("alice" + std::string(1, '\0') + "x:" + kAlicePassword), 401},
        {"OtherScheme", "Bearer Bearer-Secret", 401},
        {"SchemeAlone", "Basic", 401},
        {"SixKilobytePassword", basic("alice:Long-Secret" + std::string(6000, 'x')), 401},
        {"TenKilobytePassword", basic("alice:Long-Secret" + std::string(10240, 'x')), 431},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Reply reply = get(c.authorization);
        if (c.status == 401) {
            expectChallenge(reply);
        } else {
            EXPECT_EQ(reply.status, c.status);
        }
    }
    EXPECT_EQ(get(basic("alice:" + kAlicePassword)).status, 200);

    std::vector<std::string> log;
    EXPECT_TRUE(waitFor([&] { return (log = logLines_.lines()).size() > std::size(cases); }, 10s));
    for (const auto& line : log) {
        for (const char* secret : {"Secret", "Long-Secret", "Typed-As-Name"}) {
            EXPECT_EQ(line.find(secret), std::string::npos) << line;
        }
    }
}

// A client that keeps guessing waits its turn; a client signed in before, from the same
// address, is answered meanwhile.
TEST_F(SignInTest, GuessesWaitTheirTurnWhileSignedInClientsGoOn) {
    ServerLimits limits;
    limits.freeSignInFailures = 2;
    limits.signInDelay = 1s;
    start(limits);
    const std::string alice = basic("alice:" + kAlicePassword);
    ASSERT_EQ(get(alice).status, 200);
    EXPECT_EQ(get(basic("alice:guess-1")).status, 401);
    EXPECT_EQ(get(basic("alice:guess-2")).status, 401);

    std::atomic<bool> guessAnswered{false};
    Clock::duration guessTook{};
    std::thread guess([&] {
        const auto start = Clock::now();
        expectChallenge(get(basic("alice:guess-3")));
        guessTook = Clock::now() - start;
        guessAnswered = true;
    });
    EXPECT_EQ(get(alice).status, 200);
    EXPECT_FALSE(guessAnswered) << "the signed-in client waited behind the guess";
    guess.join();
    EXPECT_GE(guessTook, limits.signInDelay);
}

// HTTPS with a certificate made here: a client trusting it signs in, loads and posts; a
// client trusting only the system's store, and one speaking plain HTTP, get nothing.
TEST_F(SignInTest, HttpsWithTheTestCertificate) {
    const TestCertificate made = makeTestCertificate(dir_.path());
    start({}, readTlsFiles(made.certificate, made.key));
    EXPECT_EQ(server_->server().baseUrl(), "https://127.0.0.1:" + std::to_string(port_) + "/");

    const std::string origin = "https://127.0.0.1:" + std::to_string(port_);
    httplib::Client trusting(origin);
    trusting.set_ca_cert_path(made.certificate.c_str());
    trusting.enable_server_certificate_verification(true);
    const std::string alice = basic("alice:" + kAlicePassword);
    const Reply load = request(trusting, false, alice);
    EXPECT_EQ(load.status, 200);
    EXPECT_NE(load.body.find("<VendorComments>"), std::string::npos) << load.body;
    const Reply insert = request(trusting, true, alice);
    EXPECT_EQ(insert.status, 200);
    EXPECT_EQ(insert.body, "");

    httplib::Client systemStore(origin);
    systemStore.enable_server_certificate_verification(true);
    EXPECT_EQ(request(systemStore, false, alice).status, -1);
    httplib::Client plain("127.0.0.1", port_);
    plain.set_read_timeout(5s);
    EXPECT_EQ(request(plain, false, alice).status, -1);
}

} // namespace
