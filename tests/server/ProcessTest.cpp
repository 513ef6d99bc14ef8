// The real program: first output line, restart with the same file, signals, start-up errors.

#include "ServerTestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vctest;

extern char** environ;

namespace {

// The server program with its standard output on a pipe and standard error in a file.
class ServerProcess {
public:
    ServerProcess(std::vector<std::string> args, const std::filesystem::path& errFile) {
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        args.insert(args.begin(), VC_SERVER_PROGRAM);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, VC_SERVER_PROGRAM, &actions, nullptr, argv.data(), environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = out[0];
    }

    ~ServerProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
    }

    // The first line of standard output, or "" when none comes within the time.
    std::string firstLine(int timeoutMs = 10000) {
        std::string line;
        char c;
        pollfd p{out_, POLLIN, 0};
        while (poll(&p, 1, timeoutMs) > 0 && read(out_, &c, 1) == 1 && c != '\n') {
            line += c;
        }
        return line;
    }

    // Waits for the exit; returns the exit code, or -1 on a signal death or time-out.
    int wait(int timeoutMs = 10000) {
        for (int waited = 0; waited < timeoutMs; waited += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        return -1;
    }

    void signal(int sig) const { kill(pid_, sig); }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), {}};
}

int gridCount(const std::string& baseUrl, const std::string& vendor) {
    httplib::Client client(baseUrl.substr(0, baseUrl.size() - 1));
    const auto res = client.Get("/VendorCommentLOAD.asp?Vendor=" + vendor);
    if (!res) {
        return -1;
    }
    int count = 0;
    for (auto at = res->body.find("<GRID>"); at != std::string::npos;
         at = res->body.find("<GRID>", at + 1)) {
        ++count;
    }
    return count;
}

TEST(ServerProgram, DataSurvivesRestartAndSignalsStopCleanly) {
    TempDir dir;
    const auto db = (dir.path() / "demo.db").string();
    const auto errors = dir.path() / "stderr.txt";
    const std::vector<std::string> args = {"--db", db, "--listen", "127.0.0.1:0", "--seed-demo"};

    for (const int stopSignal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(stopSignal);
        ServerProcess server(args, errors);
        const std::string url = server.firstLine();
        ASSERT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << url;
        ASSERT_EQ(url.back(), '/');
        // Seeding again adds nothing; the insert of the first run is still there.
        EXPECT_EQ(gridCount(url, "318"), stopSignal == SIGTERM ? 4 : 5);

        httplib::Client client(url.substr(0, url.size() - 1));
        const auto res = client.Post("/VendorCommentLOAD.asp", "SQL=" + formEncode(kExampleInsert),
                                     "application/x-www-form-urlencoded");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->body, "");

        server.signal(stopSignal);
        EXPECT_EQ(server.wait(), 0);
    }
    const std::string log = readFile(errors);
    EXPECT_NE(log.find("POST /VendorCommentLOAD.asp 200"), std::string::npos) << log;
    EXPECT_NE(log.find("GET /VendorCommentLOAD.asp?Vendor=318 200"), std::string::npos) << log;
}

TEST(ServerProgram, StartUpErrorsExitNonZeroWithAMessage) {
    TempDir dir;
    const auto notADatabase = dir.path() / "text.db";
    std::ofstream(notADatabase) << "This is not an SQLite database, just some text that is long "
                                   "enough to fill the header of one.\n";
    const auto errors = dir.path() / "stderr.txt";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {"MissingDirectory",
         {"--db", (dir.path() / "no/such/dir.db").string()},
         "cannot use database"},
        {"NotADatabase", {"--db", notADatabase.string()}, "cannot use database"},
        {"NoDatabaseGiven", {"--listen", "127.0.0.1:0"}, "--db FILE is required"},
        {"BadListen",
         {"--db", (dir.path() / "a.db").string(), "--listen", "localhost"},
         "--listen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(errors);
        ServerProcess server(c.args, errors);
        EXPECT_EQ(server.firstLine(), "");
        EXPECT_GT(server.wait(), 0);
        EXPECT_NE(readFile(errors).find(c.message), std::string::npos) << readFile(errors);
    }
}

} // namespace
