// Golden runs of programs, the installed kind of binary, from another directory.
#ifndef MSC_TESTS_COMMAND_TABLE_H
#define MSC_TESTS_COMMAND_TABLE_H

#include <string>
#include <vector>

namespace msc_test {

// Runs each row of tests/cases/NAME, a table with the fields command, stdin, status, stdout and
// stderr: the command as a bash command line, from / with -o pipefail, the folders of 'programs'
// first on PATH, $DIR a fresh folder for the row and $CASES the folder of the tables. Expects
// the whole exit status, standard output and standard error; " in N.NNN ms" reads " in T ms".
void RunCommandTable(const std::string &name, const std::vector<std::string> &programs);

}  // namespace msc_test

#endif  // MSC_TESTS_COMMAND_TABLE_H
