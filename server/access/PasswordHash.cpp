#include "access/PasswordHash.h"

#include <crypt.h>

#include <memory>
#include <stdexcept>

namespace vcserver {

namespace {

// crypt_rn's state is 32 KB: too large for a worker's stack to hold comfortably.
std::unique_ptr<crypt_data> freshState() {
    return std::make_unique<crypt_data>();
}

// The same time for every mismatch position, so the comparison tells an attacker nothing.
bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

} // namespace

std::string hashPassword(std::string_view password) {
    const std::string phrase(password);
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    // No prefix: the system's preferred method at its default cost, salted from the
    // system's random source.
    if (!crypt_gensalt_rn(nullptr, 0, nullptr, 0, setting, sizeof setting)) {
        throw std::runtime_error("the system cannot make a password salt");
    }
    const auto state = freshState();
    const char* hash = crypt_rn(phrase.c_str(), setting, state.get(), sizeof *state);
    if (!hash || *hash == '*') {
        throw std::runtime_error("the system cannot hash the password");
    }
    return hash;
}

bool passwordMatches(std::string_view password, const std::string& hash) {
    // crypt stops at the first zero byte; such a password never matches.
    if (password.find('\0') != std::string_view::npos) {
        return false;
    }
    const std::string phrase(password);
    const auto state = freshState();
    const char* computed = crypt_rn(phrase.c_str(), hash.c_str(), state.get(), sizeof *state);
    return computed && *computed != '*' && sameText(computed, hash);
}

std::string hashProblem(const std::string& hash) {
    switch (crypt_checksalt(hash.c_str())) {
    case CRYPT_SALT_OK:
    case CRYPT_SALT_TOO_CHEAP:
        return {};
    // Also what a password typed in as it is looks like (two letters and more read as a
    // DES hash), so it is refused rather than taken for a hash.
    case CRYPT_SALT_METHOD_LEGACY:
        return "the hash's method is too weak to use; set the password again with 'user add'";
    case CRYPT_SALT_METHOD_DISABLED:
        return "the hash's method is disabled on this system";
    default:
        return "the hash is not one crypt(3) makes";
    }
}

} // namespace vcserver
