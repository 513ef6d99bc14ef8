#include "access/Authenticator.h"

#include "access/PasswordHash.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include <strings.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace vcserver {

namespace {

// Accepted credentials remembered at most; past it the memory starts afresh.
constexpr std::size_t kMaxAccepted = 4096;

std::string randomBytes(std::size_t n) {
    std::string bytes(n, '\0');
    if (gnutls_rnd(GNUTLS_RND_KEY, bytes.data(), n) != 0) {
        throw std::runtime_error("the system's random source failed");
    }
    return bytes;
}

} // namespace

Credentials Credentials::fromHeader(const char* value, std::size_t length) {
    if (!value) {
        return {};
    }
    std::string_view header(value, length);
    Credentials unreadable{Shape::Unreadable, {}, {}};
    constexpr std::string_view scheme = "basic ";
    if (header.size() <= scheme.size() ||
        strncasecmp(header.data(), scheme.data(), scheme.size()) != 0) {
        return unreadable;
    }
    header.remove_prefix(scheme.size());
    while (!header.empty() && header.front() == ' ') {
        header.remove_prefix(1);
    }
    const gnutls_datum_t encoded{reinterpret_cast<unsigned char*>(const_cast<char*>(header.data())),
                                 static_cast<unsigned>(header.size())};
    gnutls_datum_t decoded{nullptr, 0};
    if (header.empty() || gnutls_base64_decode2(&encoded, &decoded) < 0) {
        return unreadable;
    }
    const std::string text(reinterpret_cast<const char*>(decoded.data), decoded.size);
    gnutls_free(decoded.data);
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return unreadable;
    }
    return {Shape::Basic, text.substr(0, colon), text.substr(colon + 1)};
}

bool Authenticator::Stamp::operator==(const Stamp& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
}

std::optional<Authenticator::Stamp> Authenticator::stampOf(const std::filesystem::path& file,
                                                           int& error) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        error = errno;
        return std::nullopt;
    }
    return Stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

Authenticator::Authenticator(std::filesystem::path file)
    : file_(std::move(file)), key_(randomBytes(32)), decoyHash_(hashPassword(randomBytes(16))) {
    int error = 0;
    stamp_ = stampOf(file_, error);
    users_ = UsersFile::read(file_);
}

std::size_t Authenticator::userCount() {
    std::lock_guard lock(mutex_);
    return users_.size();
}

std::optional<std::string> Authenticator::refresh() {
    int error = 0;
    const auto stamp = stampOf(file_, error);
    std::lock_guard lock(mutex_);
    if (stamp == stamp_) {
        return std::nullopt;
    }
    stamp_ = stamp;
    if (!stamp) {
        return "cannot read users file " + file_.string() + ": " +
               std::generic_category().message(error) + "; the users read before stay in force";
    }
    try {
        users_ = UsersFile::read(file_);
    } catch (const UsersFileError& e) {
        return std::string(e.what()) + "; the users read before stay in force";
    }
    ++generation_;
    accepted_.clear();
    return std::nullopt;
}

std::string Authenticator::digestOf(const Credentials& credentials) const {
    const std::string text = credentials.name + '\0' + credentials.password;
    std::string digest(32, '\0');
    gnutls_hmac_fast(GNUTLS_MAC_SHA256, key_.data(), key_.size(), text.data(), text.size(),
                     digest.data());
    return digest;
}

Access Authenticator::granted(const User& user) const {
    return {true, user.name, user.role, {}};
}

std::optional<Access> Authenticator::recall(const Credentials& credentials) {
    if (credentials.shape == Credentials::Shape::None) {
        return Access{false, {}, Role::Read, "No credentials."};
    }
    if (credentials.shape != Credentials::Shape::Basic) {
        return std::nullopt;
    }
    const std::string digest = digestOf(credentials);
    std::lock_guard lock(mutex_);
    const auto it = accepted_.find(digest);
    if (it == accepted_.end()) {
        return std::nullopt;
    }
    const User* user = users_.find(it->second);
    return user ? std::optional(granted(*user)) : std::nullopt;
}

Access Authenticator::check(const Credentials& credentials) {
    if (credentials.shape == Credentials::Shape::None) {
        return {false, {}, Role::Read, "No credentials."};
    }
    if (credentials.shape == Credentials::Shape::Unreadable) {
        return {false, {}, Role::Read, "The credentials are not a Basic name:password."};
    }
    std::optional<User> user;
    std::size_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (const User* found = users_.find(credentials.name)) {
            user = *found;
        }
        generation = generation_;
    }
    const bool matches = passwordMatches(credentials.password, user ? user->hash : decoyHash_);
    if (!user) {
        return {false, {}, Role::Read, "No such user."};
    }
    if (!matches) {
        return {false, user->name, user->role, "Wrong password for user " + user->name + "."};
    }
    std::lock_guard lock(mutex_);
    if (generation == generation_) {
        if (accepted_.size() >= kMaxAccepted) {
            accepted_.clear();
        }
        accepted_.emplace(digestOf(credentials), user->name);
    }
    return granted(*user);
}

} // namespace vcserver
