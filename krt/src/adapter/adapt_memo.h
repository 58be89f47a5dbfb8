// The listings' memo: what the calendar's confirmations and the listings' per-recording checks
// found, per partition, so that a second listing of a day, a tree expanded again or the
// calendar read once more cost no reads. Everything in it was read from the partition's
// sectors; it is forgotten as soon as library_changes() moves on (every start-up, every write
// of the library, another attach), so it never outlives what it was worked out from.
//
// Every function takes library_lock(). A partition outside the driver table keeps nothing.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "krt/driver.h"

namespace krt::adapt {

// The check of one recording as a listing makes it (fill_record).
struct RecordCheck {
  int result = 0;            // readable_sectors' result: FS_OK, or why an open is refused
  uint64_t told = 0;         // sectors the directory item tells (the key's item may change only
  uint64_t sectors = 0;      //   by a write); sectors its clusters really hold
  int32_t header = -1;       // header sectors; -1 = not read yet
};

// Whether a listing of channel on the day (packed midnight) of pdp finds a recording, when
// that is known.
std::optional<bool> memo_day_lists(const DriverParam& pdp, uint8_t channel, uint32_t day);
void memo_keep_day_lists(const DriverParam& pdp, uint8_t channel, uint32_t day, bool lists);

// The check of the recording whose first cluster is c, listed in channel, when known.
std::optional<RecordCheck> memo_record(const DriverParam& pdp, uint32_t c, uint8_t channel);
void memo_keep_record(const DriverParam& pdp, uint32_t c, uint8_t channel, const RecordCheck& check);

// The partition's calendar days (listed_channel_days from cluster 0, first channel only),
// when known; the pointer is valid until the next call into the memo.
const std::map<uint32_t, uint64_t>* memo_calendar_days(const DriverParam& pdp);
void memo_keep_calendar_days(const DriverParam& pdp, const std::map<uint32_t, uint64_t>& days);

}  // namespace krt::adapt
