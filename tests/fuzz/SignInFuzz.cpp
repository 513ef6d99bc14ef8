// What a stranger controls when users are on: the Authorization header, and (through a
// careless edit) the users file. The first byte picks which. A header gives no credentials,
// unreadable ones, or a name without a colon and a password that together are the decoded
// text; a users file is refused with one line, or read into users that are written back
// and read again unchanged.

#include "access/Authenticator.h"
#include "access/UsersFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace vcserver;

namespace {

void checkHeader(std::string_view header) {
    const Credentials c = Credentials::fromHeader(header.data(), header.size());
    if (c.shape != Credentials::Shape::Basic) {
        if (!c.name.empty() || !c.password.empty())
            std::abort();
        return;
    }
    if (c.name.find(':') != std::string::npos)
        std::abort();
}

void checkUsersFile(std::string_view text) {
    UsersFile file;
    try {
        file = UsersFile::parse(text, "users file");
    } catch (const UsersFileError& e) {
        const std::string_view message = e.what();
        if (message.empty() || message.find('\n') != std::string_view::npos)
            std::abort();
        return;
    }
    const std::string written = file.text();
    const UsersFile again = UsersFile::parse(written, "users file");
    if (again.text() != written || again.size() != file.size())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0)
        checkHeader(rest);
    else
        checkUsersFile(rest);
    return 0;
}
