// Standard output belongs to the program: the library's start-up writes nothing there, and its
// diagnostic lines appear only behind the log switch.
#include <gtest/gtest.h>

#include "infra/infra.h"
#include "infra/trace.h"

namespace {

TEST(Trace, StartUpWritesNothingToStandardOutput) {
  testing::internal::CaptureStdout();
  infra::CInfra::Instance()->start();
  infra::Trace("a diagnostic line %d", 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
