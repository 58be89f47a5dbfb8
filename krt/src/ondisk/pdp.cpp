// Loading and saving a driver's parameter block, and releasing its entry.
#include "krt/pdp.h"

#include <cstring>
#include <mutex>

#include "krt/cache.h"
#include "krt/disk.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/result.h"
#include "krt/work_drivers.h"

namespace krt {

DriverParam* load_pdp(int disk, int part, uint64_t start) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  DriverParam loaded{};
  {
    HeldBuf block(bread(disk, start + kTempOff));  // always sector 24, whatever temp_off says
    if (!block) return nullptr;
    if (!decode_driver_param(block->data, loaded)) {
      log_error("temp sec check flag error\n");
      return nullptr;
    }
  }
  // A stored type equal to the free marker would make the loaded entry look free.
  if (loaded.type == kDriverFree) {
    log_error("parameter block of disk %d partition %d has the type %u of a free entry\n", disk, part,
              loaded.type);
    return nullptr;
  }
  DriverParam* entry = get_pdp(disk, part);
  if (!entry) {
    const int slot = get_empty_driver();
    if (slot < 0) return nullptr;
    entry = driver_slot(slot);
  }
  uint8_t* const coll_copy = entry->coll_copy;
  TimeSection* const sections = entry->sections;
  *entry = loaded;
  entry->coll_copy = coll_copy;
  entry->sections = sections;
  entry->start_sector = start;
  entry->dirty = 0;
  entry->dev = disk;
  entry->part = part;
  entry->prev_drv = entry->next_drv = nullptr;
  return entry;
}

void load_collision_table(DriverParam& pdp) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  HeldBuf coll(bread(pdp.dev, pdp.start_sector + pdp.coll_sec));
  if (coll) std::memcpy(pdp.coll_copy, coll->data, kSectorBytes);
}

int save_pdp(DriverParam& pdp) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  log_trace("save_pdp,%u dev-- %u clus\n", uint32_t(pdp.dev), pdp.current_cluster);
  if (pdp.dirty) {
    HeldBuf coll(bread(pdp.dev, pdp.start_sector + pdp.coll_sec));
    if (!coll) return FS_IO_ERROR;
    std::memcpy(coll->data, pdp.coll_copy, kSectorBytes);
    bdirty(coll.get());
    bwrite(coll.get());
    pdp.dirty = 0;
  }
  pdp.saved_cluster = pdp.current_cluster;
  pdp.restore_from = pdp.current_cluster;
  HeldBuf block(bread(pdp.dev, pdp.start_sector + pdp.temp_off));
  if (!block) return FS_IO_ERROR;
  encode_driver_param(pdp, block->data);
  bdirty(block.get());
  bwrite(block.get());
  block.reset();
  bflush(pdp.dev);
  return FS_OK;
}

int release_driver(int disk, int part) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  DriverParam* p = get_pdp(disk, part);
  if (!p) return -1;
  const bool was_work = work_driver(int(p->type)) == p;
  const bool was_linked = unlink_from_ring(*p);
  const uint32_t type = p->type;
  free_driver_slot(*p);
  if (was_work || was_linked) build_type_ring(int(type));
  return 0;
}

}  // namespace krt
