// Golden runs of the mysearchcriteria tool, the installed kind of binary, from another directory:
// whole standard output, standard error and exit status of each command in host-cli.tsv.
#include <gtest/gtest.h>

#include <cstdlib>

#include "CommandTable.h"
#include "TreeText.h"

namespace {

TEST(SearchCriteriaCli, PrintsWholeOutputs) {
    setenv("PG", msc_test::DatabaseAddress("postgresql").c_str(), 1);
    setenv("MARIADB", msc_test::DatabaseAddress("mariadb").c_str(), 1);
    msc_test::RunCommandTable("host-cli.tsv", {MSC_CLI_PATH});
}

// INTEGRATION.md's host of a whole Search request, as printed there, on the sample library.
TEST(SearchRequestHost, AnswersPagesSortsAndFaults) {
    msc_test::RunCommandTable("search-request.tsv", {MSC_CLI_PATH, MSC_SEARCH_REQUEST_PATH});
}

}  // namespace
