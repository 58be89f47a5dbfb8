// Exporting recordings into a local folder, as the `krt export` command and the viewer's copy
// job both do it.
//
// A recording /mnt/idea0/2010-03-05/002/NAME lands in DIR/idea0/2010-03-05/002/NAME. Each copy
// is written to a hidden temporary file next to its target (".NAME.part") and renamed over the
// target once every byte is written, so a target is only ever replaced by a whole new copy and
// a failed or cancelled copy leaves nothing behind. Each copy is hashed while it is written
// (sha256.h, on a thread of its own) and its line in DIR/SHA256SUMS (sums.h) is set, so that
// `sha256sum -c SHA256SUMS` in DIR proves the copies.
//
// The recordings are read through CFSFile (reader.h). The local side is written with plain
// POSIX calls, never through the virtual file table: the table sends every path that begins
// with "/mnt" to the recorder disks, and a local folder such as /mnt/usb must still receive the
// copies.
//
// An ExportFolder is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "catalog/listing.h"
#include "catalog/sha256.h"
#include "catalog/sums.h"

// How the copy of one recording ended.
enum class CopyStatus {
  kCopied,        // the target holds the whole recording; its sums line is set
  kSourceFailed,  // the recording did not open, or its read ended early: nothing written
  kTargetFailed,  // the target folder or file could not be made or written: nothing written
  kCancelled,     // the caller stopped it after a block: nothing written
};

// The target of a recording path relative to the export folder: the path below "/mnt/"
// ("idea0/2010-03-05/002/NAME"). A path that does not begin with "/mnt/" gives its last
// component.
std::string export_relative_path(const std::string& recording_path);

class ExportFolder {
 public:
  // Called after each block has been written with its size in bytes; returning false stops
  // the copy (kCancelled).
  using BlockFn = std::function<bool(uint32_t bytes)>;

  // An export into the folder dir (made by open()).
  explicit ExportFolder(const std::string& dir);

  // Creates the folder (with its parents) and reads its SHA256SUMS. Returns false with error
  // set when the folder cannot be made or the sums file cannot be read.
  bool open(std::string& error);

  // Copies the listed recording rec (its path and listed size) to its target. Returns how it
  // ended; error names the file and the reason unless it is kCopied or kCancelled. An earlier
  // file at the target stays untouched unless the copy is kCopied.
  CopyStatus copy(const TreeEntry& rec, const BlockFn& on_block, std::string& error);

  // The SHA-256 (64 hexadecimal digits) of the last copy that ended kCopied.
  const std::string& last_sha256() const { return last_sha256_; }
  // Whether every byte of the last copy that ended kCopied is zero (a wiped or never-written
  // stretch, no picture in it): copied all the same, and to be named where the user looks.
  bool last_all_zero() const { return last_all_zero_; }

  // Sets the SHA256SUMS line of a file the caller wrote into the folder itself (another form
  // of a recording, such as an MP4 copy), at path relative to the folder.
  void add_sum(const std::string& relative, const std::string& hex);

  // The folder.
  const std::string& dir() const { return dir_; }

  // Writes SHA256SUMS with the lines of every copy made (and the lines it held before).
  // Returns false with error set when it cannot be written (the old file then stays).
  bool close(std::string& error);

  // The target file of a recording path in this folder.
  std::string target_of(const std::string& recording_path) const;

 private:
  std::string dir_;    // the export folder
  SumsFile sums_;      // its SHA256SUMS
  HashPipeline hash_;  // hashes the blocks of the copy in progress
  std::string last_sha256_;  // of the last whole copy
  bool last_all_zero_ = false;  // the last whole copy holds only zero bytes
};
