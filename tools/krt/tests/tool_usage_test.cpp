// The command line: usage errors, --help, exit statuses.
#include <gtest/gtest.h>

#include "tool_support.h"

namespace tool_test {
namespace {

struct UsageCase {
  std::vector<std::string> args;
  int status;
  bool on_stdout;        // the text is expected on standard output (else standard error)
  const char* fragment;  // part of that text
};

class ToolUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(ToolUsage, AnswersWithItsStatusAndText) {
  const UsageCase& c = GetParam();
  const ToolRun r = run_tool(c.args);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE((c.on_stdout ? r.out : r.err).find(c.fragment), std::string::npos) << r.out << r.err;
  if (c.status != 0) {
    EXPECT_EQ(r.out, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolUsage,
    ::testing::Values(UsageCase{{}, 2, false, "usage: krt"},
                      UsageCase{{"--help"}, 0, true, "export [--mp4] [--hash-source] PATH... DIR"},
                      UsageCase{{"-d"}, 2, false, "-d needs an image path"},
                      UsageCase{{"frobnicate"}, 2, false, "unknown command 'frobnicate'"},
                      UsageCase{{"ls", "--frob"}, 2, false, "unknown option '--frob' for ls"},
                      UsageCase{{"cat", "--json", "/mnt"}, 2, false, "unknown option '--json' for cat"},
                      UsageCase{{"ls", "/mnt", "/mnt"}, 2, false, "too many arguments for ls"},
                      UsageCase{{"info", "x"}, 2, false, "too many arguments for info"},
                      UsageCase{{"cat"}, 2, false, "cat needs PATH..."},
                      UsageCase{{"export", "/mnt"}, 2, false, "export needs [--mp4] [--hash-source] PATH... DIR"},
                      UsageCase{{"mount"}, 2, false, "mount needs MOUNTPOINT"},
                      UsageCase{{"mount", "--help"}, 0, true, "fails with EROFS"},
                      UsageCase{{"disks", "--help"}, 0, true, "usage: krt [-d IMAGE]... disks [--json]"},
                      UsageCase{{"partitions", "--help"}, 0, true, "usage: krt [-d IMAGE]... partitions"},
                      UsageCase{{"info", "--help"}, 0, true, "diagnostic tables"},
                      UsageCase{{"calendar", "--help"}, 0, true, "channels 033-064"},
                      UsageCase{{"ls", "--help"}, 0, true, "NAME<TAB>SIZE-IN-BYTES"},
                      UsageCase{{"cat", "--help"}, 0, true, "usage: krt [-d IMAGE]... cat PATH..."},
                      UsageCase{{"export", "--help"}, 0, true, "SHA256SUMS"},
                      UsageCase{{"-d", "/nonexistent.img", "ls"}, 1, false, "krt: /nonexistent.img: no such file"},
                      UsageCase{{"--version"}, 0, true, "krt " KRT_TOOL_VERSION_TEXT "\n"},
                      UsageCase{{"ls", "--json", "-r"}, 2, false, "--json lists one folder"},
                      UsageCase{{"verify"}, 2, false, "verify needs IMAGE"},
                      UsageCase{{"verify", "x.img", "--sha256", "12"}, 2, false, "--sha256 takes 64 hexadecimal digits"},
                      UsageCase{{"-d", "/nonexistent.img", "ls", "--json"}, 1, false,
                                "{\"error\":\"/nonexistent.img: no such file\"}\n"},
                      // With no disk found, disks says why for each candidate.
                      UsageCase{{"-d", "/dev/null", "disks"}, 1, false, "krt: /dev/null: cannot be opened: neither a file nor a block device\n"}));

}  // namespace
}  // namespace tool_test
