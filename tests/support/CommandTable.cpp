#include "CommandTable.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "TreeText.h"

namespace msc_test {

namespace {

std::string ReadFile(const std::string &path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

}  // namespace

void RunCommandTable(const std::string &name, const std::vector<std::string> &programs) {
    std::string path = getenv("PATH");
    for (const std::string &program : programs) path = program.substr(0, program.rfind('/')) + ":" + path;
    setenv("PATH", path.c_str(), 1);
    setenv("CASES", MSC_TEST_CASES_DIR, 1);
    for (const Case &row : ReadCases(name)) {
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

}  // namespace msc_test
