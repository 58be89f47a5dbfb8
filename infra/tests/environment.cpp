// Every test process starts the library as the viewer does and stops it at the end, so each
// library thread is joined before the process exits.
#include <gtest/gtest.h>

#include "infra/infra.h"

namespace {

class InfraEnvironment : public testing::Environment {
 public:
  void SetUp() override { infra::CInfra::Instance()->start(); }
  void TearDown() override {
    infra::CInfra::Instance()->stop();
    infra::CInfra::DeleteInstance();
  }
};

[[maybe_unused]] testing::Environment *const g_environment =
    testing::AddGlobalTestEnvironment(new InfraEnvironment);

}  // namespace
