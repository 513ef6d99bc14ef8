#include "admin/AdminCommands.h"
#include "admin/AdminSupport.h"

#include "access/PasswordHash.h"
#include "access/UsersFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace vcserver {

namespace {

// Long enough for any passphrase, and short enough to fit a request head as Basic
// credentials.
constexpr std::size_t kMaxPasswordBytes = 1024;

constexpr const char* kUsage =
    "usage: vendor-comment-server user add NAME --role read|write --users FILE\n"
    "       vendor-comment-server user remove NAME --users FILE\n"
    "  add     adds the user, or sets the role and password of one already there; the\n"
    "          password is read from standard input (asked for twice on a terminal)\n"
    "  remove  removes the user\n"
    "The file is replaced in one step, with mode 0600. A running server reads it again at\n"
    "its next request.\n";

struct Command {
    std::string action;
    std::string name;
    std::optional<Role> role;
    std::string file;
};

const CommandVoice kVoice{"user", kUsage};

// One line from the terminal with echo off.
std::optional<std::string> askHidden(const char* prompt) {
    std::cerr << prompt << std::flush;
    termios saved{};
    const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << "\n";
    }
    return read ? std::optional(line) : std::nullopt;
}

// The password: the first line of standard input, or asked for twice on a terminal.
std::optional<std::string> readPassword(const std::string& name, std::string& problem) {
    std::optional<std::string> password;
    if (isatty(STDIN_FILENO)) {
        password = askHidden(("Password for " + name + ": ").c_str());
        const auto again = askHidden("The same password again: ");
        if (password && again != password) {
            problem = "the two passwords differ";
            return std::nullopt;
        }
    } else {
        std::string line;
        if (std::getline(std::cin, line)) {
            password = line;
        }
    }
    if (password && !password->empty() && password->back() == '\r') {
        password->pop_back();
    }
    if (!password) {
        problem = "no password on standard input";
    } else if (password->empty()) {
        problem = "the password is empty";
    } else if (password->size() > kMaxPasswordBytes) {
        problem = "the password is longer than " + std::to_string(kMaxPasswordBytes) + " bytes";
    } else if (password->find('\0') != std::string::npos) {
        problem = "the password holds a zero byte";
    } else {
        return password;
    }
    return std::nullopt;
}

std::optional<Command> parse(int argc, char** argv, int& exitCode) {
    Command command;
    const auto arguments =
        kVoice.arguments(argc, argv,
                         {{"users", &command.file},
                          {"role",
                           [&](const std::string& value) {
                               command.role = roleNamed(value);
                               return command.role ? std::string() : "--role wants read or write";
                           }}},
                         exitCode);
    if (!arguments) {
        return std::nullopt;
    }
    const std::vector<std::string>& words = arguments->operands;
    if (words.size() != 2 || (words[0] != "add" && words[0] != "remove")) {
        exitCode = kVoice.usageError("expected add NAME or remove NAME");
        return std::nullopt;
    }
    command.action = words[0];
    command.name = words[1];
    if (const std::string problem = UsersFile::nameProblem(command.name); !problem.empty()) {
        exitCode = kVoice.usageError(problem);
        return std::nullopt;
    }
    if (command.file.empty()) {
        exitCode = kVoice.usageError("--users FILE is required");
        return std::nullopt;
    }
    if (command.action == "add" && !command.role) {
        exitCode = kVoice.usageError("add needs --role read or --role write");
        return std::nullopt;
    }
    if (command.action == "remove" && command.role) {
        exitCode = kVoice.usageError("remove takes no --role");
        return std::nullopt;
    }
    return command;
}

// Holds the file's lock: two commands at once each see the other's change. The lock is on
// the file as it is when taken; one replaced meanwhile is locked afresh.
class FileLock {
public:
    FileLock(const std::string& file, bool create) {
        for (;;) {
            fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
            if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) {
                error_ = errno;
                return;
            }
            struct stat locked {
            }, current{};
            if (::fstat(fd_, &locked) == 0 && ::stat(file.c_str(), &current) == 0 &&
                locked.st_ino == current.st_ino && locked.st_dev == current.st_dev) {
                return;
            }
            ::close(fd_);
        }
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // 0 when held, otherwise why not.
    int error() const { return fd_ < 0 ? error_ : 0; }

private:
    int fd_ = -1;
    int error_ = 0;
};

} // namespace

int runUserCommand(int argc, char** argv) {
    int exitCode = 0;
    const auto command = parse(argc, argv, exitCode);
    if (!command) {
        return exitCode;
    }
    const bool adding = command->action == "add";
    std::string hash;
    if (adding) {
        std::string problem;
        const auto password = readPassword(command->name, problem);
        if (!password) {
            return kVoice.failure(problem);
        }
        try {
            hash = hashPassword(*password);
        } catch (const std::exception& e) {
            return kVoice.failure(e.what());
        }
    }
    const FileLock lock(command->file, adding);
    if (lock.error()) {
        return kVoice.failure("cannot open users file " + command->file + ": " +
                              std::generic_category().message(lock.error()));
    }
    try {
        UsersFile users = UsersFile::read(command->file);
        std::string done;
        if (adding) {
            const bool added = users.put({command->name, *command->role, hash});
            done = std::string(added ? "added user " : "changed user ") + command->name + " (" +
                   roleName(*command->role) + ")";
        } else if (users.remove(command->name)) {
            done = "removed user " + command->name;
        } else {
            return kVoice.failure("users file " + command->file + " has no user " + command->name);
        }
        users.save(command->file);
        std::cout << done << " in " << command->file << "\n";
    } catch (const UsersFileError& e) {
        return kVoice.failure(e.what());
    }
    return 0;
}

} // namespace vcserver
