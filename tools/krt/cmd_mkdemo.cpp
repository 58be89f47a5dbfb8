// krt mkdemo IMAGE [--days N] [--channels N] [--clip-pictures N]: the demo recorder disk
// (demo/demo_disk.h).
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "commands.h"
#include "demo_disk.h"
#include "krt/log.h"
#include "session.h"
#include "catalog/text.h"

namespace {

// Reads a whole number in [lo, hi]. Returns false for anything else.
bool parse_count(const std::string& text, int lo, int hi, int& out) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::stoi(text);
  return out >= lo && out <= hi;
}

}  // namespace

int cmd_mkdemo(const CommandArgs& a) {
  krtdemo::DemoOptions options;
  struct Count {
    const char* option;
    int hi;      // largest value taken (the smallest is 1)
    int* value;  // where it goes
  };
  const Count counts[] = {{"--days", krtdemo::kMaxDemoDays, &options.days},
                          {"--channels", krtdemo::kMaxDemoChannels, &options.channels},
                          {"--clip-pictures", krtdemo::kMaxDemoClipPictures, &options.pictures_per_clip}};
  for (const auto& [option, value] : a.values) {
    for (const Count& c : counts) {
      if (option == c.option && !parse_count(value, 1, c.hi, *c.value))
        return usage_error("mkdemo", concat({option, " takes a number from 1 to ", std::to_string(c.hi)}));
    }
  }
  const std::string& path = a.words[0];
  bool force = false;
  for (const auto& [option, value] : a.values) force = force || option == "--force";
  struct stat existing {};
  if (!force && ::lstat(path.c_str(), &existing) == 0)
    return fail(concat({path, " exists: it is replaced only with --force"}));
  // The writer warns of every file it splits: a recorder's chatter, not news for the user.
  std::FILE* const said = krt::log_stream();
  std::FILE* quiet = std::fopen("/dev/null", "w");
  if (quiet) krt::set_log_stream(quiet);
  const krtdemo::DemoResult r = krtdemo::make_demo_disk(path, options);
  krt::set_log_stream(said);
  if (quiet) std::fclose(quiet);
  if (!r.ok) return fail(r.error);
  size_t recordings = 0;
  for (const krtdemo::DemoFile& f : r.files) recordings += f.overwritten ? 0 : 1;
  std::printf("%s: %d days of %d channels, %zu recordings, files split every %u minutes, "
              "%d partition change(s), %d clock change(s); partitions of %u recording clusters of %u KiB\n",
              path.c_str(), options.days, options.channels, recordings, r.pack_minutes, r.disk_overs,
              r.time_changes, r.recording_clusters, r.cluster_sectors / 2);
  return kExitOk;
}
