// The file-system log: prefix, continuation, cutting and the silent levels.
#include "krt/log.h"

#include <regex>

#include "test_support.h"

namespace krt {
namespace {

class LogTest : public test::LibraryTest {};

TEST_F(LogTest, WarningsAndErrorsStartLinesWithTimeAndLevel) {
  test::LogCapture log;
  const int n = log_warn("first %d\n", 1);
  log_error("second\n");
  const std::string text = log.text();
  EXPECT_EQ(n, int(std::string("2000-01-01 00:00:00|FSWarn first 1\n").size()));
  EXPECT_TRUE(std::regex_match(text, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\|FSWarn first 1\n"
                                                "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\|FSError second\n")))
      << text;
}

TEST_F(LogTest, MessageWithoutNewlineIsContinuedWithoutPrefix) {
  test::LogCapture log;
  log_warn("a ");
  const int n = log_error("b\n");
  EXPECT_EQ(n, 2);
  const std::string text = log.text();
  EXPECT_TRUE(std::regex_match(text, std::regex("[^|]*\\|FSWarn a b\n"))) << text;
}

TEST_F(LogTest, EmptyMessageClearsTheLineStart) {
  test::LogCapture log;
  log_warn("x\n");
  log_warn("%s", "");
  log_warn("y\n");
  // The empty message opens a line with its prefix and leaves it open for "y".
  const std::string text = log.text();
  EXPECT_TRUE(std::regex_match(text, std::regex("[^|]*\\|FSWarn x\n[^|]*\\|FSWarn y\n"))) << text;
}

TEST_F(LogTest, LongMessageIsCutToTheLineBufferAndEndsItsLine) {
  test::LogCapture log;
  const std::string big(kLogLineBytes + 500, 'z');
  log_warn("%s", big.c_str());
  log_warn("next\n");
  const std::string text = log.text();
  const size_t bar = text.find('|');
  const size_t end = text.find('\n');
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(end - (bar + 1 + 7) + 1, size_t(kLogLineBytes - 1));  // "FSWarn " then the cut line
  EXPECT_NE(text.find("|FSWarn next\n", end), std::string::npos);
}

TEST_F(LogTest, TraceAndInfoOnlyWhenSwitchedOn) {
  test::LogCapture log;
  int evaluated = 0;
  auto count = [&] { return ++evaluated; };
  log_trace("%d\n", count());
  log_info("%d\n", count());
  EXPECT_EQ(evaluated, 0);
  EXPECT_EQ(log.text(), "");
  set_log_verbose(true);
  log_trace("trace %d\n", count());
  log_info("info %d\n", count());
  set_log_verbose(false);
  EXPECT_EQ(evaluated, 2);
  EXPECT_NE(log.text().find("|FSTrace trace 1\n"), std::string::npos);
  EXPECT_NE(log.text().find("|FSInfo info 2\n"), std::string::npos);
}

}  // namespace
}  // namespace krt
