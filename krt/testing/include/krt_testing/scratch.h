// A scratch folder for tests that build images: created empty under $TMPDIR (or /tmp) and
// removed with everything in it when the object goes out of scope.
#pragma once

#include <string>

namespace krt_testing {

class ScratchDir {
 public:
  // Creates a fresh folder "krt-XXXXXX". If that fails, dir() and path() are empty, so the
  // builder reports the failure.
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The folder; empty when it could not be created.
  const std::string& dir() const { return dir_; }
  // The path of `name` inside the folder; empty when there is no folder.
  std::string path(const std::string& name) const { return dir_.empty() ? std::string() : dir_ + "/" + name; }

 private:
  std::string dir_;
};

}  // namespace krt_testing
