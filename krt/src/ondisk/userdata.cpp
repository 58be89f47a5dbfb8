// The user-data area: card-number records of recordings.
//
// Item numbers read from a disk are checked before use: only items 1 .. ring_size - 1 exist,
// where the ring size is ud_items capped at the standard 0x280000 (so the area never reaches
// past its 81,920 sectors), and no walk round the ring goes further than one full turn,
// whatever the ring pointers say.
#include "krt/userdata.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "krt/cache.h"
#include "krt/disk_io.h"
#include "krt/endian.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/pdp.h"
#include "krt/result.h"

namespace krt {
namespace {

constexpr uint32_t kUdTransferSectors = 128;  // sectors per direct transfer of init_ud_area
const uint8_t kZeros[kUdTransferSectors * kSectorBytes] = {};

// Sectors of the driver's user-data area.
uint64_t area_sectors(const DriverParam& p) {
  return uint64_t(p.ud_item_size) * p.ud_items / kSectorBytes;
}

// Items 1 .. ring_size(p) - 1 exist.
uint32_t ring_size(const DriverParam& p) { return std::min(p.ud_items, kUdItems); }

bool valid_item(const DriverParam& p, uint32_t n) { return n >= 1 && n < ring_size(p); }

// The item after n, wrapping past the last item to item 1.
uint32_t next_item(const DriverParam& p, uint32_t n) {
  return n + 1 >= ring_size(p) ? 1 : n + 1;
}

// A held cache buffer with item n's sector, and where the item lies in it.
struct HeldItem {
  HeldBuf buf;
  uint8_t* bytes = nullptr;  // the item's 16 bytes inside buf

  uint32_t first_cluster() const { return ld32(bytes + offsetof(UdItemDisk, first_cluster)); }
  uint8_t lap() const { return bytes[offsetof(UdItemDisk, lap)]; }
  UserData record() const {
    UserData ud;
    std::memcpy(&ud, bytes, sizeof ud);
    return ud;
  }
};

// Reads item n (which must exist) through the cache. Returns FS_OK or FS_IO_ERROR.
int read_item(const DriverParam& p, uint32_t n, HeldItem& out) {
  out.buf.reset(bread(p.dev, p.start_sector + p.ud_start + n / kUdItemsPerSector));
  if (!out.buf) return FS_IO_ERROR;
  out.bytes = out.buf->data + size_t(n % kUdItemsPerSector) * kUdItemSize;
  return FS_OK;
}

// Whether two BCD digits differ, a digit 0xF matching every digit.
bool digits_differ(uint8_t a, uint8_t b) { return a != kAnyDigit && b != kAnyDigit && a != b; }

}  // namespace

bool ud_area_fits(const DriverParam& p) {
  const uint64_t reserved_end = uint64_t(p.data_off) + uint64_t(p.rev_clus) * p.sector_per_clus;
  return p.rev_clus <= p.total_clus && p.ud_start >= p.data_off &&
         uint64_t(p.ud_start) + area_sectors(p) <= reserved_end;
}

int init_ud_area(const DriverParam& p) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (!ud_area_fits(p)) {
    log_warn("partition %d of disk %d: its user-data area does not lie inside its reserved "
             "clusters; it is left as it is\n", int(p.part), int(p.dev));
    return 1;
  }
  const uint64_t start = p.start_sector + p.ud_start;
  const uint64_t sectors = area_sectors(p);
  for (uint64_t done = 0; done < sectors; done += kUdTransferSectors) {
    const uint16_t count = uint16_t(std::min<uint64_t>(sectors - done, kUdTransferSectors));
    if (disk_io_write(p.dev, count, start + done, kZeros) != 0) {
      log_info("init_ud_area error!!!!\n");
      return 1;
    }
  }
  bzero_cached(p.dev, start, sectors);
  return FS_OK;
}

