// krt mkdemo IMAGE [--force] [--short] [--workers N]: the demo recorder disk (demo/demo_disk.h).
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>

#include "commands.h"
#include "demo_disk.h"
#include "session.h"
#include "catalog/text.h"

namespace {

constexpr int kMaxWorkers = 64;

std::string clock_text(uint32_t t) {
  char s[8];
  std::snprintf(s, sizeof s, "%02u:%02u", (t >> 12) & 0x1F, (t >> 6) & 0x3F);
  return s;
}

}  // namespace

int cmd_mkdemo(const CommandArgs& a) {
  krtdemo::DemoOptions options;
  for (const auto& [option, value] : a.values) {
    if (option == "--short") options.short_recordings = true;
    if (option != "--workers") continue;
    const bool digits = !value.empty() && value.size() <= 2 && value.find_first_not_of("0123456789") == std::string::npos;
    options.workers = digits ? std::stoi(value) : 0;
    if (options.workers < 1 || options.workers > kMaxWorkers)
      return usage_error("mkdemo", concat({"--workers takes a number from 1 to ", std::to_string(kMaxWorkers)}));
  }
  const std::string& path = a.words[0];
  bool force = false;
  for (const auto& [option, value] : a.values) force = force || option == "--force";
  struct stat existing {};
  if (!force && ::lstat(path.c_str(), &existing) == 0)
    return fail(concat({path, " exists: it is replaced only with --force"}));
  const auto began = std::chrono::steady_clock::now();
  const krtdemo::DemoResult r = krtdemo::make_demo_disk(path, options);
  if (!r.ok) return fail(r.error);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

  std::set<int> channels;
  size_t events = 0, older = 0;
  for (const krt_testing::DemoRecording& rec : r.recordings) {
    channels.insert(rec.channel);
    events += rec.kind != 0 ? 1 : 0;
    older += rec.older_lap ? 1 : 0;
  }
  const krt_testing::DemoDay day = krt_testing::demo_day();
  struct stat st {};
  const double mib = 1024.0 * 1024.0;
  const double used = ::stat(path.c_str(), &st) == 0 ? double(st.st_blocks) * 512 / mib : 0;
  std::printf("%s: 2024-03-05 on %zu channels, %zu recordings (%zu motion and alarm events, %zu in idea1's "
              "older lap, %zu of them overwritten), files split every %u minutes; power cut %s-%s, idea0 full "
              "at %s, clock set back from %s to %s%s\n",
              path.c_str(), channels.size(), r.recordings.size(), events, older, r.overwritten,
              day.pack_seconds / 60, clock_text(day.power_off).c_str(), clock_text(day.power_on).c_str(),
              clock_text(day.partition_change).c_str(), clock_text(day.clock_set_at).c_str(),
              clock_text(day.clock_set_to).c_str(), options.short_recordings ? "; every recording cut to 10 s" : "");
  std::printf("%s: %zu recordings encoded, %zu reusing their pictures; %.0f MiB on disk of %.0f MiB; %.1f s\n",
              path.c_str(), r.encoded, r.reused, used, double(r.built.disk_sectors) * 512 / mib, seconds);
  return kExitOk;
}
