// What the listings and the calendar worked out, kept per partition until the library's sectors
// change (library_changes(): a start-up, a write of the library, another attach).
#include "adapt_memo.h"

#include <mutex>
#include <unordered_map>

#include "krt/disk_io.h"
#include "krt/lock.h"

namespace krt::adapt {
namespace {

// Entries a partition keeps at most of each kind; a full memo starts afresh.
constexpr size_t kMaxEntries = size_t(1) << 20;

struct PartitionMemo {
  uint64_t changes = ~uint64_t(0);                    // library_changes() it was filled at
  std::unordered_map<uint64_t, bool> day_lists;       // (day, channel): a listing finds one
  std::unordered_map<uint64_t, RecordCheck> records;  // (first cluster, channel)
  std::map<uint32_t, uint64_t> calendar_days;         // listed_channel_days(pdp, 0, true)
  bool calendar_known = false;
};

PartitionMemo g_memos[kMaxDisks][kMaxPartitions];  // protected by library_lock()

// The memo of pdp's partition, emptied when the library's sectors changed since it was filled;
// null for a partition outside the table.
PartitionMemo* memo_of(const DriverParam& pdp) {
  if (pdp.dev < 0 || pdp.dev >= kMaxDisks || pdp.part < 0 || pdp.part >= kMaxPartitions) return nullptr;
  PartitionMemo& m = g_memos[pdp.dev][pdp.part];
  const uint64_t now = library_changes();
  if (m.changes != now) {
    m = PartitionMemo{};
    m.changes = now;
  }
  return &m;
}

uint64_t day_key(uint8_t channel, uint32_t day) { return uint64_t(day) << 8 | channel; }
uint64_t record_key(uint32_t c, uint8_t channel) { return uint64_t(c) << 8 | channel; }

template <typename Map, typename Value>
void keep(Map& map, uint64_t key, const Value& value) {
  if (map.size() >= kMaxEntries) map.clear();
  map[key] = value;
}

}  // namespace

std::optional<bool> memo_day_lists(const DriverParam& pdp, uint8_t channel, uint32_t day) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const PartitionMemo* m = memo_of(pdp);
  if (!m) return std::nullopt;
  const auto it = m->day_lists.find(day_key(channel, day));
  return it == m->day_lists.end() ? std::nullopt : std::optional<bool>(it->second);
}

void memo_keep_day_lists(const DriverParam& pdp, uint8_t channel, uint32_t day, bool lists) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (PartitionMemo* m = memo_of(pdp)) keep(m->day_lists, day_key(channel, day), lists);
}

std::optional<RecordCheck> memo_record(const DriverParam& pdp, uint32_t c, uint8_t channel) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const PartitionMemo* m = memo_of(pdp);
  if (!m) return std::nullopt;
  const auto it = m->records.find(record_key(c, channel));
  return it == m->records.end() ? std::nullopt : std::optional<RecordCheck>(it->second);
}

void memo_keep_record(const DriverParam& pdp, uint32_t c, uint8_t channel, const RecordCheck& check) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (PartitionMemo* m = memo_of(pdp)) keep(m->records, record_key(c, channel), check);
}

const std::map<uint32_t, uint64_t>* memo_calendar_days(const DriverParam& pdp) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  const PartitionMemo* m = memo_of(pdp);
  return m && m->calendar_known ? &m->calendar_days : nullptr;
}

void memo_keep_calendar_days(const DriverParam& pdp, const std::map<uint32_t, uint64_t>& days) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (PartitionMemo* m = memo_of(pdp)) {
    m->calendar_days = days;
    m->calendar_known = true;
  }
}

}  // namespace krt::adapt
