// Where a disk's bytes come from: a device, an image file, a raw image split into numbered
// segments, or an evidence container read through a format library.
//
// The disk layer opens every candidate as an image source. Block devices and plain image files
// are read with one pread() per request; a split raw image ("disk.001", "disk.002", ...;
// "disk.000", "disk.001", ...; or "disk.aa", "disk.ab", ...) is opened from its first segment and read across the segments in order; other container
// formats (the Expert Witness format, for one) are served by openers that a program registers
// (register_source_opener), so this library itself needs nothing beyond POSIX.
//
// Every source is read-only: nothing here ever writes to a candidate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace krt {

// One opened source: its bytes, read at any offset.
class ImageSource {
 public:
  virtual ~ImageSource() = default;

  // Reads exactly bytes at offset into buf. Returns true when every byte was read; false for
  // a failed read or one that reaches past the end.
  virtual bool read(void* buf, size_t bytes, uint64_t offset) = 0;

  // The number of bytes the source holds (a device's size, the sum of the segments, the
  // container's media size).
  virtual uint64_t size() const = 0;

  // What kind of source it is: "device", "raw", "split raw", "E01", "Ex01".
  virtual std::string format() const = 0;

  // The number of files it is made of (1 for devices and plain images).
  virtual int segments() const = 0;

  // The digests the container stores of its whole media, as {algorithm, lowercase hex} pairs
  // ("MD5", "SHA1"), for a check of the bytes against them; empty for devices, plain and split
  // raw images and containers that store none.
  virtual std::vector<std::pair<std::string, std::string>> stored_digests() const { return {}; }
};

// The result of opening a candidate.
struct SourceOpen {
  std::unique_ptr<ImageSource> source;  // the opened source; null when it did not open
  std::string refusal;                  // when the candidate is a set that cannot be used
                                        // (a missing or unreadable segment): why, naming the
                                        // segment; empty when it simply does not open
};

// An opener for one container format. Returns a source when path is the first file of a set
// of its format, a result with only refusal set when it is but the set cannot be used, and an
// empty result when path is not of its format.
using SourceOpener = SourceOpen (*)(const std::string& path);

// Adds an opener, asked before the built-in ones (in the order registered; registering the
// same opener twice has no effect). Returns nothing.
void register_source_opener(SourceOpener opener);

// Opens path read-only: through the first registered opener that claims it, else as a split
// raw image when its name ends in ".001", ".000" or ".aa", else as a device or plain file. Returns the source,
// or a refusal (see SourceOpen), or nothing when the path cannot be opened.
SourceOpen open_image_source(const std::string& path);

// Opens a device or plain file read-only; null when it cannot be opened or is neither a
// regular file nor a block device (a FIFO is never waited on).
std::unique_ptr<ImageSource> open_plain_source(const std::string& path);

// Opens the split raw image whose first segment is path: after "name.001" the segments
// "name.002", "name.003", ... (same number of digits, 3 to 9), after "name.000" "name.001",
// "name.002", ..., after "name.aa" "name.ab", ... "name.az", "name.ba", ... (as split(1) names
// them) follow while they exist. A later
// segment that exists after a missing one (a gap) refuses the set with a message naming the
// missing segment; a segment that cannot be opened refuses it naming that segment; a segment
// before the last whose size differs from the first one's refuses it naming the segment and
// both sizes (its bytes would be read at the wrong offsets); "name.001" beside a "name.000" is
// refused as the second segment of that set. Returns an
// empty result when path does not end in ".001", ".000" or ".aa" (or the 1 or 0 with more
// digits) or cannot be opened itself.
SourceOpen open_split_raw_source(const std::string& path);

}  // namespace krt
