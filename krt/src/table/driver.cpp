// Driver entries: the parameter block codec and the table of 32 entries with their companions.
#include "krt/driver.h"

#include <cstring>

#include "krt/endian.h"
#include "krt/log.h"

namespace krt {
namespace {

#define PDP_AT(field) offsetof(DriverParamDisk, field)

// The stored 32-bit words of the parameter block and the entry fields they fill.
struct Word32 {
  size_t offset;
  uint32_t DriverParam::*member;
};

constexpr Word32 kStoredWords[] = {
    {PDP_AT(status), &DriverParam::status},
    {PDP_AT(start_time1), &DriverParam::start_time1},
    {PDP_AT(end_time1), &DriverParam::end_time1},
    {PDP_AT(current_cluster), &DriverParam::current_cluster},
    {PDP_AT(start_cluster2), &DriverParam::start_cluster2},
    {PDP_AT(end_cluster2), &DriverParam::end_cluster2},
    {PDP_AT(start_time2), &DriverParam::start_time2},
    {PDP_AT(end_time2), &DriverParam::end_time2},
    {PDP_AT(sector_bytes), &DriverParam::sector_bytes},
    {PDP_AT(sector_per_clus), &DriverParam::sector_per_clus},
    {PDP_AT(rev_clus), &DriverParam::rev_clus},
    {PDP_AT(index_off), &DriverParam::index_off},
    {PDP_AT(temp_off), &DriverParam::temp_off},
    {PDP_AT(dir_off), &DriverParam::dir_off},
    {PDP_AT(data_off), &DriverParam::data_off},
    {PDP_AT(total_clus), &DriverParam::total_clus},
    {PDP_AT(error_clus), &DriverParam::error_clus},
    {PDP_AT(type), &DriverParam::type},
    {PDP_AT(ud_start), &DriverParam::ud_start},
    {PDP_AT(ud_item_size), &DriverParam::ud_item_size},
    {PDP_AT(ud_items), &DriverParam::ud_items},
    {PDP_AT(ud_first_item), &DriverParam::ud_first_item},
    {PDP_AT(ud_last_item), &DriverParam::ud_last_item},
    {PDP_AT(saved_cluster), &DriverParam::saved_cluster},
    {PDP_AT(restore_from), &DriverParam::restore_from},
    {PDP_AT(second_dir), &DriverParam::second_dir},
    {PDP_AT(reserve_a_start), &DriverParam::reserve_a_start},
    {PDP_AT(reserve_a_size), &DriverParam::reserve_a_size},
    {PDP_AT(err_state), &DriverParam::err_state},
    {PDP_AT(coll_sec), &DriverParam::coll_sec},
    {PDP_AT(coll_count), &DriverParam::coll_count},
    {PDP_AT(cur_section), &DriverParam::cur_section},
    {PDP_AT(reserve_b_start), &DriverParam::reserve_b_start},
    {PDP_AT(reserve_b_size), &DriverParam::reserve_b_size},
};

// Memory-only link words: written as zero, never read.
constexpr size_t kLinkWords[] = {PDP_AT(prev_drv), PDP_AT(next_drv), PDP_AT(coll_copy),
                                 PDP_AT(sections), PDP_AT(word_180)};

// The table and the buffers each slot owns. Protected by library_lock().
struct DriverTable {
  DriverParam entries[kMaxDrivers];
  uint8_t coll[kMaxDrivers][512];
  TimeSection sections[kMaxDrivers][kSectionsPerDriver];

  DriverTable() {
    for (int i = 0; i < kMaxDrivers; ++i) clear_slot(i);
  }

  // Frees slot i and zeroes its companions, pointing the entry at them again.
  void clear_slot(int i) {
    DriverParam& p = entries[i];
    p = DriverParam{};
    p.type = kDriverFree;
    p.coll_copy = coll[i];
    p.sections = sections[i];
    std::memset(coll[i], 0, sizeof coll[i]);
    for (TimeSection& s : sections[i]) s = TimeSection{&p, nullptr, 0, 0, 0, 0, 0, 0, 0};
  }
};

DriverTable& table() {
  static DriverTable t;
  return t;
}

uint32_t g_resets = 0;  // reset_driver_table calls so far

// Slot number of an entry of the table; -1 for a record that is not one.
int slot_of(const DriverParam& p) {
  for (int i = 0; i < kMaxDrivers; ++i) {
    if (&table().entries[i] == &p) return i;
  }
  return -1;
}

}  // namespace

bool decode_driver_param(const uint8_t* block, DriverParam& p) {
  if (ld32(block + PDP_AT(magic)) != kParamMagic) return false;
  p.lap = block[PDP_AT(lap)];
  for (const Word32& w : kStoredWords) p.*w.member = ld32(block + w.offset);
  if (p.coll_sec == 0) p.coll_sec = p.temp_off + 4;
  return true;
}

void encode_driver_param(const DriverParam& p, uint8_t* block) {
  block[PDP_AT(lap)] = p.lap;
  block[PDP_AT(dirty)] = p.dirty;
  for (const Word32& w : kStoredWords) st32(block + w.offset, p.*w.member);
  for (size_t offset : kLinkWords) st32(block + offset, 0);
  st32(block + PDP_AT(dev), uint32_t(p.dev));
  st32(block + PDP_AT(part), uint32_t(p.part));
  st64(block + PDP_AT(start_sector), p.start_sector);
  st32(block + PDP_AT(magic), kParamMagic);
}

void reset_driver_table() {
  for (int i = 0; i < kMaxDrivers; ++i) table().clear_slot(i);
  ++g_resets;
}

uint32_t driver_table_resets() { return g_resets; }

DriverParam* driver_slot(int slot) {
  return slot >= 0 && slot < kMaxDrivers ? &table().entries[slot] : nullptr;
}

bool driver_in_use(const DriverParam& p) { return p.type != kDriverFree; }

DriverParam* get_pdp(int disk, int part) {
  for (DriverParam& p : table().entries) {
    if (driver_in_use(p) && p.dev == disk && p.part == part) return &p;
  }
  return nullptr;
}

int get_empty_driver() {
  for (int i = 0; i < kMaxDrivers; ++i) {
    if (!driver_in_use(table().entries[i])) return i;
  }
  log_error("the driver table is full: no room for another partition\n");
  return -1;
}

void free_driver_slot(DriverParam& p) {
  const int slot = slot_of(p);
  if (slot >= 0 && slot < kMaxDrivers) table().clear_slot(slot);
}

}  // namespace krt
