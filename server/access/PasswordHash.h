#pragma once

#include <string>
#include <string_view>

namespace vcserver {

// Passwords hashed by the system's crypt(3) with its preferred method (yescrypt on Debian),
// so the users file holds the same kind of hash as /etc/shadow.
//
// A new hash for the password; throws std::runtime_error when the system cannot make one.
std::string hashPassword(std::string_view password);

// Whether the password gives the hash. Takes about as long as hashing, by design.
bool passwordMatches(std::string_view password, const std::string& hash);

// Empty when crypt(3) can check passwords against the hash; otherwise why not.
std::string hashProblem(const std::string& hash);

} // namespace vcserver
