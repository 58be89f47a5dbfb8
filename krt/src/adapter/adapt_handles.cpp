// The adapter's serialisation hooks, handle checks and read buffers.
//
// Read buffers. Each record of the handle table may own one read buffer while the adapter
// uses it. The memory is held here, in a table parallel to the handle table, and the record's
// raw_buffer / buffer fields point into it. A volume start-up clears the handle table without
// knowing about buffers; holding them here means such a buffer is never lost: it is released
// when its slot next gets a buffer, so at most one buffer per slot is ever allocated.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>

#include "adapt_internal.h"
#include "krt/adapter.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/work_drivers.h"

namespace krt {
namespace {

void lock_library() { library_lock().lock(); }
void unlock_library() { library_lock().unlock(); }

struct Hooks {
  LibraryHook enter;
  LibraryHook leave;
};

LevelledMutex g_hooks_lock{LockLevel::kLeaf};      // guards g_hooks
Hooks g_hooks{lock_library, unlock_library};       // protected by g_hooks_lock

Hooks current_hooks() {
  std::lock_guard<LevelledMutex> hold(g_hooks_lock);
  return g_hooks;
}

std::unique_ptr<uint8_t[]> g_buffers[kMaxFileHandles];  // protected by library_lock()

constexpr uint32_t kBufferAlign = 512;
constexpr uint64_t kMaxLengthBytes = 0xFFFFFC00;  // 4 GiB - 1 KB, a whole number of kilobytes

}  // namespace

void set_library_hooks(WakeFn before_wake, WokenFn after_wake, LibraryHook enter, LibraryHook leave) {
  set_wakeup_callbacks(before_wake, after_wake);
  std::lock_guard<LevelledMutex> hold(g_hooks_lock);
  g_hooks = enter && leave ? Hooks{enter, leave} : Hooks{lock_library, unlock_library};
}

namespace adapt {

SlotScope::SlotScope() {
  const Hooks hooks = current_hooks();
  hooks.enter();
  leave_ = hooks.leave;
}

SlotScope::~SlotScope() { leave_(); }

int handle_slot(const void* handle) {
  const auto first = reinterpret_cast<uintptr_t>(file_handle_slot(0));
  const auto at = reinterpret_cast<uintptr_t>(handle);
  if (at < first) return -1;
  const uintptr_t offset = at - first;
  if (offset % sizeof(FILEHANDLE) != 0 || offset / sizeof(FILEHANDLE) >= uintptr_t(kMaxFileHandles))
    return -1;
  return int(offset / sizeof(FILEHANDLE));
}

FILEHANDLE* open_handle(const void* handle) {
  const int slot = handle_slot(handle);
  if (slot < 0) return nullptr;
  FILEHANDLE* h = file_handle_slot(slot);
  if (check_handle(h) != FS_OK || h->file_flag == kFileFree) return nullptr;
  return h;
}

bool disk_error(const DriverParam* pdp) {
  if (!pdp || pdp->err_state != kErrStateDiskError) return false;
  log_trace("Disk error!\n");
  return true;
}

bool attach_buffer(FILEHANDLE* h, uint32_t size) {
  const int slot = handle_slot(h);
  if (slot < 0) return false;
  g_buffers[slot].reset(new (std::nothrow) uint8_t[size + kBufferAlign]);
  uint8_t* raw = g_buffers[slot].get();
  if (!raw) return false;
  h->raw_buffer = raw;
  h->buffer = raw + (kBufferAlign - reinterpret_cast<uintptr_t>(raw) % kBufferAlign) % kBufferAlign;
  h->buffer_size = size;
  return true;
}

void release_buffer(FILEHANDLE* h) {
  const int slot = handle_slot(h);
  if (slot >= 0) g_buffers[slot].reset();
  h->raw_buffer = nullptr;
  h->buffer = nullptr;
}

void drop_dead_record(FILEHANDLE* h) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (handle_slot(h) < 0 || h->file_flag == kFileFree || h->fs_change == fs_change() ||
      !h->pdp || h->pdp->err_state != kErrStateDiskError)
    return;
  h->file_flag = kFileFree;
  release_buffer(h);
}

uint32_t length_bytes(uint64_t length_kb) {
  return uint32_t(std::min<uint64_t>(length_kb, kMaxLengthBytes / 1024) * 1024);
}

}  // namespace adapt
}  // namespace krt
