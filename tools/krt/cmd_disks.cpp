// krt disks, krt partitions: what the disk layer finds and reads back.
#include <cinttypes>
#include <cstdio>
#include <string>
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
#include "catalog/text.h"

int cmd_disks(const CommandArgs& a) {
  std::lock_guard lock(krt::library_lock());
  krt::attach_disks();
  const bool named_usable = named_images_usable();
  krt::DiskInfo info{};
  const int n = krt::get_disk_info(&info);
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
  if (n == 0 && !a.json) {
    // Why each candidate was not taken, so that an empty answer can be acted on.
    std::string group;
    for (const krt::CandidateReport& r : krt::candidate_reports()) {
      std::fprintf(stderr, "krt: %s\n", krt::describe_candidate(r).c_str());
      if (r.verdict == krt::CandidateReport::permission_denied && group.empty()) group = r.group;
    }
    if (!group.empty())
      std::fprintf(stderr, "krt: to read them, join the group %s (sudo adduser $USER %s) and log in again\n",
                   group.c_str(), group.c_str());
  }
  // Each refusal was said already (standard error); the status says it too.
  if (!refused.empty() || !named_usable) return kExitFailed;
  return n == 0 ? fail("no recorder disk found") : kExitOk;
}

namespace {

// The parameter block's fields as the JSON form names them.
std::string param_json(const krt::DriverParam& p) {
  const std::pair<const char*, uint64_t> fields[] = {
      {"type", p.type},           {"status", p.status},
      {"lap", p.lap},             {"sector_per_clus", p.sector_per_clus},
      {"total_clus", p.total_clus}, {"rev_clus", p.rev_clus},
      {"index_off", p.index_off}, {"dir_off", p.dir_off},
      {"second_dir", p.second_dir}, {"data_off", p.data_off},
      {"ud_start", p.ud_start},   {"current_cluster", p.current_cluster},
      {"start_cluster2", p.start_cluster2}, {"end_cluster2", p.end_cluster2},
      {"coll_count", p.coll_count}};
  std::string out;
  for (const auto& [name, value] : fields)
    out += concat({out.empty() ? "{" : ",", json_quote(name), ":", std::to_string(value)});
  return out + "}";
}

}  // namespace

int cmd_partitions(const CommandArgs& a) {
  std::lock_guard lock(krt::library_lock());
  const int n = attach_named_disks();
  if (n < 0) return kExitFailed;
  krt::binit();
  if (n == 0) return fail("no recorder disk found");
  if (a.json) std::printf("[");
  for (int d = 0; d < n; ++d) {
    int ver = 0;
    krt::check_disk_ver(d, ver);
    krt::Partition parts[4] = {};
    const bool table = krt::krt_read_partitions(d, parts, 4) == 0;
    if (a.json) {
      std::printf("%s{\"disk\":%d,\"source\":%s,\"version\":%s,\"partitions\":%s", d ? "," : "", d,
                  json_quote(krt::disk_source(d)).c_str(), ver == 1 ? "\"0.4\"" : "null", table ? "[" : "null");
    } else {
      std::printf("disk %d: %s, version %s\n", d, krt::disk_source(d).c_str(), ver == 1 ? "0.4" : "not 0.4");
      if (!table) std::printf("  partition table unreadable\n");
    }
    const char* sep = "";
    for (int p = 0; table && p < 4; ++p) {
      if (parts[p].size == 0) continue;
      krt::HeldBuf b(krt::bread(d, parts[p].start + krt::kTempOff));
      krt::DriverParam pdp{};
      const bool param = b && krt::decode_driver_param(b->data, pdp);
      if (a.json) {
        std::printf("%s{\"partition\":%d,\"start\":%" PRIu64 ",\"sectors\":%" PRIu64 ",\"parameter_block\":%s}", sep,
                    p, parts[p].start, parts[p].size, param ? param_json(pdp).c_str() : "null");
        sep = ",";
        continue;
      }
      std::printf("  partition %d: start %" PRIu64 ", %" PRIu64 " sectors\n", p, parts[p].start,
                  parts[p].size);
      if (!param) {
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
    if (a.json) std::printf("%s}", table ? "]" : "");
  }
  if (a.json) std::printf("]\n");
  return kExitOk;
}
