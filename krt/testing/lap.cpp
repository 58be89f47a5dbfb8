// Lays the recordings of a partition into clusters as a recorder writes them.
//
// A lap is written from rev_clus upwards. Its files are cut into clusters of equal time share;
// the clusters of all files are taken in write order (run, start time, channel, file, ordinal)
// and numbered consecutively. The older lap is laid first and the current lap over it. From the
// result come the directory items, index bytes, user-data items, collisions and the parameter block.
#include <algorithm>
#include <tuple>

#include "plan.h"

namespace krt_testing::detail {
namespace {

constexpr uint32_t kOlderLapLead = 256;  // start_cluster2 runs this far ahead of the write position
constexpr uint8_t kDirLater = 1, kDirFirst = 2, kDirContinued = 3;
constexpr uint8_t kIndexInside = 0, kIndexContinued = 1, kIndexFirst = 2;

// One file of a lap while it is being laid.
struct FileWork {
  const File* file = nullptr;
  FilePlacement* placement = nullptr;
  uint32_t n = 0;                   // clusters
  std::vector<uint32_t> times;      // packed start time of each cluster
  std::vector<uint8_t> repeats;     // repeat number of each cluster
  bool open = false;
  uint32_t end_length = 0;          // sectors used in the last cluster (set by describe)

