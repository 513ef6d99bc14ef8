#pragma once

// A certificate for 127.0.0.1 made at test time with the openssl tool. It signs itself, so
// it is also the CA a client is told to trust.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace vctest {

struct TestCertificate {
    std::filesystem::path certificate;
    std::filesystem::path key;
};

// Runs a program found on the PATH, reading nothing and its output discarded; true when it
// exits with 0.
inline bool runQuietly(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// An ECDSA P-256 certificate for the name "127.0.0.1" and the address 127.0.0.1, valid for
// two days, with its key, as cert.pem and key.pem in dir.
inline TestCertificate makeTestCertificate(const std::filesystem::path& dir) {
    TestCertificate made{dir / "cert.pem", dir / "key.pem"};
    if (!runQuietly({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                     "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                     "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                     made.key.string(), "-out", made.certificate.string()})) {
        throw std::runtime_error("openssl could not make a test certificate (scripts/setup "
                                 "installs it)");
    }
    return made;
}

} // namespace vctest
