// The damaged disk of the mounting target: the damage sample disk (krt_testing/hostile_disk.h)
// with its metadata regions overwritten by the fuzzing input.
//
// The regions, in the order in which the input's bytes are laid over them (byte i of the input
// replaces byte i of the regions put end to end; a short input leaves the rest as built):
//   1. the partition table (absolute sector 20);
//   2. the parameter block sector of each partition;
//   3. the index bytes of each partition's used clusters;
//   4. the directory items of each partition's used clusters (first copy);
//   5. the version block (absolute sector 0);
//   6. the collision table sector of each partition;
//   7. the directory items of each partition's used clusters (second copy).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// One stretch of the image the input overwrites.
struct Region {
  uint64_t at;   // absolute byte offset in the image
  size_t size;   // bytes
};

// The built sample disk, made once per process in a scratch folder that lives as long.
struct SampleDisk {
  std::string path;             // the image file
  uint64_t sectors = 0;         // its size in sectors
  std::vector<Region> regions;  // in input order (see the top of this file)
  size_t region_bytes = 0;      // their total size
};

// The sample disk; built on the first call. Aborts when the builder refuses it.
const SampleDisk& sample_disk();

// The image's bytes of every region, end to end: the input that changes nothing (the seed).
std::vector<uint8_t> region_bytes(const SampleDisk& disk);

// Installs the hostile hooks over the sample disk with the input laid over its regions, every
// transfer outside the image recorded. Returns nothing.
void lay_input(const SampleDisk& disk, const uint8_t* data, size_t size);

// Aborts with a message on standard error when the cache or the handle table breaks a rule or a
// transfer went outside the image; `what` names the step just done.
void check_library(const char* what);

// Sends the library's warnings to nowhere (fuzzing prints nothing but findings).
void quiet_library_log();

}  // namespace fuzz