  // End time of cluster k: the start of the next one, or the file's end.
  uint32_t cluster_end(uint32_t k) const { return k + 1 < n ? times[k + 1] : file->end; }
};

// One cluster to write: file `file`, ordinal `k`.
struct Event {
  uint32_t run, time, channel, file, k;
  bool operator<(const Event& o) const {
    return std::tie(run, time, channel, file, k) < std::tie(o.run, o.time, o.channel, o.file, o.k);
  }
};

struct Lap {
  std::vector<FileWork> files;
  std::vector<uint32_t> collisions;  // first clusters of runs that go back in time
  uint32_t last_cluster = 0;         // valid when !empty()
  bool empty() const { return files.empty(); }
};

uint32_t cluster_count(const File& f, uint32_t seconds_per_cluster) {
  if (f.clusters) return f.clusters;
  const int64_t length = seconds_since_2000(f.end) - seconds_since_2000(f.start);
  if (seconds_per_cluster == 0 || length <= 0) return 1;
  return uint32_t((length + seconds_per_cluster - 1) / seconds_per_cluster);
}

// Cuts every file into clusters, numbers them in write order from `first`, and works out the
// repeat numbers (the recorder's counter restarts whenever the clock has moved on and advances
// after each first cluster) and the collisions.
bool assign_clusters(const Partition& part, const std::vector<File>& files,
                     std::vector<FilePlacement>& placements, uint32_t first, uint32_t total_clus,
                     Lap& lap, std::string& error) {
  placements.assign(files.size(), {});
  lap.files.resize(files.size());
  std::vector<Event> events;
  for (size_t i = 0; i < files.size(); ++i) {
    const File& f = files[i];
    if (f.channel > 63) return error = "channel above 63", false;
    const int64_t length = seconds_since_2000(f.end) - seconds_since_2000(f.start);
    if (f.start == 0 || length < 0) return error = "file without a start time or ending before it starts", false;
    FileWork& w = lap.files[i];
    w.file = &f;
    w.placement = &placements[i];
    w.open = f.open;
    w.n = cluster_count(f, part.seconds_per_cluster);
    if (w.n > 65536) return error = "file with more than 65,536 clusters", false;
    w.times.resize(w.n);
    w.repeats.resize(w.n);
    w.placement->clusters.resize(w.n);
    for (uint32_t k = 0; k < w.n; ++k) {
      w.times[k] = add_seconds(f.start, length * k / w.n);
      events.push_back({f.run, w.times[k], f.channel, uint32_t(i), k});
    }
  }
  std::sort(events.begin(), events.end());
  if (!events.empty() && uint64_t(first) + events.size() > total_clus)
    return error = "partition slot " + std::to_string(part.slot) + ": " + std::to_string(events.size()) +
                   " clusters from " + std::to_string(first) + " do not fit below total_clus " +
                   std::to_string(total_clus), false;
  uint32_t counter = 0, last_time = 0, latest_end = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const Event& e = events[i];
    FileWork& w = lap.files[e.file];
    const uint32_t c = first + uint32_t(i);
    if (i > 0 && e.run != events[i - 1].run && e.time < latest_end) lap.collisions.push_back(c);
    if (e.time != last_time) counter = 0;
    last_time = e.time;
    w.placement->clusters[e.k] = c;
    w.repeats[e.k] = uint8_t(counter);
    if (e.k == 0) {
      if (w.file->repeat_no) w.repeats[0] = *w.file->repeat_no;
      counter = (counter + 1) & 0xFF;
    }
    latest_end = std::max(latest_end, w.cluster_end(e.k));
    lap.last_cluster = c;
  }
  return true;
}

// Marks the last file of each channel (the one whose last cluster comes last) as still open.
void open_last_files(Lap& lap) {
  std::map<uint8_t, FileWork*> last;
  for (FileWork& w : lap.files) {
    FileWork*& l = last[w.file->channel];
    if (!l || l->placement->clusters.back() < w.placement->clusters.back()) l = &w;
  }
  for (auto& [channel, w] : last) w->open = true;
}

// Fills the placement fields that follow from the clusters.
void describe(const Disk& disk, const Partition& part, FileWork& w) {
  const File& f = *w.file;
  FilePlacement& p = *w.placement;
  const uint32_t full = part.sector_per_clus;
  const uint32_t end_length = w.end_length = f.end_length ? *f.end_length : (w.open ? 0 : full);
  p.first_cluster = p.clusters.front();
  p.last_cluster = p.clusters.back();
  p.repeat_no = w.repeats[0];
  p.size_sectors = (w.n - 1) * full + end_length;
  p.data_sectors = (w.n - 1) * full + (w.open ? full : std::min(end_length, full));
  p.header_sectors = std::min(f.header_sectors, p.data_sectors);
  p.disk = disk.id;
  p.slot = part.slot;
  p.sector_per_clus = full;
  p.payload = f.payload.value_or(disk.payload);
}

// Writes the directory items and index bytes of a lap's files.
void write_items(Lap& lap, ClusterMap& map) {
  if (!lap.empty()) map.reach(lap.last_cluster);
  for (FileWork& w : lap.files) {
    const File& f = *w.file;
    const FilePlacement& p = *w.placement;
    for (uint32_t k = 0; k < w.n; ++k) {
      const uint32_t c = p.clusters[k];
      const bool first = k == 0, last = k + 1 == w.n;
      DirItem& d = map.items[c];
      d = DirItem{};
      d.alarm = f.type;
      d.dir_flag = first ? (f.continuation ? kDirContinued : kDirFirst) : kDirLater;
      d.item_num = uint16_t(first ? w.n - 1 : k);
      d.up_cluster_no = first ? p.ud_item : p.clusters[k - 1];
      d.down_cluster_no = last ? (w.open ? kDownOpen : 0) : p.clusters[k + 1];
      d.start_time = w.times[k];
      d.end_time = first ? f.end : w.cluster_end(k);
      d.hdr_sectors = f.hdr_sectors_field;
      d.end_length = (first || last) ? uint16_t(w.end_length) : 0;
      d.first_cluster_no = p.first_cluster;
      d.image = f.image;
      d.repeat_no = w.repeats[k];
      d.channel = f.channel;
      d.av = f.av & 3;
      const uint8_t flag = first ? (f.continuation ? kIndexContinued : kIndexFirst) : kIndexInside;
      map.index[c] = index_byte(f.channel, flag);
    }
  }
}

// The user-data ring of a partition as the recorder leaves it: items added in write order, each
// addition followed by the purge of items whose files the current lap has overwritten.
class UdRing {
 public:
  UdRing(PartitionPlan& plan) : plan_(plan) {}

  void add_lap(Lap& lap, uint8_t lap_counter) {
    std::vector<FileWork*> order;
    for (FileWork& w : lap.files)
      if (w.file->user_data) order.push_back(&w);
    std::sort(order.begin(), order.end(), [](const FileWork* a, const FileWork* b) {
      return a->placement->clusters.front() < b->placement->clusters.front();
    });
    for (FileWork* w : order) {
      const uint32_t first = w->placement->clusters.front();
      const uint32_t n = plan_.ud_last_item;
      plan_.ud[n] = UdEntry{*w->file->user_data, lap_counter, first};
      w->placement->ud_item = n;
      plan_.ud_last_item = next(n);
      purge(lap_counter, first);
    }
  }

