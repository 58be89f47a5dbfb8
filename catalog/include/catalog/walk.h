// Walking the whole tree under "/mnt": every folder listed, every listed recording read.
//
// This is what an examiner's first look at a disk does, in one call: the partitions, the days of
// each partition's calendar, the channels of each day, the recordings of each channel, and the
// bytes of each recording, all through the virtual file table exactly as the tool's commands
// reach them. It never stops at the first failure: every folder that cannot be listed and every
// recording that does not open or reads short is counted and described, so that damaged disks
// can be judged by the whole of what they show. The fuzzing targets and the damage sweeps use it.
//
// Needs the volume brought up (volume_startup) and runs on one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the walk met.
struct WalkReport {
  int folders = 0;                  // folders listed (the root included)
  int empty_days = 0;               // day folders listed whose channels list nothing
  int recordings = 0;               // recordings listed
  int read_whole = 0;               // recordings read to their listed size (or to the read cap)
  uint64_t bytes = 0;               // bytes delivered by every read together
  uint64_t largest = 0;             // the largest size a listing gave a recording, in bytes
  std::vector<std::string> errors;  // one line per folder or recording that failed, in walk order
  std::vector<std::string> listed;  // every listed recording as "PATH SIZE", in walk order
};

// Limits of one walk, so that a disk holding much can be walked quickly.
struct WalkLimits {
  uint64_t read_cap = UINT64_MAX;   // bytes read of each recording at most (then it counts as whole)
  int max_recordings = 1 << 20;     // recordings read at most; further ones are listed only
};

// Lists every folder under /mnt and reads every listed recording (see the top of this file).
// Returns the report; a volume with no mounted partition gives one error line.
WalkReport walk_everything(const WalkLimits& limits = {});
