// The cluster index search.
#include <algorithm>
#include <mutex>

#include "krt/cache.h"
#include "krt/clock.h"
#include "krt/dir_index.h"
#include "krt/lock.h"
#include "krt/log.h"
#include "krt/packed_time.h"
#include "krt/result.h"

namespace krt {
namespace {

// Reads index bytes one after another, keeping the current index sector held.
class IndexCursor {
 public:
  explicit IndexCursor(const DriverParam& pdp) : pdp_(pdp) {}

  // Sets out to cluster c's index byte. Returns FS_OK or FS_IO_ERROR.
  int byte_at(uint32_t c, uint8_t& out) {
    const uint64_t sector = pdp_.start_sector + pdp_.index_off + c / kIndexBytesPerSector;
    if (!buf_ || sector != sector_) {
      buf_.reset(bread(pdp_.dev, sector));
      if (!buf_) return FS_IO_ERROR;
      sector_ = sector;
    }
    out = buf_->data[c % kIndexBytesPerSector];
    return FS_OK;
  }

 private:
  const DriverParam& pdp_;
  HeldBuf buf_;
  uint64_t sector_ = 0;
};

bool is_backward(int kind) {
  return kind == kScanPrev || kind == kScanPrevFile || kind == kScanPrevInFile ||
         kind == kScanPrevFromFirst;
}

bool is_file_start(uint8_t b) {
  return index_flag(b) == kIndexFlagFirst || index_flag(b) == kIndexFlagContinued;
}

// Gives a bad cluster that a writer skips a fresh first-cluster item of its own.
int mark_skipped_bad_cluster(const DriverParam& pdp, uint32_t c) {
  log_warn("jump over bad cluster, dev = %d, clus = %u\n", pdp.dev, c);
  const uint32_t now = time_now();
  DirItem item{};
  item.dir_flag = kDirFlagFirst;
  item.first_cluster_no = c;
  item.start_time = now;
  item.end_time = now;
  return set_dir_item_info(pdp, c, item, true);
}

// What a scan does at one cluster.
enum class Step { kGoOn, kFound, kFileEnded, kAtFileStart };

Step step_at(int kind, uint8_t b, uint8_t channel, uint8_t own_channel) {
  const bool usable = index_flag(b) != kIndexFlagBad;
  const bool matches = usable && (channel == kAnyChannel || index_channel(b) == channel);
  switch (kind) {
    case kScanWritable: return usable ? Step::kFound : Step::kGoOn;
    case kScanNext:
    case kScanPrev:
    case kScanPrevInFile:
    case kScanPrevFromFirst: return matches ? Step::kFound : Step::kGoOn;
    case kScanNextFile:
    case kScanPrevFile: return matches && is_file_start(b) ? Step::kFound : Step::kGoOn;
    case kScanNextOrFirst:
      if (!matches) return Step::kGoOn;
      return index_flag(b) == kIndexFlagFirst ? Step::kAtFileStart : Step::kFound;
    case kScanNextBad: return usable ? Step::kGoOn : Step::kFound;
    case kScanNextInFile:
      if (!usable || index_channel(b) != own_channel) return Step::kGoOn;
      return is_file_start(b) ? Step::kFileEnded : Step::kFound;
    case kScanNextFileAny: return is_file_start(b) ? Step::kFound : Step::kGoOn;
    default: return Step::kGoOn;
  }
}

int result_of(Step step) {
  switch (step) {
    case Step::kFileEnded: return kScanFileEnded;
    case Step::kAtFileStart: return kScanAtFileStart;
    default: return FS_OK;
  }
}

}  // namespace

int scan_index(const DriverParam& pdp, int kind, uint32_t from, uint32_t limit, uint8_t channel,
               uint32_t& out) {
  if (pdp.index_off == 0) return FS_NO_INDEX;
  if (kind < kScanWritable || kind > kScanPrevFromFirst) return FS_READ_FAIL;
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  IndexCursor index(pdp);
  uint8_t first = 0;
  if (const int r = index.byte_at(from, first); r != FS_OK) return r;

  const bool backward = is_backward(kind);
  int64_t lower, upper;
  if (limit != 0) {
    lower = backward ? limit : from;
    upper = backward ? from : limit;
  } else if (from <= pdp.current_cluster) {
    lower = pdp.rev_clus;
    upper = pdp.current_cluster;
  } else {
    lower = int64_t(pdp.current_cluster) + 1;
    upper = pdp.end_cluster2;
  }
  if (kind == kScanWritable) upper = int64_t(pdp.total_clus) - 1;
  upper = std::min(upper, int64_t(pdp.total_clus) - 1);  // never past the last cluster

  const bool from_matches = channel == kAnyChannel || index_channel(first) == channel;
  if ((kind == kScanPrevInFile && index_flag(first) != kIndexFlagInside) ||
      (kind == kScanPrevFromFirst && index_flag(first) == kIndexFlagFirst && from_matches)) {
    out = from;
    return kScanAtFileStart;
  }

  int64_t pos = from;
  Step step = kind == kScanSelf ? Step::kFound : Step::kGoOn;
  if (step == Step::kGoOn) {
    const int64_t delta = backward ? -1 : 1;
    pos = backward ? std::min(pos - 1, upper) : pos + 1;
    for (; backward ? pos >= lower : pos <= upper; pos += delta) {
      uint8_t b = 0;
      if (const int r = index.byte_at(uint32_t(pos), b); r != FS_OK) return r;
      step = step_at(kind, b, channel, index_channel(first));
      if (step != Step::kGoOn) break;
      if (kind == kScanWritable && pos >= pdp.rev_clus) {
        if (const int r = mark_skipped_bad_cluster(pdp, uint32_t(pos)); r != FS_OK) return r;
      }
    }
  }
  if (pos < lower || pos > upper) return FS_READ_FAIL;
  out = uint32_t(pos);
  return result_of(step);
}

int get_next_clus_no(const DriverParam& pdp, int kind, uint32_t from, uint32_t limit,
                     uint8_t channel, uint32_t& out) {
  const int r = scan_index(pdp, kind, from, limit, channel, out);
  return r == kScanFileEnded ? FS_READ_FAIL : r;
}

}  // namespace krt
