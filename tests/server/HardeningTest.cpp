// The server page under hostile and unlucky clients: slow and idle connections, the limits
// and their answers, Range, the date bounds, the comment length and the log a collector
// reads.

#include "ServerTestSupport.h"
#include "http/CommentServer.h"
#include "statement/Statement.h"
#include "store/DemoData.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

using namespace vcserver;
using namespace vctest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kPage = "/VendorCommentLOAD.asp";
const char* const kFormType = "application/x-www-form-urlencoded";
const std::string kLoad318 = "GET /VendorCommentLOAD.asp?Vendor=318 HTTP/1.1\r\nHost: a\r\n";

// A loopback connection that sends whatever bytes it is given.
class RawConnection {
public:
    explicit RawConnection(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    RawConnection(RawConnection&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)), connected_(other.connected_) {}
    RawConnection& operator=(RawConnection&&) = delete;
    ~RawConnection() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    bool connected() const { return connected_; }

    void send(std::string_view bytes) const {
        ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

    // True once something arrived within the time.
    bool waitReadable(std::chrono::milliseconds within) const {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, static_cast<int>(within.count())) > 0;
    }

    // All the server sends until it closes the connection; "<open>" is appended when the
    // connection is still open at the deadline.
    std::string readUntilClosed(std::chrono::milliseconds within = 10s) const {
        std::string out;
        const auto deadline = Clock::now() + within;
        char buf[4096];
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms || !waitReadable(left)) {
                return out + "<open>";
            }
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                return out;
            }
            out.append(buf, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_;
    bool connected_ = false;
};

// The soft descriptor limit raised to the hard one; returns the limit now in force.
rlim_t raiseDescriptorLimit() {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    getrlimit(RLIMIT_NOFILE, &files);
    return files.rlim_cur;
}

class HardeningTest : public ::testing::Test {
protected:
    void start(const ServerOptions& options = {}) {
        server_.reset();
        store_ = openSqliteStore(dir_.path() / "comments.db");
        store_->seed(demoData());
        server_ = std::make_unique<RunningServer>(*store_, &log_, 4, options);
        port_ = server_->port();
        ASSERT_GT(port_, 0);
    }

    httplib::Client client() const { return httplib::Client("127.0.0.1", port_); }

    httplib::Result post(const std::string& statement) const {
        return client().Post(kPage, "SQL=" + formEncode(statement), kFormType);
    }

    void expectAnswer(const std::string& statement, int status, const std::string& text) const {
        const auto res = post(statement);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, status) << res->body;
        EXPECT_EQ(res->body, text);
    }

    std::string load(const std::string& vendor) const {
        const auto res = client().Get(std::string(kPage) + "?Vendor=" + vendor);
        return res && res->status == 200 ? res->body : "";
    }

    TempDir dir_;
    SharedLog logLines_;
    std::ostream log_{&logLines_};
    std::unique_ptr<CommentStore> store_;
    std::unique_ptr<RunningServer> server_;
    int port_ = 0;
};

// With one pool thread per connection, 16 half-open connections delayed a GET by 6.5 s and
// 40 trickling ones kept every GET waiting for over a minute.
TEST_F(HardeningTest, GetIsAnsweredWhileAThousandClientsAreSlow) {
    // Each slow connection takes a descriptor on both ends, all in this process.
    const auto files = raiseDescriptorLimit();
    const int slow = static_cast<int>(std::min<rlim_t>(1000, (files - 200) / 2));
    start();
    std::vector<RawConnection> connections;
    connections.reserve(static_cast<std::size_t>(slow));
    for (int i = 0; i < slow; ++i) {
        const RawConnection& c = connections.emplace_back(port_);
        ASSERT_TRUE(c.connected()) << i;
        // Half sit idle; half start a request and send nothing more.
        if (i % 2 == 1) {
            c.send(kLoad318.substr(0, static_cast<std::size_t>(i % 40)));
        }
    }
    httplib::Client get = client();
    get.set_read_timeout(60s);
    const auto started = Clock::now();
    const auto res = get.Get(std::string(kPage) + "?Vendor=318");
    const auto took = Clock::now() - started;
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    // A generous bound; the 200 ms target is the benchmark's.
    EXPECT_LT(took, 2s) << slow << " slow connections";
    connections.clear();
}

