#include "catalog/reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "catalog/text.h"

bool RecordingReader::open(const std::string& path, uint64_t expected_bytes, std::string& error) {
  path_ = path;
  length_ = expected_bytes;
  bytes_ = 0;
  errno = 0;
  if (!file_.Open(path.c_str(), CFSFile::modeRead)) {
    error = concat({"cannot open ", path, errno != 0 ? concat({": ", std::strerror(errno)}) : std::string()});
    return false;
  }
  return true;
}

bool RecordingReader::open(const std::string& path, std::string& error) {
  if (!open(path, 0, error)) return false;
  length_ = file_.GetLength();
  return true;
}

uint32_t RecordingReader::read(uint8_t* block, uint32_t size) {
  const uint32_t n = file_.Read(block, std::min(size, kReadBlockBytes));
  bytes_ += n;
  return n;
}

bool RecordingReader::complete(std::string& error) const {
  if (bytes_ >= length_) return true;
  error = concat({"read of ", path_, " failed after ", std::to_string(bytes_), " of ", std::to_string(length_),
                  " bytes"});
  return false;
}

bool all_zero(const uint8_t* data, size_t size) {
  return std::all_of(data, data + size, [](uint8_t b) { return b == 0; });
}

bool recording_reads_all_zero(const std::string& path, uint64_t expected_bytes) {
  constexpr uint32_t kProbeBytes = 64 * 1024;  // small: most recordings answer with one read
  RecordingReader reader;
  std::string ignored;
  if (!reader.open(path, expected_bytes, ignored)) return false;
  const auto block = std::make_unique<uint8_t[]>(kProbeBytes);
  bool any = false;
  for (uint32_t n; (n = reader.read(block.get(), kProbeBytes)) != 0;) {
    if (!all_zero(block.get(), n)) return false;
    any = true;
  }
  return any;
}

std::string all_zero_warning(const std::string& path) {
  return concat({"warning: ", path,
                 ": every byte reads as zero (a wiped or never-written stretch): no picture can be "
                 "decoded from it"});
}