 private:
  static uint32_t next(uint32_t n) { return n + 1 >= kUdItems ? 1 : n + 1; }

  void purge(uint8_t lap_counter, uint32_t current_cluster) {
    if (lap_counter == 0) return;
    uint32_t n = plan_.ud_first_item;
    while (n != plan_.ud_last_item) {
      auto it = plan_.ud.find(n);
      const uint32_t first = it == plan_.ud.end() ? 0 : it->second.first_cluster;
      const uint8_t lap = it == plan_.ud.end() ? 0 : it->second.lap;
      if (first >= current_cluster || lap == lap_counter) break;
      if (it != plan_.ud.end()) plan_.ud.erase(it);
      n = next(n);
    }
    plan_.ud_first_item = n;
  }

  PartitionPlan& plan_;
};

const DirItem* item_at(const ClusterMap& map, uint32_t c) {
  return c < map.items.size() ? &map.items[c] : nullptr;
}

uint32_t start_time_of(const ClusterMap& map, uint32_t c) {
  const DirItem* d = item_at(map, c);
  return d ? d->start_time : 0;
}

// A partition too small for its user-data area would have its items land past its end or inside
// recording clusters; such items are refused rather than written over other data.
bool check_ud_room(const Partition& part, const PartitionPlan& plan, std::string& error) {
  const Layout& l = plan.report.layout;
  for (const auto& [n, entry] : plan.ud) {
    const uint64_t sector = uint64_t(l.ud_start) + n / (kSectorBytes / kUdItemSize);
    const std::string item = "user-data item " + std::to_string(n);
    if (sector >= part.sectors) return error = item + " lies past the end of the partition", false;
    if (sector < l.data_off) continue;
    const uint64_t c = (sector - l.data_off) / l.sector_per_clus;
    if (c >= l.rev_clus && c < plan.clusters.items.size() && plan.clusters.items[c].dir_flag != 0)
      return error = item + " lies in recording cluster " + std::to_string(c), false;
  }
  return true;
}

// The fields of a parameter block that the formatter sets from the layout.
void set_layout_fields(ParamBlock& p, const Layout& l) {
  p.sector_per_clus = l.sector_per_clus;
  p.rev_clus = l.rev_clus;
  p.index_off = l.index_off;
  p.temp_off = l.temp_off;
  p.dir_off = l.dir_off;
  p.data_off = l.data_off;
  p.total_clus = l.total_clus;
  p.ud_start = l.ud_start;
  p.second_dir = l.second_dir;
  p.reserve_a_start = l.reserve_a_start;
  p.reserve_a_size = l.reserve_a_size;
  p.reserve_b_start = l.reserve_b_start;
  p.reserve_b_size = l.reserve_b_size;
  p.coll_sec = l.coll_sec;
}

}  // namespace

