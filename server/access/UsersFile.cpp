#include "access/UsersFile.h"

#include "access/PasswordHash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace vcserver {

namespace {

constexpr std::size_t kMaxNameBytes = 64;

std::string systemMessage(int error) {
    return std::generic_category().message(error);
}

bool isUserLine(std::string_view line) {
    return !line.empty() && line.front() != '#';
}

// Without the line break and any trailing blanks (files written on Windows end in CR).
std::string_view trimmedEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.remove_suffix(1);
    }
    return line;
}

// Closes a descriptor and removes the temporary file unless committed.
class TempFile {
public:
    explicit TempFile(std::string pattern)
        : path_(std::move(pattern)), fd_(mkstemp(path_.data())), created_(fd_ >= 0) {}
    ~TempFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (created_ && !committed_) {
            ::unlink(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }
    void commit() { committed_ = true; }

private:
    std::string path_;
    int fd_;
    bool created_;
    bool committed_ = false;
};

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

const char* roleName(Role role) {
    return role == Role::Write ? "write" : "read";
}

std::optional<Role> roleNamed(std::string_view name) {
    if (name == "read") {
        return Role::Read;
    }
    if (name == "write") {
        return Role::Write;
    }
    return std::nullopt;
}

std::string UsersFile::nameProblem(std::string_view name) {
    if (name.empty()) {
        return "the user name is empty";
    }
    if (name.size() > kMaxNameBytes) {
        return "the user name is longer than " + std::to_string(kMaxNameBytes) + " bytes";
    }
    if (name.front() == '#') {
        return "a user name cannot start with '#'";
    }
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (c == ':' || b <= 0x20 || b == 0x7F) {
            return "a user name cannot hold a colon, a space or a control character";
        }
    }
    return {};
}

UsersFile UsersFile::read(const std::filesystem::path& file) {
    // Plain reads, so that a directory or an unreadable file says why.
    std::string text;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    for (char buf[4096]; fd >= 0;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : 0;
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    if (fd >= 0) {
        ::close(fd);
    }
    if (error) {
        throw UsersFileError("cannot read users file " + file.string() + ": " +
                             systemMessage(error));
    }
    return parse(text, "users file " + file.string());
}

UsersFile UsersFile::parse(std::string_view text, const std::string& where) {
    UsersFile file;
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view raw = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        ++number;
        const std::string_view line = trimmedEnd(raw);
        if (!isUserLine(line)) {
            file.lines_.push_back({std::string(raw), std::nullopt});
            continue;
        }
        const auto fail = [&](const std::string& why) {
            return UsersFileError(where + ", line " + std::to_string(number) + ": " + why);
        };
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) {
            throw fail("expected name:role:hash");
        }
        User user;
        user.name = line.substr(0, first);
        if (const std::string problem = nameProblem(user.name); !problem.empty()) {
            throw fail(problem);
        }
        const auto role = roleNamed(line.substr(first + 1, second - first - 1));
        if (!role) {
            throw fail("the role is neither read nor write");
        }
        user.role = *role;
        user.hash = line.substr(second + 1);
        if (const std::string problem = hashProblem(user.hash); !problem.empty()) {
            throw fail(problem);
        }
        for (std::size_t i = 0; i < file.lines_.size(); ++i) {
            if (file.lines_[i].user && file.lines_[i].user->name == user.name) {
                throw fail("the user is already on line " + std::to_string(i + 1));
            }
        }
        file.lines_.push_back({{}, std::move(user)});
    }
    return file;
}

const User* UsersFile::find(std::string_view name) const {
    for (const auto& line : lines_) {
        if (line.user && line.user->name == name) {
            return &*line.user;
        }
    }
    return nullptr;
}

std::size_t UsersFile::size() const {
    std::size_t count = 0;
    for (const auto& line : lines_) {
        count += line.user ? 1 : 0;
    }
    return count;
}

bool UsersFile::put(const User& user) {
    for (auto& line : lines_) {
        if (line.user && line.user->name == user.name) {
            line.user = user;
            return false;
        }
    }
    lines_.push_back({{}, user});
    return true;
}

bool UsersFile::remove(std::string_view name) {
    for (auto it = lines_.begin(); it != lines_.end(); ++it) {
        if (it->user && it->user->name == name) {
            lines_.erase(it);
            return true;
        }
    }
    return false;
}

std::string UsersFile::text() const {
    std::string out;
    for (const auto& line : lines_) {
        out += line.user ? line.user->name + ':' + roleName(line.user->role) + ':' + line.user->hash
                         : line.text;
        out += '\n';
    }
    return out;
}

void UsersFile::save(const std::filesystem::path& file) const {
    const auto fail = [&](int error) {
        return UsersFileError("cannot write users file " + file.string() + ": " +
                              systemMessage(error));
    };
    // Beside the file, so the rename stays on one file system.
    TempFile temp(file.string() + ".XXXXXX");
    if (temp.fd() < 0) {
        throw fail(errno);
    }
    struct stat existing {};
    if (::stat(file.c_str(), &existing) == 0) {
        // Written by an administrator for a server running as another user: it stays that
        // user's file. Without the right to give it away the file stays ours.
        [[maybe_unused]] const int kept = ::fchown(temp.fd(), existing.st_uid, existing.st_gid);
    }
    if (::fchmod(temp.fd(), 0600) != 0 || !writeAll(temp.fd(), text()) || ::fsync(temp.fd()) != 0 ||
        !temp.close()) {
        throw fail(errno);
    }
    if (::rename(temp.path().c_str(), file.c_str()) != 0) {
        throw fail(errno);
    }
    temp.commit();
    // The rename itself reaches the disk with the directory.
    const std::filesystem::path directory = file.has_parent_path() ? file.parent_path() : ".";
    if (const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace vcserver
