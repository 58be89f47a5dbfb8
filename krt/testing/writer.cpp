// Puts a plan on disk: creates the image file at its full size (a hole) and writes only the
// sectors that hold something, in as few positioned writes as the layout allows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "plan.h"
#include "krt/endian.h"
#include "records.h"

namespace krt_testing::detail {
namespace {

bool all_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

// The image file being written. Every write is checked against the disk's size.
class ImageFile {
 public:
  ImageFile(std::string& error) : error_(error) {}
  ~ImageFile() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool create(const std::string& path, uint64_t sectors) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
      return fail("refusing to replace " + path + ": not a regular file");
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) return fail("cannot create " + path + ": " + std::strerror(errno));
    sectors_ = sectors;
    if (::ftruncate(fd_, off_t(sectors * kSectorBytes)) != 0)
      return fail("cannot size " + path + ": " + std::strerror(errno));
    return true;
  }

  bool close() {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return fail(std::string("closing the image: ") + std::strerror(errno));
    return true;
  }

  // Writes `count` sectors at absolute sector `sector`, skipping runs of all-zero sectors.
  bool write_nonzero(uint64_t sector, const uint8_t* data, uint64_t count) {
    uint64_t i = 0;
    while (i < count) {
      while (i < count && all_zero(data + i * kSectorBytes, kSectorBytes)) ++i;
      uint64_t j = i;
      while (j < count && !all_zero(data + j * kSectorBytes, kSectorBytes)) ++j;
      if (j > i && !write(sector + i, data + i * kSectorBytes, j - i)) return false;
      i = j;
    }
    return true;
  }

