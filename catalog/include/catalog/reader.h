// Reading one recording through CFSFile, block by block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vfs/fsfile.h"

// Bytes asked of CFSFile::Read at a time: a multiple of 512 and more than half the adapter's
// buffer, so every read goes straight from the disk into the caller's block.
constexpr uint32_t kReadBlockBytes = 1u << 20;

// One recording under /mnt, read with CFSFile: the bytes after any hidden header, exactly as
// the adapter's read delivers them (any other path CFSFile opens, a local file, reads alike).
// A read that fails part way looks like the end of the file to CFSFile; complete() tells the
// two apart by the length expected at open: for a recording the size its listing gave (the
// recording's own end cannot be asked for reliably: finding it walks the same broken chain),
// for a local file the length CFSFile reports.
class RecordingReader {
 public:
  // Opens the recording at path, whose listing gave it expected_bytes. Returns false with
  // error set when it does not open ("cannot open PATH", with the system's reason when the
  // open gives one in errno).
  bool open(const std::string& path, uint64_t expected_bytes, std::string& error);

  // Opens the local file at path, expecting the length CFSFile reports for it. Returns false
  // with error set when it does not open.
  bool open(const std::string& path, std::string& error);

  // Reads the next bytes into block, size of them at most (and at most kReadBlockBytes).
  // Returns how many; 0 at the end.
  uint32_t read(uint8_t* block, uint32_t size = kReadBlockBytes);

  // After read() returned 0: true when at least the expected bytes were delivered (a recording
  // still growing may give more); false with error set when the read ended early.
  bool complete(std::string& error) const;

 private:
  CFSFile file_;        // the open recording
  std::string path_;    // its path, for messages
  uint64_t length_ = 0; // the length expected (see the top of this class)
  uint64_t bytes_ = 0;  // delivered so far
};

// Whether every one of the size bytes at data is zero.
bool all_zero(const uint8_t* data, size_t size);

// Whether the recording at path, listed with expected_bytes, holds nothing but zero bytes: a
// stretch the recorder never wrote or that was wiped, of which no picture can be decoded. It
// is read block by block and the reading stops at the first byte that is not zero, so a
// recording with pictures costs one small read. False for a recording that does not open or
// reads nothing.
bool recording_reads_all_zero(const std::string& path, uint64_t expected_bytes);

// The warning that names such a recording: "warning: PATH: every byte reads as zero ...".
std::string all_zero_warning(const std::string& path);
