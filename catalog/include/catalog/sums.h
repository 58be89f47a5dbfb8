// The SHA256SUMS file of an export folder.
//
// One line per file, as sha256sum writes them and `sha256sum -c` checks them:
//
//   <64 lowercase hex digits><space><space><path relative to the folder>
//
// An export into a folder that already holds a SHA256SUMS keeps the lines of that file, in
// their order, replaces the line of every file it copies again and adds lines for new files,
// so the folder's sums stay complete across several exports.
#pragma once

#include <map>
#include <string>
#include <vector>

class SumsFile {
 public:
  // The sums file of folder dir ("dir/SHA256SUMS"), with no lines yet.
  explicit SumsFile(const std::string& dir);

  // Reads the existing file's lines. A missing file reads as empty. Returns false with error
  // set when the file exists but cannot be read.
  bool load(std::string& error);

  // Sets the sum of the file at relative path (replacing its line, or adding one).
  void set(const std::string& path, const std::string& hex);

  // Writes all lines to a temporary file in the folder and renames it over SHA256SUMS.
  // Returns false with error set when that fails (the old file then stays as it was).
  bool save(std::string& error) const;

  // The file's path.
  const std::string& path() const { return path_; }

 private:
  std::string path_;                     // dir/SHA256SUMS
  std::vector<std::string> lines_;       // in file order, without newlines
  std::map<std::string, size_t> index_;  // relative path -> its line in lines_
};

// Appends the lines of the text file at path (without their newlines) to lines. A missing file
// reads as empty. Returns false with error set when the file exists but cannot be read.
bool read_lines(const std::string& path, std::vector<std::string>& lines, std::string& error);

// Writes lines (each followed by a newline) to a temporary file next to path and renames it
// over path. Returns false with error set when that fails (the old file then stays as it was).
bool replace_file_with_lines(const std::string& path, const std::vector<std::string>& lines, std::string& error);
