// Small raw readers for the image builder's tests: they read sectors of a built image straight
// from the file, so that the tests check bytes at their offsets without any of the library's code.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "krt/endian.h"

namespace krt_testing::raw {

// Reads `count` sectors at absolute sector `lba`; missing bytes read as 0xEE so that a short
// image never passes for zeros.
inline std::vector<uint8_t> sectors(const std::string& path, uint64_t lba, uint64_t count = 1) {
  std::vector<uint8_t> out(size_t(count) * 512, 0xEE);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  const ssize_t n = ::pread(fd, out.data(), out.size(), off_t(lba * 512));
  ::close(fd);
  (void)n;
  return out;
}

inline uint8_t u8(const std::string& path, uint64_t lba, size_t off) { return sectors(path, lba)[off]; }
inline uint16_t u16(const std::string& path, uint64_t lba, size_t off) { return krt::ld16(&sectors(path, lba)[off]); }
inline uint32_t u32(const std::string& path, uint64_t lba, size_t off) { return krt::ld32(&sectors(path, lba)[off]); }
inline uint64_t u64(const std::string& path, uint64_t lba, size_t off) { return krt::ld64(&sectors(path, lba)[off]); }

// The 32 bytes of the directory item of cluster c, with the first copy at relative sector 187.
inline std::vector<uint8_t> dir_item(const std::string& path, uint64_t part_start, uint32_t c,
                                     uint32_t dir_off = 187) {
  const std::vector<uint8_t> s = sectors(path, part_start + dir_off + c / 16);
  return {s.begin() + (c % 16) * 32, s.begin() + (c % 16) * 32 + 32};
}

// The index byte of cluster c.
inline uint8_t index_byte(const std::string& path, uint64_t part_start, uint32_t index_off, uint32_t c) {
  return u8(path, part_start + index_off + c / 512, c % 512);
}

}  // namespace krt_testing::raw
