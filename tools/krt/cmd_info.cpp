// krt info: the driver tables after mounting.
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>

#include "commands.h"
#include "catalog/json.h"
#include "krt/driver.h"
#include "krt/driver_dump.h"
#include "krt/lock.h"
#include "krt/mount.h"
#include "krt/work_drivers.h"
#include "session.h"
#include "catalog/listing.h"
#include "catalog/text.h"

namespace {

bool is_work_driver(const krt::DriverParam& p) {
  return p.type < uint32_t(krt::kRingTypes) && krt::work_driver(int(p.type)) == &p;
}

// "d.p" of a driver, or null (JSON) when there is none.
std::string json_dev_part(const krt::DriverParam* p) {
  return p ? concat({"\"", std::to_string(p->dev), ".", std::to_string(p->part), "\""}) : "null";
}

void print_sections(const krt::DriverParam& p) {
  std::printf("\"sections\":[");
  const uint32_t count = std::min<uint32_t>(p.coll_count + 2, krt::kSectionsPerDriver);
  for (uint32_t k = 0; k < count; ++k) {
    const krt::TimeSection& s = p.sections[k];
    std::printf("%s{\"start_cluster\":%u,\"end_cluster\":%u,\"start_time\":%s,\"end_time\":%s}",
                k ? "," : "", s.start_cluster, s.end_cluster, json_time(s.start_time).c_str(),
                json_time(s.end_time).c_str());
  }
  std::printf("]");
}

void print_driver(const krt::DriverParam& p) {
  std::printf("{\"dev\":%d,\"part\":%d,\"next\":%s,\"work\":%s,\"type\":%u,\"status\":%u,"
              "\"err_state\":%u,\"lap\":%u,\"total_clus\":%u,\"temp_off\":%u,\"index_off\":%u,"
              "\"dir_off\":%u,\"data_off\":%u,\"rev_clus\":%u,\"sector_per_clus\":%u,"
              "\"current_cluster\":%u,\"start_time1\":%s,\"end_time1\":%s,\"start_cluster2\":%u,"
              "\"end_cluster2\":%u,\"start_time2\":%s,\"end_time2\":%s,\"coll_count\":%u,",
              p.dev, p.part, json_dev_part(p.next_drv).c_str(), is_work_driver(p) ? "true" : "false",
              p.type, p.status, p.err_state, p.lap, p.total_clus, p.temp_off, p.index_off, p.dir_off,
              p.data_off, p.rev_clus, p.sector_per_clus, p.current_cluster,
              json_time(p.start_time1).c_str(), json_time(p.end_time1).c_str(), p.start_cluster2,
              p.end_cluster2, json_time(p.start_time2).c_str(), json_time(p.end_time2).c_str(),
              p.coll_count);
  print_sections(p);
  std::printf("}");
}

// One line per partition-table entry of every disk: how start-up brought it up and why.
void print_mount_reports() {
  std::printf("partitions:\n");
  for (int d = 0; d < krt::get_disk_info(nullptr); ++d) {
    for (int p = 0; p < krt::kMaxPartitions; ++p) {
      const krt::MountReport r = krt::mount_report(d, p);
      if (r.state == krt::MountState::kAbsent) continue;
      std::printf("  %s\t%s%s%s\n", partition_name({d, p}).c_str(), krt::mount_state_text(r.state),
                  r.reason[0] ? ": " : "", r.reason);
    }
  }
}

}  // namespace

int cmd_info(const CommandArgs& a) {
  if (!bring_up_volume()) return kExitFailed;
  if (!a.json) {
    print_mount_reports();
    if (!require_mounted_partition()) return kExitFailed;
    krt::dump_driver_tables(stdout);
    return kExitOk;
  }
  if (!require_mounted_partition()) return kExitFailed;
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  std::printf("[");
  bool first = true;
  for (int i = 0; i < krt::kMaxDrivers; ++i) {
    const krt::DriverParam& p = *krt::driver_slot(i);
    if (!krt::driver_in_use(p)) continue;
    std::printf("%s", first ? "" : ",");
    print_driver(p);
    first = false;
  }
  std::printf("]\n");
  return kExitOk;
}