TEST_F(HardeningTest, LimitsAnswerWithTheirStatusAndOneLine) {
    ServerOptions options;
    options.limits.headTime = 1s;
    options.limits.bodyTime = 1s;
    options.limits.maxHeadBytes = 1024;
    options.limits.maxConnectionsPerClient = 4;
    options.limits.maxBufferedBytes = 16 * 1024;
    const std::string post = "POST /VendorCommentLOAD.asp HTTP/1.1\r\nHost: a\r\nContent-Type: " +
                             std::string(kFormType) + "\r\n";
    struct Case {
        const char* name;
        std::string request;
        int heldConnections; // open, each with a request answered, before the request
        const char* status;  // the answer's status line; empty for a closed connection
        std::string text;
    };
    const Case cases[] = {
        {"HeadNeverEnds", kLoad318, 0, "HTTP/1.1 408 Request Timeout",
         "The request head did not arrive within 1 second."},
        {"HeadStartedAndStopped", kLoad318.substr(0, 9), 0, "HTTP/1.1 408 Request Timeout",
         "The request head did not arrive within 1 second."},
        {"BodyNeverEnds", post + "Content-Length: 100\r\n\r\nSQL=DELETE", 0,
         "HTTP/1.1 408 Request Timeout", "The request body did not arrive within 1 second."},
        {"IdleConnection", "", 0, "", ""},
        {"HeadTooLarge", kLoad318 + "X-Filler: " + std::string(2000, 'x') + "\r\n\r\n", 0,
         "HTTP/1.1 431 Request Header Fields Too Large", "The request head is larger than 1 KiB."},
        {"BodyTooLarge", post + "Content-Length: 2000000\r\nExpect: 100-continue\r\n\r\n", 0,
         "HTTP/1.1 413 Content Too Large", "The request body is larger than 1 MiB."},
        {"TooManyConnectionsFromOneAddress", kLoad318 + "\r\n", 4, "HTTP/1.1 429 Too Many Requests",
         "Too many connections from 127.0.0.1; close some and try again."},
        {"BodiesPastTheMemoryBudget",
         post + "Content-Length: 20004\r\n\r\nSQL=" + std::string(20000, 'a'), 0,
         "HTTP/1.1 503 Service Unavailable", "The server is busy; try again."},
        {"UnknownMethod", "BREW /VendorCommentLOAD.asp HTTP/1.1\r\nHost: a\r\n\r\n", 0,
         "HTTP/1.1 400 Bad Request", "The request was not understood (HTTP 400)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start(options); // a fresh server: no connection of an earlier case counts
        std::vector<RawConnection> held;
        for (int i = 0; i < c.heldConnections; ++i) {
            const RawConnection& h = held.emplace_back(port_);
            h.send("GET /VendorCommentLOAD.asp?Vendor=V100 HTTP/1.1\r\nHost: a\r\n\r\n");
            ASSERT_TRUE(h.waitReadable(5s));
        }
        const RawConnection connection(port_);
        connection.send(c.request);
        const std::string answer = connection.readUntilClosed();
        if (!*c.status) {
            EXPECT_EQ(answer, "") << "an idle connection is closed without a word";
            continue;
        }
        EXPECT_EQ(answer.substr(0, answer.find("\r\n")), c.status) << answer;
        const auto bodyAt = answer.find("\r\n\r\n");
        ASSERT_NE(bodyAt, std::string::npos) << answer;
        EXPECT_EQ(answer.substr(bodyAt + 4), c.text) << "one line, then the connection closes";
    }
}

TEST_F(HardeningTest, RangeIsIgnored) {
    start();
    const std::string whole = load("318");
    ASSERT_FALSE(whole.empty());
    // One request of 1.5 KB asked for the document 400 times over.
    std::string ranges = "bytes=0-";
    for (int i = 1; i < 400; ++i) {
        ranges += ",0-";
    }
    const auto res = client().Get(std::string(kPage) + "?Vendor=318", {{"Range", ranges}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, whole);
}

TEST_F(HardeningTest, DatesFrom1753To9999WithFourDigitYears) {
    start();
    const std::pair<const char*, const char*> accepted[] = {
        {"1/1/1753", "1/1/1753"},
        {"1753-01-01", "1/1/1753"},
        {"12/31/9999", "12/31/9999"},
        {"Dec 31, 9999", "12/31/9999"},
    };
    for (const auto& [date, shown] : accepted) {
        SCOPED_TRACE(date);
        expectAnswer(insertBatch("D1", 1, 1, date, "", "x"), 200, "");
        EXPECT_NE(load("D1").find(std::string("<Effective>") + shown + "</Effective>"),
                  std::string::npos);
        expectAnswer(deleteStatement("D1", 1), 200, "");
    }
    for (const char* date : {"12/31/1752", "4/1/0395", "0395-04-01", "Jan 1, 0001"}) {
        SCOPED_TRACE(date);
        const auto res = post(insertBatch("D1", 1, 1, "", date, "x"));
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400);
        EXPECT_NE(res->body.find("is not a readable date from 1/1/1753 to 12/31/9999."),
                  std::string::npos)
            << res->body;
    }
    // A row stored earlier with a year below 1000 still reads back with four digits.
    sqlite3* db = nullptr;
    sqlite3_open((dir_.path() / "comments.db").c_str(), &db);
    sqlite3_exec(db,
                 "INSERT INTO VendorComment VALUES ('D2', 1, 1, 1, '0395-04-01', NULL, 'old', "
                 "'2009-04-01 00:00:00')",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_NE(load("D2").find("<Effective>4/1/0395</Effective>"), std::string::npos);
}

TEST_F(HardeningTest, CommentsOver32000CharactersAreRefused) {
    start();
    // "é" is one byte in the body and one character, two bytes once stored.
    expectAnswer(insertBatch("318", 4, 12, "", "", std::string(kMaxCommentCharacters, '\xE9')), 200,
                 "");
    const std::string tooLong(kMaxCommentCharacters + 1, 'a');
    for (const auto& statement : {insertBatch("318", 4, 12, "", "", tooLong),
                                  updateStatement("318", 1, 4, 12, "", "", tooLong)}) {
        expectAnswer(statement, 400,
                     "Statement refused: the comment has 32001 characters, more than the 32,000 "
                     "allowed.");
    }
}

TEST_F(HardeningTest, JsonLogHasOneObjectPerRequest) {
    ServerOptions options;
    options.logFormat = LogFormat::Json;
    start(options);
    ASSERT_FALSE(load("318").empty());
    ASSERT_TRUE(post("DROP TABLE VendorComment"));
    // A request's line is written once the library reports it complete.
    std::vector<std::string> log;
    EXPECT_TRUE(waitFor([&] { return (log = logLines_.lines()).size() >= 2; }, 10s));
    ASSERT_EQ(log.size(), 2u);
    for (const auto& line : log) {
        EXPECT_EQ(line.rfind("{\"time\":\"", 0), 0u) << line;
        EXPECT_EQ(line.back(), '}') << line;
        EXPECT_NE(line.find(",\"client\":\"127.0.0.1\","), std::string::npos) << line;
        EXPECT_NE(line.find(",\"duration_ms\":"), std::string::npos) << line;
    }
    const bool getFirst = log[0].find("\"GET\"") != std::string::npos;
    const std::string& get = log[getFirst ? 0 : 1];
    const std::string& refused = log[getFirst ? 1 : 0];
    EXPECT_NE(get.find("\"method\":\"GET\",\"path\":\"/VendorCommentLOAD.asp?Vendor=318\","
                       "\"status\":200,"),
              std::string::npos)
        << get;
    EXPECT_EQ(get.find("\"reason\""), std::string::npos) << get;
    EXPECT_NE(refused.find("\"method\":\"POST\""), std::string::npos) << refused;
    EXPECT_NE(refused.find("\"status\":400,"), std::string::npos) << refused;
    EXPECT_NE(refused.find(",\"reason\":\"Statement refused: only the comment insert"),
              std::string::npos)
        << refused;
}

TEST_F(HardeningTest, BindSaysWhyItFailed) {
    start();
    CommentServer second(*store_, nullptr);
    EXPECT_EQ(second.bind("127.0.0.1", port_), -1);
    EXPECT_EQ(second.bindError(), "Address already in use");
}

} // namespace

// The level a collector filters on, and the reason as the server gave it: escaped in JSON,
// line breaks and all, and in the text format on one line. A request closed without an
// answer left its client waiting, which is worth a warning.
TEST(RequestLogLine, LevelByAnswerAndReasonOnOneLine) {
    const struct {
        const char* name;
        int status;
        std::string reason;
        const char* level;
        const char* json; // the reason as each format writes it; empty for none
        const char* text;
    } cases[] = {
        {"Answered", 200, "", "info", "", ""},
        {"Refused", 400, "Statement refused: no.", "info", "\"Statement refused: no.\"",
         "\"Statement refused: no.\""},
        {"FailedOverLines", 503, "unavailable: database error: gone\n\tDETAIL:  x\r\n", "error",
         R"("unavailable: database error: gone\n\tDETAIL:  x")",
         "\"unavailable: database error: gone??DETAIL:  x\""},
        {"OtherControlsAndBeyondAscii", 400, "a\x01z\x7f\xC3\xA9", "info", R"("a\u0001z???")",
         "\"a?z???\""},
        {"TimedOut", 0, "No answer was ready within 1 second.", "warning",
         "\"No answer was ready within 1 second.\"", "\"No answer was ready within 1 second.\""},
        {"Abandoned", 0, "The connection ended before the answer.", "warning",
         "\"The connection ended before the answer.\"",
         "\"The connection ended before the answer.\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RequestRecord record;
        record.client = "127.0.0.1";
        record.method = "POST";
        record.target = kPage;
        record.status = c.status;
        record.reason = c.reason;
        const auto now = std::chrono::system_clock::now();
        const std::string json = formatRequest(record, LogFormat::Json, now);
        EXPECT_NE(json.find(std::string(",\"level\":\"") + c.level + "\","), std::string::npos)
            << json;
        EXPECT_TRUE(json.ends_with(*c.json ? ",\"reason\":" + std::string(c.json) + "}"
                                           : std::string(",\"duration_ms\":0.0}")))
            << json;
        const std::string text = formatRequest(record, LogFormat::Text, now);
        EXPECT_TRUE(text.ends_with(*c.text ? std::string(" ") + c.text : std::string("ms")))
            << text;
    }
}
