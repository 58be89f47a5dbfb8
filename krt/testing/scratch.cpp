// Scratch folders for tests.
#include "krt_testing/scratch.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace krt_testing {

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/krt-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data())) dir_ = name.data();
}

ScratchDir::~ScratchDir() {
  if (dir_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

}  // namespace krt_testing
