// Closing a handle. A recording being written is packed by the writer before its record is
// freed; the handle table itself knows nothing of writing.
#include <mutex>

#include "files/file_internal.h"
#include "krt/cache.h"
#include "krt/clock.h"
#include "krt/file.h"
#include "krt/file_write.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/packed_time.h"

namespace krt {
namespace {

bool open_for_reading(uint8_t flag) { return flag == kFileReading || flag == kFileReadingAlt; }

// Closes one record; its mirror is left to the caller.
int close_record(FILEHANDLE& h) {
  if (open_for_reading(h.file_flag)) {
    release_handle(h);
  } else if (h.file_flag == kFileWriting) {
    // A recording being written gets its directory items brought up to date, written at once.
    release_handle(h);
    if (h.kind == kHandleRecording) pack_file(&h, time_now(), true);
  } else {
    log_warn("Not a active file handle!!!!!\n");
    return FS_INVALID_HANDLE;
  }
  return FS_OK;
}

}  // namespace

int krt_file_close(FILEHANDLE* h) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (const int r = check_handle(h); r != FS_OK) return r;
  if (const int r = close_record(*h); r != FS_OK) return r;
  // A mirror is closed the same way, but its own mirror is not followed: a mirror never has
  // one, and a broken record must not send the close round in a circle.
  if (h->mirror) {
    if (check_handle(h->mirror) == FS_OK && h->mirror != h) close_record(*h->mirror);
    h->mirror = nullptr;
  }
  return FS_OK;
}

int krt_file_close_all() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  for (int slot = 0; slot < kMaxFileHandles; ++slot) krt_file_close(file_handle_slot(slot));
  bflush_all();
  return FS_OK;
}

}  // namespace krt
