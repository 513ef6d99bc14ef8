#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vcserver {

// read may load the comments; write may also run the three statements.
enum class Role { Read, Write };

const char* roleName(Role role);
std::optional<Role> roleNamed(std::string_view name);

struct User {
    std::string name;
    Role role = Role::Read;
    std::string hash; // from hashPassword()
};

// Names the file and, for a line that cannot be read, the line. It never quotes the line:
// a password typed into the wrong field must not reach a terminal or a log.
class UsersFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The users file: one "name:role:hash" line a user. Blank lines and lines starting with '#'
// are kept as they are when the file is written again.
class UsersFile {
public:
    // Reads and checks the whole file; throws UsersFileError.
    static UsersFile read(const std::filesystem::path& file);
    // where names the text in errors.
    static UsersFile parse(std::string_view text, const std::string& where);

    // Why a name cannot be a user's, or empty. Basic credentials end the name at the first
    // colon, and the log shows names between spaces.
    static std::string nameProblem(std::string_view name);

    const User* find(std::string_view name) const;
    std::size_t size() const;
    // Adds the user, or replaces the one of that name in its place; true when added.
    bool put(const User& user);
    bool remove(std::string_view name);
    std::string text() const;

    // Replaces the file in one step (a new file renamed over it) with mode 0600, keeping an
    // existing file's owner and group where permitted; throws UsersFileError.
    void save(const std::filesystem::path& file) const;

private:
    struct Line {
        std::string text;         // as read, for lines that are not users
        std::optional<User> user; // or the user the line holds
    };
    std::vector<Line> lines_;
};

} // namespace vcserver
