// The demo disk: what `./run` shows when no recorder disk is attached.
#pragma once

#include <string>

#include "krt_testing/image_builder.h"

namespace krt_testing {

// Two partitions with different cluster sizes. Partition 0 records channels 0-3 in 30-minute
// files and has wrapped round: its older lap (2010-03-01 and 03-02) is partly overwritten by the
// current lap (2010-03-03 to 03-04 noon); channel 4 has one file from 23:45 on 03-03 to 00:30 on
// 03-04. Partition 1 records channels 4-7 on 2010-03-05 and 03-06, some files with a "DHII"
// header. Recording data is the pattern payload, or the bytes of `stream_path` when it is not
// empty (each file cut to its size).
Disk demo_disk(const std::string& stream_path = "");

}  // namespace krt_testing