bool lay_partition(const Disk& disk, const Partition& part, PartitionPlan& plan, std::string& error) {
  PartitionReport& r = plan.report;
  const Layout& l = r.layout;
  ClusterMap& map = plan.clusters;

  // The formatter's marks on the reserved clusters.
  if (l.rev_clus) map.reach(l.rev_clus - 1);
  for (uint32_t c = 0; c < l.rev_clus; ++c) {
    map.items[c].dir_flag = 0xFE;
    map.index[c] = 3;
  }

  const uint8_t lap_counter = part.lap.value_or(part.older_lap.empty() ? 0 : 1);
  const uint8_t older_counter = lap_counter > 1 ? uint8_t(lap_counter - 1) : 0;
  UdRing ring(plan);

  Lap older;
  if (!assign_clusters(part, part.older_lap, r.older_lap, l.rev_clus, l.total_clus, older, error))
    return false;
  for (FileWork& w : older.files) describe(disk, part, w);
  ring.add_lap(older, older_counter);
  write_items(older, map);
  const uint32_t end_cluster2 = older.empty() ? 0 : older.last_cluster;
  const uint32_t end_time2 = older.empty() ? 0 : map.items[end_cluster2].end_time;

  Lap current;
  if (!assign_clusters(part, part.files, r.files, l.rev_clus, l.total_clus, current, error)) return false;
  if (part.unclean && part.unclean->open_last_files) open_last_files(current);
  for (FileWork& w : current.files) describe(disk, part, w);
  ring.add_lap(current, lap_counter);

  // The real write position, and the one the last save of the parameter block recorded.
  const uint32_t just_wrapped = l.rev_clus ? l.rev_clus - 1 : 0;
  const uint32_t real = !current.empty() ? current.last_cluster : older.empty() ? 0 : just_wrapped;
  uint32_t stored = real;
  if (part.unclean && !current.empty()) {
    const uint32_t behind = part.unclean->clusters_behind;
    stored = real - l.rev_clus >= behind ? real - behind : (older.empty() ? 0 : just_wrapped);
  }
  r.real_current_cluster = real;

  // Index bytes that the recorder had not yet written keep what the older lap left there.
  std::vector<std::pair<uint32_t, uint8_t>> kept;
  if (part.unclean && !current.empty()) {
    map.reach(real);
    const uint32_t missing = std::min(part.unclean->index_missing, real - l.rev_clus + 1);
    for (uint32_t c = real + 1 - missing; c <= real; ++c) kept.emplace_back(c, map.index[c]);
  }
  write_items(current, map);
  for (auto [c, byte] : kept) map.index[c] = byte;
  for (FilePlacement& p : r.older_lap) p.overwritten = !current.empty() && p.first_cluster <= real;

  for (const RawCluster& raw : part.raw_clusters) {
    if (uint64_t(raw.cluster) >= uint64_t(l.dir_size) * 16)
      return error = "raw cluster " + std::to_string(raw.cluster) + " lies outside the directory", false;
    map.reach(raw.cluster);
    map.items[raw.cluster] = raw.item;
    if (raw.index) map.index[raw.cluster] = *raw.index;
  }
  if (!map.items.empty() && uint64_t(map.items.size()) > uint64_t(l.dir_size) * 16)
    return error = "clusters reach past the directory", false;
  if (!check_ud_room(part, plan, error)) return false;

  // Collisions: those of the current lap, and those of the older lap not yet reached.
  if (part.collisions) {
    r.collisions = *part.collisions;
  } else {
    r.collisions = current.collisions;
    for (uint32_t c : older.collisions)
      if (c > real) r.collisions.push_back(c);
  }
  if (r.collisions.size() > kMaxCollisions) return error = "more than 128 collisions", false;

  ParamBlock& p = r.params;
  p.lap = lap_counter;
  p.status = part.unclean ? 0 : kStatusClean;
  p.current_cluster = stored;
  p.saved_cluster = stored;
  p.restore_from = stored;
  if (!current.empty()) {
    p.start_time1 = start_time_of(map, l.rev_clus);
    p.end_time1 = stored >= l.rev_clus ? map.items[stored].end_time : p.start_time1;
  } else {
    p.start_time1 = p.end_time1 = end_time2;
  }
  if (!older.empty()) {
    const uint32_t lead = stored + kOlderLapLead;
    const uint32_t start2 = part.start_cluster2.value_or(lead < end_cluster2 ? lead : 0);
    if (start2 != 0) {
      p.start_cluster2 = start2;
      p.end_cluster2 = end_cluster2;
      p.start_time2 = start_time_of(map, start2);
      p.end_time2 = end_time2;
    }
  }
  set_layout_fields(p, l);
  p.type = part.type;
  if (plan.v03) {
    p.ud_start = p.ud_item_size = p.ud_items = p.ud_first_item = p.ud_last_item = 0;
  } else {
    p.ud_first_item = plan.ud_first_item;
    p.ud_last_item = plan.ud_last_item;
  }
  p.dev = disk.id;
  p.part = part.slot;
  p.coll_count = uint32_t(r.collisions.size());
  p.cur_section = uint32_t(std::count_if(r.collisions.begin(), r.collisions.end(),
                                         [&](uint32_t c) { return c <= stored; }));
  p.start_sector = part.start;
  if (part.tweak) part.tweak(p);
  return true;
}

}  // namespace krt_testing::detail
