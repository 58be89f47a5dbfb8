// A fresh local folder for one test, removed with everything in it afterwards.
#pragma once

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, without a trailing "/".
  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Writes content to the file name in the folder; returns its path.
  std::string Put(const std::string& name, const std::string& content) const;
  // The content of the file name in the folder; "<missing>" when it does not exist.
  std::string Get(const std::string& name) const;

 private:
  std::string path_;
};