int ud_purge(DriverParam& p) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (p.lap == 0 || !valid_item(p, p.ud_first_item)) return FS_OK;
  uint32_t n = p.ud_first_item;
  int result = FS_OK;
  // Every step empties an item and an empty item ends the walk: at most one turn.
  while (n != p.ud_last_item) {
    HeldItem item;
    if ((result = read_item(p, n, item)) != FS_OK) break;
    // An empty item ends the walk too: the writer leaves none inside the live part of the ring.
    if (item.first_cluster() == 0 || item.first_cluster() >= p.current_cluster ||
        item.lap() == p.lap) {
      break;
    }
    log_warn("del ud fir_clus=%u\n", item.first_cluster());
    std::memset(item.bytes, 0, kUdItemSize);
    bdirty(item.buf.get());
    n = next_item(p, n);
  }
  bflush(p.dev);
  p.ud_first_item = n;
  return result;
}

int ud_add_item(DriverParam& p, uint32_t first_cluster, const UserData& ud, uint32_t& item_no) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (!ud_area_fits(p)) {
    log_warn("partition %d of disk %d: its user-data area does not lie inside its reserved "
             "clusters; no card-number record is written\n", int(p.part), int(p.dev));
    return 1;
  }
  if (!valid_item(p, p.ud_last_item)) return FS_IO_ERROR;
  int result = FS_OK;
  {
    HeldItem item;
    if (const int r = read_item(p, p.ud_last_item, item); r != FS_OK) return r;
    std::memcpy(item.bytes, &ud, sizeof ud);
    item.bytes[offsetof(UdItemDisk, lap)] = p.lap;
    st32(item.bytes + offsetof(UdItemDisk, first_cluster), first_cluster);
    item_no = p.ud_last_item;
    log_trace("ud_add_item() ud_first_item:%u, ud_last_item:%u, offset:%u\n", p.ud_first_item,
              p.ud_last_item, uint32_t(item.bytes - item.buf->data));
    bdirty(item.buf.get());
    if (bwrite(item.buf.get()) != 0) result = 1;
  }
  p.ud_last_item = next_item(p, p.ud_last_item);
  ud_purge(p);
  save_pdp(p);
  return result;
}

int ud_get_item(DriverParam& p, uint32_t n, uint32_t first_cluster, UserData& out) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (!valid_item(p, n)) return FS_NO_USER_DATA;
  {
    HeldItem item;
    if (const int r = read_item(p, n, item); r != FS_OK) return r;
    if (item.first_cluster() != 0 && item.first_cluster() == first_cluster) {
      out = item.record();
      return FS_OK;
    }
  }
  ud_purge(p);
  return FS_NO_USER_DATA;
}

int ud_check_item(DriverParam& p, const UserData* patterns, uint8_t count, uint32_t first_cluster,
                  uint32_t start_item) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (p.status != kStatusClean) {
    if (const int r = ud_purge(p); r != FS_OK) {
      log_info("Error %d : ud_check_item(pdp)\n", r);
      return r;
    }
  }
  if (!valid_item(p, start_item) || !patterns || count == 0) return FS_NO_USER_DATA;
  bool have_group = false;
  uint8_t group_type = 0;
  uint8_t in_window = 0;    // items of the current window seen so far
  bool all_matched = true;  // every item of the current window matched its pattern
  uint32_t n = start_item;
  for (uint32_t steps = 0; n != p.ud_last_item && steps < ring_size(p); ++steps) {
    HeldItem item;
    if (const int r = read_item(p, n, item); r != FS_OK) return r;
    const UserData record = item.record();
    if (!have_group) {
      have_group = true;
      group_type = record.card_type;
    }
    if (record.card_type == group_type) {
      if (item.first_cluster() != first_cluster) return FS_NO_USER_DATA;
      all_matched = all_matched && card_match(patterns[in_window], record);
      if (++in_window == count) {
        if (all_matched) return FS_OK;
        in_window = 0;
        all_matched = true;
      }
    }
    n = next_item(p, n);
  }
  return FS_NO_USER_DATA;
}

bool card_match(const UserData& pattern, const UserData& record) {
  if (pattern.card_type != kAnyCardType && pattern.card_type != record.card_type) return false;
  for (int i = 0; i < 10; ++i) {
    const uint8_t a = pattern.card[i];
    const uint8_t b = record.card[i];
    if (digits_differ(a & 0xF, b & 0xF) || digits_differ(a >> 4, b >> 4)) return false;
  }
  return true;
}

}  // namespace krt
