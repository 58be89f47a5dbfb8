// Two recorder disk images for the record tree and copy tests, built once per process with
// the image builder, attached as the only disk candidates.
//
//   disk 0 (PhysicalDrive0), 64 sectors per cluster:
//     partition 0: 2010-03-05 channels 1, 2, 3 and 32: hourly files 08:00-11:00;
//                  2010-03-06 channels 1, 3 and 4: hourly files 08:00-10:00, and a channel-1
//                  file 07:00-08:00 that no other channel shares (channel 2 missing that day)
//     partition 1: formatted, empty (no calendar entry, so not listed for disk 0)
//     partition 2: 2010-03-07 channel 6: two half-hour files from 12:00
//   disk 1 (PhysicalDrive1):
//     partition 0: 2010-04-01 channels 1 and 4: half-hour files 08:00-09:00
//     partition 1: 2010-04-02 channels 32 and 41: one file each, 10:00-10:20
#pragma once

#include <string>
#include <vector>

#include "krt_testing/image_builder.h"
#include "krt_testing/scratch.h"

namespace apptest {

class CTwoDisks {
 public:
  // The images, built on first use.
  static const CTwoDisks& Get();

  // Makes the first `count` images the only disk candidates (no environment, program folder
  // or block devices) and brings the volume up.
  void Attach(int count = 2) const;

  // The listing names of the recordings of one channel folder (channel as written, 1-64),
  // in start-time order, as the builder placed them.
  std::vector<std::string> Names(int disk, int slot, int year, int month, int day, int channel) const;

  // The recording data the builder wrote for the recording listed as name on that partition
  // (these files have no header); empty when there is none.
  std::vector<uint8_t> Bytes(int disk, int slot, const std::string& name) const;

  std::vector<std::string> m_paths;                  // image files, disk 0 first
  std::vector<krt_testing::Disk> m_disks;            // as described
  std::vector<krt_testing::BuildResult> m_built;     // as built

 private:
  CTwoDisks();
  krt_testing::ScratchDir m_dir;
};

}  // namespace apptest
