// Copies of a disk image in the forms examiners hand on: a raw image split into numbered
// segments and an Expert Witness (E01) set. Tests and benchmarks use them to show that every
// form reads exactly like the raw image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace krt_testing {

// Splits the image at source into parts segment files "<stem>.001", "<stem>.002", ... of
// whole sectors (the last one takes the rest). Blocks of zeros stay holes, so sparse images
// stay sparse. Returns the segment paths, in order; an empty list when a file cannot be read
// or written.
std::vector<std::string> split_image(const std::string& source, const std::string& stem, int parts);

// Makes an E01 set "<stem>.E01", "<stem>.E02", ... of the image at source with Debian's
// ewfacquire, segments of at most segment_bytes (1 MiB at least), blocks of zeros compressed.
// Returns "" on success; otherwise why not ("ewfacquire is not installed" when the program is
// not on PATH).
std::string make_e01(const std::string& source, const std::string& stem, uint64_t segment_bytes);

// The files of an E01 set made by make_e01, in segment order.
std::vector<std::string> e01_segments(const std::string& stem);

}  // namespace krt_testing
