// Reading a recording through the adapter: the byte buffer on top of the file layer's sector
// reads, the direct path, the length refresh, seek and tell.
//
// A handle's byte state (all in bytes of the raw file, header included):
//   position     the next byte to deliver; the caller sees position - base_offset
//   length       the file's length as last learnt, a whole number of kilobytes
//   buffer       buffer_size bytes of the file from buffer_pos (kAdapterBufferEmpty: none)
// While a buffer is held, the file layer stands right after it (buffer_pos + buffer_size):
// every buffer fill leaves it there, and every move of the file layer that does not fill the
// buffer empties it.
#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

#include "adapt_internal.h"
#include "krt/adapter.h"
#include "krt/file_search.h"
#include "krt/lock.h"

namespace krt::adapt {
namespace {

constexpr uint32_t kSector = 512;

// Learns the file's length again. Returns false when the file layer cannot tell it.
bool refresh_length(FILEHANDLE* h, bool grow_only) {
  uint32_t kb = 0;
  if (krt_get_file_info2(h, nullptr, nullptr, &kb) != FS_OK) return false;
  const uint32_t bytes = length_bytes(kb);
  h->length = grow_only ? std::max(h->length, bytes) : bytes;
  return true;
}

// Fills the buffer with the file from the sector holding position.
bool refill(FILEHANDLE* h) {
  h->buffer_pos = kAdapterBufferEmpty;
  uint32_t at = 0;
  if (krt_file_moveto_len(h, h->position / kSector) != FS_OK || krt_file_tell(h, &at) != FS_OK ||
      krt_file_read(h, h->buffer, h->buffer_size / kSector) != FS_OK)
    return false;
  h->buffer_pos = at * kSector;
  return true;
}

// Fills the buffer with the next buffer_size bytes after it.
bool advance(FILEHANDLE* h) {
  const uint32_t next = h->buffer_pos + h->buffer_size;
  h->buffer_pos = kAdapterBufferEmpty;
  if (!place_file_layer(h, next) || krt_file_read(h, h->buffer, h->buffer_size / kSector) != FS_OK)
    return false;
  h->buffer_pos = next;
  return true;
}

// The direct path: n bytes (a multiple of 512, at a 512-aligned position) straight into dst.
size_t read_direct(FILEHANDLE* h, uint8_t* dst, uint32_t n) {
  if (h->position >= h->length) return 0;
  n = std::min(n, h->length - h->position);
  h->buffer_pos = kAdapterBufferEmpty;
  if (!place_file_layer(h, h->position) || krt_file_read(h, dst, n / kSector) != FS_OK) return 0;
  h->position += n;
  return n;
}

// The buffered path: copies from the buffer, filling it as it runs out. Returns the bytes
// delivered; a failed fill ends the read with what was copied so far.
size_t read_buffered(FILEHANDLE* h, uint8_t* dst, uint32_t n, bool refreshed) {
  if (refreshed || !buffer_holds(h, h->position)) {
    if (!refill(h)) return 0;
  }
  size_t delivered = 0;
  for (;;) {
    const uint64_t end = uint64_t(h->buffer_pos) + h->buffer_size;
    const uint64_t tail = end > h->length ? end - h->length : 0;  // bytes past the file's end
    const uint64_t off = h->position - h->buffer_pos;
    const uint64_t avail = h->buffer_size > off + tail ? h->buffer_size - off - tail : 0;
    const uint32_t take = uint32_t(std::min<uint64_t>(avail, n));
    std::memcpy(dst + delivered, h->buffer + off, take);
    h->position += take;
    delivered += take;
    n -= take;
    if (n == 0 || tail > 0 || !advance(h)) return delivered;
  }
}

// Delivers up to n bytes of a recording. Returns the bytes delivered.
size_t read_recording(FILEHANDLE* h, uint8_t* dst, uint32_t n) {
  bool refreshed = false;
  if (h->kind == kHandleRecording && uint64_t(h->position) + n >= h->length) {
    if (!refresh_length(h, true)) return 0;
    refreshed = true;
  }
  if (h->position >= h->length) return 0;
  if (n > h->buffer_size / 2 && h->position % kSector == 0 && n % kSector == 0)
    return read_direct(h, dst, n);
  return read_buffered(h, dst, n, refreshed);
}

int32_t lowest_position(const FILEHANDLE* h) {
  return h->kind == kHandleRecording ? int32_t(h->base_offset) : 0;
}

}  // namespace

bool buffer_holds(const FILEHANDLE* h, uint64_t pos) {
  return h->buffer_pos != kAdapterBufferEmpty && h->buffer_pos <= pos &&
         pos <= uint64_t(h->buffer_pos) + h->buffer_size;
}

bool place_file_layer(FILEHANDLE* h, uint32_t pos) {
  uint32_t at = 0;
  if (krt_file_tell(h, &at) != FS_OK) return false;
  return uint64_t(at) * kSector == pos || krt_file_moveto_len(h, pos / kSector) == FS_OK;
}

size_t read(void* buffer, size_t size, size_t count, FSHandle file) {
  SlotScope scope;
  FILEHANDLE* h = open_handle(file);
  if (!h || disk_error(h->pdp) || !buffer || size == 0 || count == 0) return 0;
  const uint64_t wanted = count > UINT32_MAX / size ? UINT32_MAX : uint64_t(size) * count;
  auto* dst = static_cast<uint8_t*>(buffer);
  if (h->kind == kHandleWorkDir) {
    if (wanted != kWorkCalendarBytes || !read_work_calendar(h, dst)) return 0;
    h->kind = kHandleWorkDirRead;
    return count;
  }
  if (h->kind != kHandleRecording || !h->buffer) return 0;
  // A request is served up to a whole number of elements.
  const uint32_t n = uint32_t(wanted - wanted % size);
  return n == 0 ? 0 : read_recording(h, dst, n) / size;
}

int seek(FSHandle file, int32_t offset, int origin) {
  SlotScope scope;
  FILEHANDLE* h = open_handle(file);
  if (!h || disk_error(h->pdp)) return -1;
  int64_t target;
  switch (origin) {
    case 0: target = int64_t(offset) + lowest_position(h); break;
    case 1: target = int64_t(h->position) + offset; break;
    case 2:
      if (!refresh_length(h, false)) return -1;
      target = int64_t(h->length) + offset;
      break;
    default: return -1;
  }
  if (target == h->position) return 0;
  if (target < lowest_position(h) || target > int64_t(h->length)) return -1;
  if (h->buffer_pos == kAdapterBufferEmpty || target < h->buffer_pos ||
      target >= int64_t(h->buffer_pos) + h->buffer_size) {
    flush(file);
    h->buffer_pos = kAdapterBufferEmpty;
    if (krt_file_moveto_len(h, uint32_t(target) / kSector) != FS_OK) return -1;
  }
  h->position = uint32_t(target);
  return 0;
}

int32_t tell(FSHandle file) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  FILEHANDLE* h = open_handle(file);
  if (!h || disk_error(h->pdp)) return -1;
  const uint32_t pos = h->position - uint32_t(lowest_position(h));
  return pos > uint32_t(INT32_MAX) ? -1 : int32_t(pos);
}


}  // namespace krt::adapt
