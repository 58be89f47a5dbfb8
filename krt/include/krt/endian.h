// Little-endian load and store helpers.
//
// Every multi-byte integer on a KRT disk is little-endian. Code never casts a pointer into
// a sector buffer to read one: it goes through these helpers, which work on any alignment
// and on any host byte order.
#pragma once

#include <cstdint>

namespace krt {

// Reads the 16-bit little-endian integer at p.
inline uint16_t ld16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

// Reads the 32-bit little-endian integer at p.
inline uint32_t ld32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Reads the 64-bit little-endian integer at p.
inline uint64_t ld64(const uint8_t* p) { return uint64_t(ld32(p)) | (uint64_t(ld32(p + 4)) << 32); }

// Writes v as a 16-bit little-endian integer at p.
inline void st16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

// Writes v as a 32-bit little-endian integer at p.
inline void st32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Writes v as a 64-bit little-endian integer at p.
inline void st64(uint8_t* p, uint64_t v) {
  st32(p, uint32_t(v));
  st32(p + 4, uint32_t(v >> 32));
}

}  // namespace krt
