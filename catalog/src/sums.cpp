#include "catalog/sums.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "catalog/text.h"

namespace {

constexpr size_t kHexDigits = 64;
constexpr const char* kFileName = "SHA256SUMS";

// The path a sums line names ("HEX  path" or "HEX *path"), or "" for another kind of line.
std::string path_of(const std::string& line) {
  if (line.size() <= kHexDigits + 2 || line[kHexDigits] != ' ' ||
      (line[kHexDigits + 1] != ' ' && line[kHexDigits + 1] != '*'))
    return "";
  return line.substr(kHexDigits + 2);
}

}  // namespace

SumsFile::SumsFile(const std::string& dir) : path_(concat({dir, "/", kFileName})) {}

bool SumsFile::load(std::string& error) {
  lines_.clear();
  index_.clear();
  if (!read_lines(path_, lines_, error)) return false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string p = path_of(lines_[i]);
    if (!p.empty()) index_[p] = i;
  }
  return true;
}

bool read_lines(const std::string& path, std::vector<std::string>& lines, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    if (errno == ENOENT) return true;
    error = concat({"cannot read ", path, ": ", std::strerror(errno)});
    return false;
  }
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (in.bad()) {
    error = concat({"cannot read ", path});
    return false;
  }
  return true;
}

void SumsFile::set(const std::string& path, const std::string& hex) {
  const std::string line = concat({hex, "  ", path});
  const auto [at, added] = index_.try_emplace(path, lines_.size());
  if (added) lines_.push_back(line);
  else lines_[at->second] = line;
}

bool SumsFile::save(std::string& error) const { return replace_file_with_lines(path_, lines_, error); }

bool replace_file_with_lines(const std::string& path, const std::vector<std::string>& lines, std::string& error) {
  const std::string temp = concat({path, ".part"});
  std::FILE* out = std::fopen(temp.c_str(), "w");
  bool ok = out != nullptr;
  for (size_t i = 0; ok && i < lines.size(); ++i) ok = std::fprintf(out, "%s\n", lines[i].c_str()) >= 0;
  if (out && std::fclose(out) != 0) ok = false;
  if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
  error = concat({"cannot write ", path, ": ", std::strerror(errno)});
  std::remove(temp.c_str());
  return false;
}
