// README's C host, which tests/CMakeLists.txt takes out of README.md and builds as it is printed:
// its whole outputs for each outcome that a host tells apart (readme-host.tsv).
#include <gtest/gtest.h>

#include "CommandTable.h"

namespace {

TEST(ReadmeHost, TellsTheOutcomesApart) { msc_test::RunCommandTable("readme-host.tsv", {MSC_README_HOST_PATH}); }

}  // namespace
