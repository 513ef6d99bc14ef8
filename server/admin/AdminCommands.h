#pragma once

namespace vcserver {

// The operator's commands; each takes the arguments after its own name and returns the exit
// status: 0 done, 1 refused or failed (one line on standard error), 2 a usage error.
//   user add NAME --role read|write --users FILE, user remove NAME --users FILE (the
//     password of add read from standard input, without echo on a terminal)
//   lookup list|add|rename|remove --db DB type|location [CODE [NAME]] [--force]
//   backup --db FILE OUT
//   import --db DB FILE.csv [--dry-run] [--for-spreadsheet]
//   export --db DB [--vendor V] [--for-spreadsheet]
//   history --db DB --vendor V [--sequence N] [--json], history --db DB --prune-before TIME
//   restore --db DB --vendor V --sequence N [--at TIME]
int runUserCommand(int argc, char** argv);
int runLookupCommand(int argc, char** argv);
int runBackupCommand(int argc, char** argv);
int runImportCommand(int argc, char** argv);
int runExportCommand(int argc, char** argv);
int runHistoryCommand(int argc, char** argv);
int runRestoreCommand(int argc, char** argv);

// The command named by the word after the program's name, or null when it names none.
using AdminCommand = int (*)(int argc, char** argv);
AdminCommand adminCommandNamed(const char* word);

} // namespace vcserver
