#pragma once

namespace vcserver {

// "user add NAME --role read|write --users FILE" and "user remove NAME --users FILE": edits
// the users file in one step, the password read from standard input (without echo on a
// terminal). args begin after "user". Returns the exit status.
int runUserCommand(int argc, char** argv);

} // namespace vcserver
