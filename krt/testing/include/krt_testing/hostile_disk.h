// A hostile device behind the library, for fuzzing and damage sweeps.
//
// Installs sector hooks (krt/disk.h) over the attached image files that
//   - replace bytes: patches laid over the image as it is read, so a damaged disk is made
//     without writing the image file (reads through the patch see the changed bytes; the
//     image stays as built);
//   - fail reads on purpose: the N-th read hook call from the last reset fails, once or from
//     then on;
//   - watch every transfer: reads and writes that do not lie wholly inside one of the allowed
//     sector ranges of their disk are recorded (a transfer outside its partition);
//   - discard every write, as the viewer's write hook does.
// State is process-wide, like the hooks; the library calls the hooks with its lock held, and
// the setters here are meant for the test's own thread between library calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "krt_testing/image_builder.h"

namespace krt_testing {

// The small disk that the fuzzing target and the damage sweeps damage: two partitions of
// 200,000 sectors, 64 sectors per cluster, pattern payload. Partition 0 has an older lap
// (channels 0 and 1, 2010-03-04 00:00-12:00) partly overwritten by the current lap (channels
// 0..2, 2010-03-05 00:00-04:00); partition 1 was left unclean by its recorder (channel 5,
// 2010-03-06 00:00-04:00, files with a two-sector "DHII" header). Every file is an hour of
// two clusters.
Disk damage_sample_disk();

// The clusters a built partition uses: [rev_clus, one past the highest cluster of any file).
std::pair<uint32_t, uint32_t> used_clusters(const PartitionReport& report);

// Attaches exactly the given image files (no environment, program folder or block devices).
// Returns the number of recorder disks attached.
int attach_only(const std::vector<std::string>& images);

namespace hostile {

// Installs the hostile hooks (replacing the hooks in use) and clears every patch, fault and
// watch. Returns nothing.
void install();

// Puts back the library's default hooks and clears the state. Returns nothing.
void uninstall();

// Forgets every patch, fault, allowed range and record; the read count starts again at 0.
void reset();

// Lays bytes over the image of disk from absolute byte offset `at` on. Later patches of the
// same bytes win. Returns nothing.
void patch(uint16_t disk, uint64_t at, const void* bytes, size_t size);

// Lays a little-endian 32-bit value over the image at absolute byte offset `at`.
void patch_u32(uint16_t disk, uint64_t at, uint32_t value);

// Makes read hook call number n (1-based, counted from the last reset) fail; with from_then_on
// every later read fails too. n = 0 fails nothing. Returns nothing.
void fail_read(uint64_t n, bool from_then_on);

// Read hook calls since the last reset, and how many of them failed on purpose.
uint64_t reads();
uint64_t failed_reads();

// Allows transfers of disk inside sectors [first, first + count). Once a disk has a range,
// every transfer of it that does not lie wholly inside one of its ranges is recorded.
void allow(uint16_t disk, uint64_t first, uint64_t count);

// The transfers recorded outside the allowed ranges, one line each ("read disk 0 sectors
// 100..107"), at most 16 of them.
std::vector<std::string> stray_transfers();

}  // namespace hostile
}  // namespace krt_testing
