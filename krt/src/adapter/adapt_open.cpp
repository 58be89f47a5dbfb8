// Opening and closing through the adapter: recordings, work directories, and the slots that
// only answer for the file tree (disk space, and the ones that change nothing).
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

#include "adapt_internal.h"
#include "krt/adapter.h"
#include "krt/clock.h"
#include "krt/disk_io.h"
#include "krt/file_search.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/recording_path.h"

namespace krt::adapt {
namespace {

constexpr uint32_t kVideoBuffer = 32768;    // read buffer of a video file (AV value non-zero)
constexpr uint32_t kPictureBuffer = 4096;   // read buffer of anything else
constexpr uint32_t kWriterHead = 0x40000;   // bytes a writer reserves at the head of a new file
constexpr uint8_t kModeAdapter = 1;         // the mode value the adapter stores in its handles
constexpr uint8_t kAvDefaultVideo = 2;      // AV value of a new video file

bool is_reading_mode(const char* mode) {
  return std::strcmp(mode, "rb") == 0 || std::strcmp(mode, "r") == 0;
}

// The driver of a partition, or null after the trace the slots give.
DriverParam* driver_of(const PartitionName& p) {
  DriverParam* pdp = get_pdp(p.disk, p.part);
  if (!pdp) log_trace("No such driver!\n");
  return pdp && !disk_error(pdp) ? pdp : nullptr;
}

FILEHANDLE* new_handle() {
  FILEHANDLE* h = alloc_adapter_handle();
  if (!h) log_trace("Get the Handle error!\n");
  return h;
}

// Positions a reading handle on the file the name gives: by its first cluster, or by its start
// time and repeat number when the name carries no usable cluster. Either way the file must be
// of the channel the name gives.
int locate(FILEHANDLE* h, DriverParam* pdp, const RecordingName& n) {
  const int disk = n.dir.partition.disk;
  const int part = n.dir.partition.part;
  uint32_t c = n.first_cluster;
  if (c == 0 || c < pdp->rev_clus) {
    // The time search runs over every partition: walk its merge to this partition's file.
    const int r = file_goto_work_driver(h, uint8_t(n.dir.channel), n.start_time, kScanNext, 0, 0xFF, 0xFF);
    if (r != FS_OK) return r;
    DirItem item{};
    c = next_file_on(h, uint8_t(n.dir.channel), pdp, n.start_time, n.repeat_no, INT32_MAX, item);
    if (c == 0) return FS_NO_EXIST_FILE;
  } else if (c >= pdp->total_clus) {
    return FS_BAD_CLUSTER;
  }
  const int r = krt_file_goto_clus(h, disk, part, c);
  if (r != FS_OK) return r;
  return h->channel == n.dir.channel ? FS_OK : FS_NO_EXIST_FILE;
}

// Undoes an open that failed half way.
FSHandle give_up(FILEHANDLE* h) {
  release_buffer(h);
  krt_file_close(h);
  return nullptr;
}

// Undoes an open the file layer refused, after a warning that says why; errno tells the caller
// (EIO when a read failed, ENOENT when no such recording is there).
FSHandle refuse(FILEHANDLE* h, const char* path, int result) {
  log_warn("recording %s not opened: %s (result %d)\n", path, result_text(result), result);
  give_up(h);
  errno = result == FS_READ_FAIL || result == FS_IO_ERROR ? EIO : ENOENT;
  return nullptr;
}

FSHandle open_recording(const char* path, const char* mode) {
  const bool writing = !is_reading_mode(mode);
  RecordingName n{};
  if (!parse_recording_path(path, n)) return nullptr;
  DriverParam* pdp = driver_of(n.dir.partition);
  if (!pdp) return nullptr;
  FILEHANDLE* h = new_handle();
  if (!h) return nullptr;
  h->kind = kHandleRecording;
  h->mode = kModeAdapter;
  h->file_flag = writing ? kFileWriting : kFileReading;
  h->channel = uint8_t(n.dir.channel);
  h->open_tick = tick_count();
  h->pdp = pdp;
  h->ref_time = n.start_time;
  h->alarm = n.alarm;
  if (writing) {
    h->AV = n.h264 ? kAvDefaultVideo : 0;
    h->length = 0;
    h->base_offset = kWriterHead;
  } else {
    int r = locate(h, pdp, n);
    const uint32_t header = r == FS_OK ? uint32_t(check_header(h)) * kSectorBytes : 0;
    uint32_t kb = 0;
    if (r == FS_OK) r = krt_get_file_info2(h, nullptr, nullptr, &kb);
    if (r != FS_OK) return refuse(h, path, r);
    h->length = length_bytes(kb);
    h->base_offset = std::min(header, h->length);  // a header longer than the file hides it all
    h->position = h->base_offset;
  }
  if (!attach_buffer(h, h->AV != 0 ? kVideoBuffer : kPictureBuffer)) return give_up(h);
  h->buffer_pos = writing ? 0 : kAdapterBufferEmpty;
  return h;
}

FSHandle open_work_directory(const char* path) {
  PartitionName p{};
  if (!parse_work_directory_path(path, p)) return nullptr;
  DriverParam* pdp = driver_of(p);
  if (!pdp) return nullptr;
  FILEHANDLE* h = new_handle();
  if (!h) return nullptr;
  h->kind = kHandleWorkDir;
  h->file_flag = kFileReading;
  h->pdp = pdp;
  h->position = 0;
  return h;
}

}  // namespace

FSHandle open(const char* path, const char* mode) {
  SlotScope scope;
  if (!path || !mode) return nullptr;
  if (is_recording_path(path)) return open_recording(path, mode);
  if (std::strstr(path, kWorkDirectoryName)) return open_work_directory(path);
  return nullptr;
}

int close(FSHandle file) {
  SlotScope scope;
  FILEHANDLE* h = open_handle(file);
  if (!h) {
    // A handle from before a volume change: free its record when its disk failed.
    drop_dead_record(static_cast<FILEHANDLE*>(file));
    return 0;
  }
  flush(file);
  release_buffer(h);
  return krt_file_close(h) == FS_OK ? 0 : -1;
}

int disk_space(const char* path, uint64_t* free_to_caller, uint64_t* total, uint64_t* free) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  PartitionName p{};
  if (!find_partition_component(path, p)) return -1;
  const DriverParam* pdp = driver_of(p);
  if (!pdp) return -1;
  const uint64_t cluster_bytes = uint64_t(pdp->sector_per_clus) * kSectorBytes;
  const uint64_t left = pdp->total_clus > pdp->current_cluster ? pdp->total_clus - pdp->current_cluster : 0;
  if (total) *total = uint64_t(pdp->total_clus) * cluster_bytes;
  if (free_to_caller) *free_to_caller = left * cluster_bytes;
  if (free) *free = left * cluster_bytes;
  if (disk_error_report().bad_mask != 0) {
    for (int i = 0; i < kMaxFileHandles; ++i) drop_dead_record(file_handle_slot(i));
  }
  return 0;
}

}  // namespace krt::adapt
