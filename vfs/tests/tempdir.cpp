#include "tempdir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "vfs-XXXXXX").string();
  const char* made = mkdtemp(templ.data());
  EXPECT_NE(made, nullptr);
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Put(const std::string& name, const std::string& content) const {
  const std::string file = *this / name;
  std::ofstream(file, std::ios::binary) << content;
  return file;
}

std::string TempDir::Get(const std::string& name) const {
  std::ifstream in(*this / name, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}
