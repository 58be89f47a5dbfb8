// The sector cache.
//
// Invariants (cache_check() tests them; debug builds assert them after every change):
//   1. The ring holds each of the 128 headers exactly once, its prev and next links agree,
//      and the head is one of them.
//   2. Going round the ring from the head, `assigned` strictly increases: the head is the
//      buffer that got its identity longest ago, and a buffer given a new identity moves to
//      the tail (just before the head).
//   3. Every buffer in hash chain h has a sector whose low byte is h; the prev and next links
//      of each chain agree; no buffer is in two chains or twice in one.
//   4. No two buffers in the chains carry the same (disk, sector).
//   5. A buffer in no chain has no identity: it is neither valid, nor dirty, nor held.
//   6. Buffer i always owns data block i.
//
// States of a buffer:
//
//   binit ──> blank ──getblk──> held (refs > 0) ──brelse──> free (refs 0)
//                                  ^                          │  (possibly valid, dirty)
//                                  └──────getblk/bread────────┘
//   free ──recycled by getblk (written first when dirty)──> held, with a new identity
//
// A held buffer is never recycled; a failed read leaves its buffer free and invalid.
#include "krt/cache.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "krt/disk_io.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/readahead.h"

namespace krt {
namespace {

constexpr uint8_t kMaxRefs = 255;

// All protected by library_lock().
alignas(512) uint8_t g_pool[kCacheBuffers][kSectorBytes];
alignas(512) uint8_t g_scratch[kIoScratchSectors * kSectorBytes];
Buf g_bufs[kCacheBuffers];
Buf* g_chains[kCacheChains];
Buf* g_head = nullptr;          // null until the first binit
uint64_t g_next_assignment = 0; // `assigned` of the next new identity

size_t chain_of(uint64_t sector) { return size_t(sector & 0xFF); }

void ensure_ready() {
  if (!g_head) binit();
}

void debug_check() {
#ifndef NDEBUG
  const std::string broken = cache_check();
  if (!broken.empty()) std::fprintf(stderr, "sector cache: %s\n", broken.c_str());
  assert(broken.empty());
#endif
}

Buf* find(int disk, uint64_t sector) {
  for (Buf* b = g_chains[chain_of(sector)]; b; b = b->hash_next) {
    if (b->disk == disk && b->sector == sector) return b;
  }
  return nullptr;
}

bool in_chain(const Buf* b) { return b->hash_prev || g_chains[chain_of(b->sector)] == b; }

void unlink_hash(Buf* b) {
  if (!in_chain(b)) return;
  if (b->hash_prev) b->hash_prev->hash_next = b->hash_next;
  else g_chains[chain_of(b->sector)] = b->hash_next;
  if (b->hash_next) b->hash_next->hash_prev = b->hash_prev;
  b->hash_prev = b->hash_next = nullptr;
}

void link_hash_front(Buf* b) {
  Buf*& head = g_chains[chain_of(b->sector)];
  b->hash_prev = nullptr;
  b->hash_next = head;
  if (head) head->hash_prev = b;
  head = b;
}

void unlink_ring(Buf* b) {
  if (!b->ring_prev || !b->ring_next) {
    log_warn("Free block list corrupted\n");
    return;
  }
  if (g_head == b) g_head = b->ring_next;
  b->ring_prev->ring_next = b->ring_next;
  b->ring_next->ring_prev = b->ring_prev;
  b->ring_prev = b->ring_next = nullptr;
}

void link_ring_tail(Buf* b) {
  b->ring_next = g_head;
  b->ring_prev = g_head->ring_prev;
  g_head->ring_prev->ring_next = b;
  g_head->ring_prev = b;
}

// The first buffer nobody holds, going round the ring from the head; null when all are held.
Buf* first_unheld() {
  Buf* b = g_head;
  do {
    if (b->refs == 0) return b;
    b = b->ring_next;
  } while (b != g_head);
  return nullptr;
}

}  // namespace

void binit() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  for (int i = 0; i < kCacheBuffers; ++i) {
    Buf& b = g_bufs[i];
    b = Buf{};
    b.assigned = uint64_t(i);
    b.data = g_pool[i];
    b.ring_next = &g_bufs[(i + 1) % kCacheBuffers];
    b.ring_prev = &g_bufs[(i + kCacheBuffers - 1) % kCacheBuffers];
  }
  for (Buf*& chain : g_chains) chain = nullptr;
  g_head = &g_bufs[0];
  g_next_assignment = kCacheBuffers;
  readahead_forget_all();
  note_library_change();
}

