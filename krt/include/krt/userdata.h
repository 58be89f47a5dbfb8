// The user-data area: small records a recorder attaches to a recording.
//
// The only kind of user data is a card number: 20 BCD digits (two per byte, 10 bytes) and a
// card type byte. A partition keeps its records in a ring of ud_items (0x280000) items of 16
// bytes inside its reserved clusters, at relative sectors ud_start .. ud_start + 81,919:
//
//   item n (n >= 1) at relative sector ud_start + n / 32, bytes 16 * (n % 32) .. + 15
//
// Item 0 is never used; an item number of 0 in a file's first directory item means "no user
// data". The ring runs from ud_first_item (oldest live item) to ud_last_item (next to write);
// advancing past ud_items - 1 wraps to item 1. Each item names the first cluster of its file,
// so an item whose file has been overwritten is recognised and dropped (ud_purge).
//
// Items are read and changed through the sector cache. All functions take library_lock().
#pragma once

#include <cstddef>
#include <cstdint>

#include "krt/driver.h"
#include "krt/layout.h"

namespace krt {

constexpr uint32_t kUdAreaSectors = kUdItemSize * kUdItems / 512;  // 81,920
constexpr uint32_t kUdItemsPerSector = 512 / kUdItemSize;         // 32
constexpr uint8_t kAnyCardType = 0xFF;  // pattern card type matching every type
constexpr uint8_t kAnyDigit = 0xF;      // BCD digit matching every digit

// A user-data record: the first 12 bytes of an item, and what the writer hands in.
struct UserData {
  uint8_t card[10];   // card number: 20 BCD digits, byte i = digit 2i (low) and 2i+1 (high)
  uint8_t card_type;  // card type
  uint8_t lap;        // lap of the driver when the item was written (ignored on input)
};
static_assert(sizeof(UserData) == 12);
static_assert(offsetof(UserData, card_type) == 10 && offsetof(UserData, lap) == 11);

// A user-data item as stored (16 bytes).
struct UdItemDisk {
  uint8_t card[10];    // card number, as in UserData
  uint8_t card_type;   // card type
  uint8_t lap;         // lap of the driver when the item was written
  le32 first_cluster;  // first cluster of the file the item belongs to; 0 = empty item
};
static_assert(sizeof(UdItemDisk) == kUdItemSize);
static_assert(offsetof(UdItemDisk, card_type) == 10 && offsetof(UdItemDisk, lap) == 11);
static_assert(offsetof(UdItemDisk, first_cluster) == 12);

// Whether the driver's user-data area lies inside its reserved clusters:
// data_off <= ud_start, ud_start + ud_item_size * ud_items / 512 <= data_off + rev_clus *
// sector_per_clus, and rev_clus <= total_clus.
bool ud_area_fits(const DriverParam& pdp);

// Writes zeros over the driver's whole user-data area (ud_item_size * ud_items / 512 sectors
// from ud_start) with direct transfers of 128 sectors, and zeroes the cached copies of those
// sectors. Returns 0; 1 when the area does not lie inside the reserved clusters (ud_area_fits;
// warning "partition P of disk D: its user-data area does not lie inside its reserved clusters;
// ...": zeroing it would destroy recordings), or when a transfer fails.
int init_ud_area(const DriverParam& pdp);

// Stores a record for the file starting at first_cluster in item ud_last_item (the driver's
// lap replaces the record's lap byte), writes its sector at once, advances ud_last_item
// (wrapping to 1), purges and saves the parameter block. Sets item to the item number used.
// Returns 0; FS_IO_ERROR when the sector cannot be read or the area's pointers are out of
// range; 1 when the area does not lie inside the reserved clusters (warning, as above) or the
// sector's write fails.
int ud_add_item(DriverParam& pdp, uint32_t first_cluster, const UserData& ud, uint32_t& item);

// Copies the record of item `item` into out when that item belongs to the file starting at
// first_cluster. Returns 0; FS_NO_USER_DATA (10) for item 0, an item number outside the ring,
// or an item of another file (then the ring is purged); FS_IO_ERROR when a sector cannot be
// read.
int ud_get_item(DriverParam& pdp, uint32_t item, uint32_t first_cluster, UserData& out);

// Checks whether the file starting at first_cluster, whose items start at start_item, carries
// records matching the `count` patterns in order (card_match). Items of card types other than
// the first item's are passed over. Returns 0 when a window of `count` consecutive items all
// match; FS_NO_USER_DATA when they do not, when the file's items end, or for start_item 0;
// FS_IO_ERROR on a read failure; or the error of ud_purge (run first when the driver is not
// closed cleanly).
int ud_check_item(DriverParam& pdp, const UserData* patterns, uint8_t count, uint32_t first_cluster,
                  uint32_t start_item);

// Drops the items of files that the current lap has overwritten: from ud_first_item, zeroes
// each item whose first cluster lies below current_cluster and whose lap differs from the
// driver's lap, up to ud_last_item; flushes the disk and moves ud_first_item to where the walk
// stopped. Does nothing in lap 0. Returns 0, or FS_IO_ERROR when a sector cannot be read.
int ud_purge(DriverParam& pdp);

// Whether a record matches a pattern: the pattern's card type is kAnyCardType or equals the
// record's, and each of the 20 digit pairs is equal or has kAnyDigit on either side.
bool card_match(const UserData& pattern, const UserData& record);

}  // namespace krt
