// Golden runs of the mysearchcriteria tool, the installed kind of binary, from another directory:
// whole standard output, standard error and exit status of each command in host-cli.tsv.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "TreeText.h"

namespace {

std::string ReadFile(const std::string &path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

TEST(SearchCriteriaCli, PrintsWholeOutputs) {
    std::string cli = MSC_CLI_PATH;
    setenv("PATH", (cli.substr(0, cli.rfind('/')) + ":" + getenv("PATH")).c_str(), 1);
    setenv("CASES", MSC_TEST_CASES_DIR, 1);
    setenv("PG", msc_test::DatabaseAddress("postgresql").c_str(), 1);
    setenv("MARIADB", msc_test::DatabaseAddress("mariadb").c_str(), 1);
    for (const msc_test::Case &row : msc_test::ReadCases("host-cli.tsv")) {
        char pattern[] = "/tmp/msc-cli-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        std::string dir = pattern;
        setenv("DIR", pattern, 1);
        std::ofstream(dir + "/in", std::ios::binary) << row["stdin"];
        std::ofstream(dir + "/command", std::ios::binary) << row["command"];
        int status = std::system(("cd / && bash -o pipefail " + dir + "/command <" + dir + "/in >" + dir + "/out 2>" +
                                  dir + "/err").c_str());
        std::string out = std::regex_replace(ReadFile(dir + "/out"), std::regex(R"( in [0-9]+\.[0-9]{3} ms\n)"),
                                             " in T ms\n");
        EXPECT_EQ(out, row["stdout"]) << row.where();
        EXPECT_EQ(ReadFile(dir + "/err"), row["stderr"]) << row.where();
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::stoi(row["status"])) << row.where();
        EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
    }
}

}  // namespace