Buf* getblk(int disk, uint64_t sector) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  ensure_ready();
  if (Buf* b = find(disk, sector)) {
    if (b->refs == kMaxRefs) return nullptr;
    ++b->refs;
    return b;
  }
  Buf* b = first_unheld();
  if (!b) return nullptr;
  b->refs = 1;
  unlink_hash(b);
  unlink_ring(b);
  bwrite(b);  // writes only when dirty, under its old identity
  b->disk = disk;
  b->sector = sector;
  b->valid = 0;
  b->dirty = 0;
  b->assigned = g_next_assignment++;
  link_ring_tail(b);
  link_hash_front(b);
  debug_check();
  return b;
}

Buf* bread(int disk, uint64_t sector) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  Buf* b = getblk(disk, sector);
  if (!b || b->valid) return b;
  if (readahead_sector(disk, sector, b->data) != 0) {
    brelse(b);
    return nullptr;
  }
  b->valid = 1;
  return b;
}

void bdirty(Buf* b) {
  if (!b) return;
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  b->dirty = 1;
  note_library_change();
}

void bclear(Buf* b) {
  if (!b) return;
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  std::memset(b->data, 0, kSectorBytes);
  b->valid = 1;
  note_library_change();
}

void bzero_cached(int disk, uint64_t first, uint64_t count) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  ensure_ready();
  note_library_change();
  for (Buf& b : g_bufs) {
    if (in_chain(&b) && b.disk == disk && b.sector >= first && b.sector - first < count) {
      std::memset(b.data, 0, kSectorBytes);
      b.valid = 1;
      b.dirty = 0;
    }
  }
}

int bwrite(Buf* b) {
  if (!b) return 0;
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (!b->dirty) return 0;
  const int result = disk_io_write(b->disk, 1, b->sector, b->data) != 0 ? 1 : 0;
  b->dirty = 0;
  return result;
}

void brelse(Buf* b) {
  if (!b) return;
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (b->refs == 0) {
    log_warn("Trying to free free buffer\n");
    return;
  }
  --b->refs;
  debug_check();
}

int bflush(int disk) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  ensure_ready();
  int result = 0;
  for (Buf& b : g_bufs) {
    if (b.dirty && b.disk == disk && bwrite(&b) != 0) result = 1;
  }
  return result;
}

int bflush_all() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  ensure_ready();
  int result = 0;
  for (Buf& b : g_bufs) {
    if (b.dirty && bwrite(&b) != 0) result = 1;
  }
  return result;
}

uint8_t* io_scratch() { return g_scratch; }

std::string cache_check() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  ensure_ready();
  auto index_of = [](const Buf* x) { return x - g_bufs; };
  // Rules 1 and 2: the ring.
  std::array<bool, kCacheBuffers> in_ring{};
  const Buf* b = g_head;
  for (int n = 0; n < kCacheBuffers; ++n) {
    if (!b || index_of(b) < 0 || index_of(b) >= kCacheBuffers) return "1: ring leaves the buffers";
    if (!b->ring_next || b->ring_next->ring_prev != b) return "1: ring links disagree";
    if (std::exchange(in_ring[size_t(index_of(b))], true)) return "1: a buffer is twice in the ring";
    if (n + 1 < kCacheBuffers && b->ring_next->assigned <= b->assigned) {
      return "2: ring not in assignment order";
    }
    b = b->ring_next;
  }
  if (b != g_head) return "1: ring does not close at the head";
  // Rules 3 and 4: the chains.
  std::array<bool, kCacheBuffers> chained{};
  std::array<std::pair<int32_t, uint64_t>, kCacheBuffers> identities{};
  size_t count = 0;
  for (size_t h = 0; h < kCacheChains; ++h) {
    const Buf* prev = nullptr;
    for (const Buf* c = g_chains[h]; c; prev = c, c = c->hash_next) {
      if (count == kCacheBuffers) return "3: chains hold more links than buffers";
      if (chain_of(c->sector) != h) return "3: buffer in the wrong chain";
      if (c->hash_prev != prev) return "3: chain links disagree";
      if (std::exchange(chained[size_t(index_of(c))], true)) return "3: a buffer is twice in the chains";
      identities[count++] = {c->disk, c->sector};
    }
  }
  std::sort(identities.begin(), identities.begin() + long(count));
  if (std::adjacent_find(identities.begin(), identities.begin() + long(count)) !=
      identities.begin() + long(count)) {
    return "4: two buffers share a sector";
  }
  // Rules 5 and 6: every buffer.
  for (int i = 0; i < kCacheBuffers; ++i) {
    const Buf& x = g_bufs[i];
    if (!chained[size_t(i)] && (x.valid || x.dirty || x.refs)) return "5: buffer without identity in use";
    if (x.data != g_pool[i]) return "6: buffer lost its data block";
  }
  return {};
}

const Buf* cache_buffer(int index) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  ensure_ready();
  return index >= 0 && index < kCacheBuffers ? &g_bufs[index] : nullptr;
}

const Buf* cache_ring_head() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  ensure_ready();
  return g_head;
}

}  // namespace krt
