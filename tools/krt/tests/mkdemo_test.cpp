// krt mkdemo on the command line: its options, and the paths it refuses to write.
#include <gtest/gtest.h>

#include "tool_support.h"

namespace tool_test {
namespace {

struct MkdemoCase {
  std::vector<std::string> args;
  int status;
  const char* fragment;  // part of the text on standard error
};

class Mkdemo : public ::testing::TestWithParam<MkdemoCase> {};

TEST_P(Mkdemo, RefusesWhatItCannotMake) {
  const MkdemoCase& c = GetParam();
  const ToolRun r = run_tool(c.args);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Mkdemo,
    ::testing::Values(MkdemoCase{{"mkdemo"}, 2, "mkdemo needs IMAGE"},
                      MkdemoCase{{"mkdemo", "x.img", "--workers"}, 2, "--workers needs a value"},
                      MkdemoCase{{"mkdemo", "x.img", "--workers", "0"}, 2, "--workers takes a number from 1 to 64"},
                      MkdemoCase{{"mkdemo", "x.img", "--workers", "3x"}, 2, "--workers takes a number"},
                      MkdemoCase{{"mkdemo", "x.img", "--speed", "3"}, 2, "unknown option '--speed'"},
                      MkdemoCase{{"mkdemo", "/"}, 1, "/ exists: it is replaced only with --force"},
                      MkdemoCase{{"mkdemo", "/", "--force"}, 1, "exists and is not a regular file"},
                      MkdemoCase{{"mkdemo", "/nonexistent-folder/x.img"}, 1, "No such file or directory"}));

}  // namespace
}  // namespace tool_test
