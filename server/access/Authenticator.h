#pragma once

#include "access/UsersFile.h"

#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace vcserver {

// What a request's Authorization header held.
struct Credentials {
    enum class Shape { None, Unreadable, Basic };
    Shape shape = Shape::None;
    std::string name;
    std::string password;

    // From the header's value; nullptr when the request has none. Name and password are
    // the decoded bytes as sent, zero bytes included, so nothing past one is ignored.
    static Credentials fromHeader(const char* value, std::size_t length);
};

struct Access {
    bool granted = false;
    std::string user;
    Role role = Role::Read;
    // Why access was refused, for the log: never the password, nor a name that is not a
    // user's (it may be a password typed into the wrong field).
    std::string reason;
};

// Signs requests in against the users file. A file changed on disk (by 'user add' or
// 'user remove') is read again at the next request, so a user removed is refused at once.
class Authenticator {
public:
    // Reads the file; throws UsersFileError.
    explicit Authenticator(std::filesystem::path file);
    Authenticator(const Authenticator&) = delete;
    Authenticator& operator=(const Authenticator&) = delete;

    const std::filesystem::path& file() const { return file_; }
    std::size_t userCount();

    // Reads the file again when it changed. When it cannot, the users read before stay in
    // force and the reason is returned, once for each change.
    std::optional<std::string> refresh();

    // The access of credentials accepted before, against the file as it is now, found
    // without hashing; nothing when they have to be checked.
    std::optional<Access> recall(const Credentials& credentials);

    // Checks the credentials, which takes as long as hashing a password whatever they are;
    // remembers the ones it accepts.
    Access check(const Credentials& credentials);

private:
    struct Stamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        bool operator==(const Stamp& o) const;
    };
    static std::optional<Stamp> stampOf(const std::filesystem::path& file, int& error);
    std::string digestOf(const Credentials& credentials) const;
    Access granted(const User& user) const;

    const std::filesystem::path file_;
    std::string key_;       // for the digests of accepted credentials, this process's own
    std::string decoyHash_; // checked for a name that is no user's, so it takes as long
    std::mutex mutex_;
    UsersFile users_;
    std::optional<Stamp> stamp_;
    std::size_t generation_ = 0;
    // Digest of name and password → name, for credentials accepted with this generation.
    std::unordered_map<std::string, std::string> accepted_;
};

} // namespace vcserver
