// Fuzzing target: mounting a damaged recorder disk, then everything an examiner does with it.
//
// The input overwrites the metadata of a small two-partition disk (damaged_disk.h). Each run
// attaches the disk, runs the volume start-up (mounting, restoring, the record calendar),
// lists every folder under /mnt and reads every listed recording through the adapter, then
// checks the sector cache's and the handle table's rules and that no transfer left the disk.
// A crash, a sanitizer report, a broken rule or a run that never ends is a finding.
#include <cstddef>
#include <cstdint>

#include "damaged_disk.h"
#include "krt/volume.h"
#include "krt_testing/hostile_disk.h"
#include "catalog/walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::SampleDisk& disk = fuzz::sample_disk();
  fuzz::quiet_library_log();
  fuzz::lay_input(disk, data, size);
  krt_testing::attach_only({disk.path});
  krt::volume_startup();
  fuzz::check_library("the volume start-up");
  WalkLimits limits;
  limits.read_cap = 256 * 1024;
  limits.max_recordings = 256;
  walk_everything(limits);
  fuzz::check_library("the walk");
  return 0;
}