  // Writes `count` sectors at absolute sector `sector`.
  bool write(uint64_t sector, const uint8_t* data, uint64_t count) {
    if (sector > sectors_ || count > sectors_ - sector)
      return fail("write of " + std::to_string(count) + " sectors at " + std::to_string(sector) +
                  " reaches past the disk");
    size_t left = size_t(count * kSectorBytes);
    off_t at = off_t(sector * kSectorBytes);
    while (left > 0) {
      const ssize_t n = ::pwrite(fd_, data, left, at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return fail(std::string("write failed: ") + std::strerror(errno));
      data += n;
      at += n;
      left -= size_t(n);
    }
    return true;
  }

 private:
  bool fail(const std::string& why) {
    error_ = why;
    return false;
  }

  std::string& error_;
  int fd_ = -1;
  uint64_t sectors_ = 0;
};

// `bytes` rounded up to whole sectors.
size_t whole_sectors(size_t bytes) { return (bytes + kSectorBytes - 1) / kSectorBytes * kSectorBytes; }

uint64_t sector_count(const std::vector<uint8_t>& buffer) { return buffer.size() / kSectorBytes; }

std::vector<uint8_t> encode_directory(const std::vector<DirItem>& items, size_t count) {
  std::vector<uint8_t> dir(whole_sectors(count * sizeof(records::DirItemLayout)));
  for (size_t c = 0; c < count; ++c) records::encode_dir_item(&dir[c * sizeof(records::DirItemLayout)], items[c]);
  return dir;
}

// The user-data items, grouped into runs of consecutive sectors.
bool write_ud_items(ImageFile& image, uint64_t ud_sector, const PartitionPlan& plan) {
  std::map<uint64_t, std::vector<uint8_t>> sectors;
  for (const auto& [n, entry] : plan.ud) {
    std::vector<uint8_t>& s = sectors[n / records::kUdItemsPerSector];
    if (s.empty()) s.resize(kSectorBytes);
    records::encode_ud_item(&s[(n % records::kUdItemsPerSector) * sizeof(records::UdItemLayout)], entry.data,
                            entry.lap, entry.first_cluster);
  }
  std::vector<uint8_t> run;
  uint64_t run_start = 0;
  for (auto it = sectors.begin(); it != sectors.end(); ++it) {
    if (run.empty()) run_start = it->first;
    run.insert(run.end(), it->second.begin(), it->second.end());
    const auto next = std::next(it);
    if (next == sectors.end() || next->first != it->first + 1) {
      if (!image.write(ud_sector + run_start, run.data(), sector_count(run))) return false;
      run.clear();
    }
  }
  return true;
}

bool write_metadata(ImageFile& image, const PartitionPlan& plan) {
  const PartitionReport& r = plan.report;
  const Layout& l = r.layout;
  const uint64_t base = r.start;

  std::vector<uint8_t> sector(kSectorBytes);
  records::encode_params(sector.data(), r.params);
  if (!image.write(base + l.temp_off, sector.data(), 1)) return false;

  std::fill(sector.begin(), sector.end(), 0);
  for (size_t i = 0; i < r.collisions.size(); ++i) krt::st32(&sector[4 * i], r.collisions[i]);
  if (!image.write_nonzero(base + l.coll_sec, sector.data(), 1)) return false;

  const std::vector<DirItem>& items = plan.clusters.items;
  const std::vector<uint8_t> dir = encode_directory(items, items.size());
  if (!image.write_nonzero(base + l.dir_off, dir.data(), sector_count(dir))) return false;
  const std::vector<uint8_t> formatted = encode_directory(items, std::min<size_t>(items.size(), l.rev_clus));
  const std::vector<uint8_t>& second = plan.mirror_second_dir ? dir : formatted;
  if (!image.write_nonzero(base + l.second_dir, second.data(), sector_count(second))) return false;

  if (l.index_off != 0) {
    std::vector<uint8_t> index = plan.clusters.index;
    index.resize(whole_sectors(index.size()));
    if (!image.write_nonzero(base + l.index_off, index.data(), sector_count(index))) return false;
  }
  return write_ud_items(image, base + l.ud_start, plan);
}

// The recording data of one file, cluster by cluster. Clusters of the older lap that the current
// lap took over hold the current lap's data and are skipped.
bool write_file_data(ImageFile& image, const PartitionPlan& plan, const FilePlacement& f, bool older,
                     std::map<std::string, std::vector<uint8_t>>& streams) {
  const Layout& l = plan.report.layout;
  const uint32_t P = f.sector_per_clus;
  const bool has_current = !plan.report.files.empty();
  const std::vector<uint8_t>& stream = payload_source(f.payload, streams);
  // Without a payload only the header sectors carry bytes.
  const uint32_t sectors = f.payload.kind == Payload::Kind::kNone ? f.header_sectors : f.data_sectors;
  std::vector<uint8_t> buffer;
  for (uint32_t first = 0; first < sectors; first += P) {
    const uint32_t c = f.clusters[first / P];
    if (older && has_current && c <= plan.report.real_current_cluster) continue;
    const uint32_t count = std::min(P, sectors - first);
    buffer.assign(size_t(count) * kSectorBytes, 0);
    fill_file_sectors(f, stream, first, count, buffer.data());
    const uint64_t at = plan.report.start + l.data_off + uint64_t(c) * P;
    if (!image.write_nonzero(at, buffer.data(), count)) return false;
  }
  return true;
}

}  // namespace

bool write_plan(DiskPlan& plan, const std::string& path) {
  BuildResult& result = plan.result;
  result.ok = false;
  ImageFile image(result.error);
  if (!image.create(path, result.disk_sectors)) return false;

  std::vector<uint8_t> sector(kSectorBytes);
  records::encode_version(sector.data(), plan.version);
  if (!image.write_nonzero(kVersionSector, sector.data(), 1)) return false;
  if (plan.write_table) {
    std::fill(sector.begin(), sector.end(), 0);
    records::encode_table(sector.data(), result.table);
    if (!image.write(kTableSector, sector.data(), 1)) return false;
  }

  std::map<std::string, std::vector<uint8_t>> streams;
  for (const PartitionPlan& p : plan.partitions) {
    if (!p.formatted) continue;
    if (!write_metadata(image, p)) return false;
    for (const FilePlacement& f : p.report.older_lap)
      if (!write_file_data(image, p, f, true, streams)) return false;
    for (const FilePlacement& f : p.report.files)
      if (!write_file_data(image, p, f, false, streams)) return false;
  }
  if (!image.close()) return false;
  result.ok = true;
  return true;
}

}  // namespace krt_testing::detail
