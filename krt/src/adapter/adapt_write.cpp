// Writing a recording through the adapter: the head of a new file, the byte buffer on top of
// the writer's sector writes, the direct path, flush, and rename.
//
// A handle open for writing keeps, in bytes of the raw file (head included):
//   position     where the next byte goes
//   length       the bytes written so far (the end of the file)
//   buffer       buffer_size bytes from buffer_pos; buf_dirty when it holds bytes not yet
//                written out
// Every transfer first puts the file layer at the byte position it writes (place_file_layer),
// so bytes always land where the buffer says, also when a flush wrote a partial kilobyte
// that later bytes complete.
//
// All of it reaches the disk only through the write hook: the viewer's hook discards it.
#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

#include "adapt_internal.h"
#include "krt/adapter.h"
#include "krt/file_write.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/recording_path.h"
#include "krt/work_drivers.h"

namespace krt::adapt {
namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kKilobyte = 1024;
constexpr uint32_t kClustersKeptFree = 3;  // a write needs more clusters than this left

// Writes `bytes` bytes (a multiple of 512) of src at byte position pos of the file.
bool write_at(FILEHANDLE* h, uint32_t pos, const uint8_t* src, uint32_t bytes) {
  return place_file_layer(h, pos) && krt_file_write(h, src, bytes / kSector) == FS_OK;
}

// The head a new file reserves (base_offset bytes, written from a cleared buffer). The driver
// becomes the work driver of its type. Returns false when a write fails.
bool write_head(FILEHANDLE* h) {
  DriverParam& pdp = *h->pdp;
  set_work_driver(int(pdp.type), pdp);
  pdp.status = 0;
  std::memset(h->buffer, 0, h->buffer_size);
  for (uint32_t done = 0; done < h->base_offset; done += h->buffer_size) {
    const uint32_t bytes = std::min(h->buffer_size, h->base_offset - done);
    if (!write_at(h, done, h->buffer, bytes)) return false;
  }
  h->length = h->position = h->base_offset;
  h->buffer_pos = kAdapterBufferEmpty;
  return true;
}

// Makes the buffer start at the sector holding position, holding what the file has there.
bool load_buffer(FILEHANDLE* h) {
  const uint32_t start = h->position - h->position % kSector;
  h->buffer_pos = kAdapterBufferEmpty;
  if (start < h->length) {
    if (!place_file_layer(h, start) || krt_file_read(h, h->buffer, h->buffer_size / kSector) != FS_OK)
      return false;
  }
  h->buffer_pos = start;
  return true;
}

// Writes out a full buffer and moves it on to the next buffer-full of the file.
bool write_full_buffer(FILEHANDLE* h) {
  if (!write_at(h, h->buffer_pos, h->buffer, h->buffer_size)) return false;
  h->buf_dirty = 0;
  return load_buffer(h);
}

}  // namespace

size_t write(const void* buffer, size_t size, size_t count, FSHandle file) {
  SlotScope scope;
  FILEHANDLE* h = open_handle(file);
  if (!h || disk_error(h->pdp)) return 0;
  if (h->file_flag != kFileWriting || h->kind != kHandleRecording || !h->pdp || !buffer) return 0;
  const DriverParam& pdp = *h->pdp;
  if (pdp.total_clus < kClustersKeptFree || pdp.current_cluster > pdp.total_clus - kClustersKeptFree) {
    log_trace("fs_fwrite:%d, %d disk over!\n", pdp.part, pdp.dev);
    return 0;
  }
  if (!h->buffer || size == 0 || count == 0 || count > UINT32_MAX / size) return 0;
  const uint32_t n = uint32_t(size * count);
  if (uint64_t(h->position) + n > UINT32_MAX) return 0;
  if (h->length == 0 && h->base_offset != 0 && !write_head(h)) return 0;
  if (!buffer_holds(h, h->position) && !load_buffer(h)) return 0;

  const auto* src = static_cast<const uint8_t*>(buffer);
  uint32_t rest = n;
  while (rest > 0) {
    const bool aligned = h->position % kSector == 0 && rest % kSector == 0 &&
                         reinterpret_cast<uintptr_t>(src) % kSector == 0;
    if (aligned && (rest > h->buffer_size / 2 || h->length == 0)) {
      // Large aligned writes go straight to the writer.
      if (flush(file) != 0 || !write_at(h, h->position, src, rest)) return 0;
      uint32_t at = 0;
      if (krt_file_tell(h, &at) != FS_OK) return 0;
      h->position = at * kSector;
      h->length = std::max(h->length, h->position);
      h->buffer_pos = kAdapterBufferEmpty;
      break;
    }
    if (!buffer_holds(h, h->position) && !load_buffer(h)) return 0;
    const uint32_t off = h->position - h->buffer_pos;
    const uint32_t take = std::min(rest, h->buffer_size - off);
    std::memcpy(h->buffer + off, src, take);
    h->buf_dirty = 1;
    h->position += take;
    h->length = std::max(h->length, h->position);
    src += take;
    rest -= take;
    if (h->position == h->buffer_pos + h->buffer_size && !write_full_buffer(h)) return 0;
  }
  return count;
}

int flush(FSHandle file) {
  SlotScope scope;
  FILEHANDLE* h = open_handle(file);
  if (!h) return -1;
  if (disk_error(h->pdp)) return 0;
  if (h->file_flag != kFileWriting || !h->buf_dirty || !h->buffer || !buffer_holds(h, h->position)) return 0;
  h->buf_dirty = 0;
  uint32_t bytes = h->buffer_size;
  if (uint64_t(h->buffer_pos) + h->buffer_size > h->length) {
    // The file ends inside the buffer: write up to the end of its last kilobyte, the bytes
    // after the end filled with 0xFF.
    const uint32_t used = h->length > h->buffer_pos ? h->length - h->buffer_pos : 0;
    bytes = (used + kKilobyte - 1) / kKilobyte * kKilobyte;
    std::memset(h->buffer + used, 0xFF, bytes - used);
  }
  if (bytes > 0 && !write_at(h, h->buffer_pos, h->buffer, bytes)) return -1;
  h->buffer_pos = kAdapterBufferEmpty;
  return 0;
}

int rename(const char* old_path, const char* new_path) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  RecordingName to{};
  if (!new_path || !parse_recording_path(new_path, to)) return -1;
  FSHandle file = open(old_path, "rb");
  FILEHANDLE* h = open_handle(file);
  if (!h) return -1;
  // What a rename should change on the disk is not settled: the new type letter changes the
  // open handle only, and the file's directory item is written back as it stands.
  h->alarm = to.alarm;
  const int r = set_dir_item_info(*h->pdp, h->cur_cluster, h->cur_dir_info, true);
  close(file);
  return r == FS_OK ? 0 : -1;
}

}  // namespace krt::adapt
