// krt disks, krt partitions: what the disk layer finds and reads back.
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "commands.h"
#include "catalog/json.h"
#include "krt/cache.h"
#include "krt/disk.h"
#include "krt/driver.h"
#include "krt/layout.h"
#include "krt/lock.h"
#include "krt/partition.h"
#include "session.h"

namespace {

int attach() {
  krt::attach_disks();
  return krt::get_disk_info(nullptr);
}

}  // namespace

int cmd_disks(const CommandArgs& a) {
  std::lock_guard lock(krt::library_lock());
  const int n = attach();
  krt::DiskInfo info{};
  krt::get_disk_info(&info);
  const auto drives = krt::drive_numbers();
  const std::vector<krt::DiskRefusal> refused = krt::disk_refusals();
  if (a.json) {
    std::printf("[");
    for (int d = 0; d < n; ++d) {
      const krt::DiskSourceInfo s = krt::disk_source_info(d);
      std::printf("%s{\"index\":%d,\"drive\":%d,\"source\":%s,\"format\":%s,\"segments\":%d,"
                  "\"bytes\":%" PRIu64 ",\"sectors\":%" PRIu64 "}",
                  d ? "," : "", d, drives[d], json_quote(s.path).c_str(),
                  json_quote(s.format).c_str(), s.segments, s.bytes, info.cap[d]);
    }
    std::printf("]\n");
  } else {
    for (int d = 0; d < n; ++d) {
      const krt::DiskSourceInfo s = krt::disk_source_info(d);
      std::printf("%d\t%s\t%s, %d segment%s\t%" PRIu64 " sectors (%.1f GiB)\n", d, s.path.c_str(),
                  s.format.c_str(), s.segments, s.segments == 1 ? "" : "s", info.cap[d],
                  double(info.cap[d]) / 2097152.0);
    }
  }
  // Each refusal was logged as a warning already (standard error); the status says it too.
  if (!refused.empty()) return kExitFailed;
  return n == 0 && !a.json ? fail("no recorder disk found") : kExitOk;
}

int cmd_partitions(const CommandArgs&) {
  std::lock_guard lock(krt::library_lock());
  const int n = attach();
  krt::binit();
  if (n == 0) return fail("no recorder disk found");
  for (int d = 0; d < n; ++d) {
    int ver = 0;
    krt::check_disk_ver(d, ver);
    std::printf("disk %d: %s, version %s\n", d, krt::disk_source(d).c_str(),
                ver == 1 ? "0.4" : "not 0.4");
    krt::Partition parts[4] = {};
    if (krt::krt_read_partitions(d, parts, 4) != 0) {
      std::printf("  partition table unreadable\n");
      continue;
    }
    for (int p = 0; p < 4; ++p) {
      if (parts[p].size == 0) continue;
      std::printf("  partition %d: start %" PRIu64 ", %" PRIu64 " sectors\n", p, parts[p].start,
                  parts[p].size);
      krt::HeldBuf b(krt::bread(d, parts[p].start + krt::kTempOff));
      krt::DriverParam pdp{};
      if (!b || !krt::decode_driver_param(b->data, pdp)) {
        std::printf("    parameter block unreadable or without its magic\n");
        continue;
      }
      std::printf("    type %u, status 0x%x, lap %u, sec/clus %u, total_clus %u, rev_clus %u\n",
                  pdp.type, pdp.status, pdp.lap, pdp.sector_per_clus, pdp.total_clus,
                  pdp.rev_clus);
      std::printf("    index_off %u, dir_off %u, second_dir %u, data_off %u, ud_start %u\n",
                  pdp.index_off, pdp.dir_off, pdp.second_dir, pdp.data_off, pdp.ud_start);
      std::printf("    current_cluster %u, older lap %u..%u, collisions %u\n",
                  pdp.current_cluster, pdp.start_cluster2, pdp.end_cluster2, pdp.coll_count);
    }
  }
  return 0;
}
