#pragma once

#include <string>

namespace tavik::platform {

// A user name and password the host gave the control for signing in to the server page. Kept
// in memory only and handed to the HTTP library; never written to a log or shown.
struct Credentials {
    std::string user;
    std::string password;
    bool empty() const { return user.empty() && password.empty(); }
};

} // namespace tavik::platform
