// The image builder's plan: everything an image holds, worked out in memory before a byte is
// written. plan_disk turns a description into a plan; write_plan (writer.cpp) puts it on disk.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "krt_testing/image_builder.h"

namespace krt_testing::detail {

// A user-data item in the ring of a partition.
struct UdEntry {
  UserData data;
  uint8_t lap = 0;
  uint32_t first_cluster = 0;
};

// The clusters of one partition: directory items and index bytes from cluster 0 up to the
// highest cluster touched.
struct ClusterMap {
  std::vector<DirItem> items;
  std::vector<uint8_t> index;

  // Makes room for cluster c.
  void reach(uint32_t c) {
    if (c >= items.size()) {
      items.resize(size_t(c) + 1);
      index.resize(size_t(c) + 1);
    }
  }
};

struct PartitionPlan {
  PartitionReport report;
  bool formatted = true;
  bool mirror_second_dir = true;
  bool v03 = false;                         // old disk: no user-data fields
  ClusterMap clusters;
  std::map<uint32_t, UdEntry> ud;           // by item number
  uint32_t ud_first_item = 1;
  uint32_t ud_last_item = 1;
};

struct DiskPlan {
  BuildResult result;                       // ok, error, table, disk size, reports (filled at the end)
  Version version = Version::k04;
  bool write_table = true;
  std::vector<PartitionPlan> partitions;    // one per Disk::partitions
};

// Works out the whole image of `disk`. Returns false with plan.result.error set when the
// description cannot be built.
bool plan_disk(const Disk& disk, DiskPlan& plan);

// Lays the older lap and the current lap of `part` into plan.clusters, assigns user-data items
// and fills the placements, collisions and parameter block of plan.report. `layout` is already in
// plan.report. Returns false with `error` set when the files do not fit or a value is out of range.
bool lay_partition(const Disk& disk, const Partition& part, PartitionPlan& plan, std::string& error);

// Writes a plan to `path` (see build_image). Returns false with plan.result.error set on failure.
bool write_plan(DiskPlan& plan, const std::string& path);

// Fills `count` sectors of a file's recording data, starting at its data sector `first`, into
// out (count x 512 bytes). `stream` holds the stream file's bytes for a stream payload.
void fill_file_sectors(const FilePlacement& file, const std::vector<uint8_t>& stream, uint32_t first,
                       uint32_t count, uint8_t* out);

// Reads a whole stream file. Returns false when it cannot be read.
bool read_stream(const std::string& path, std::vector<uint8_t>& bytes);

// The bytes a stream or byte payload copies into its files (empty for the others): a byte
// payload's own, or the stream file's, read once into `streams` (by path).
const std::vector<uint8_t>& payload_source(const Payload& payload, std::map<std::string, std::vector<uint8_t>>& streams);

}  // namespace krt_testing::detail
