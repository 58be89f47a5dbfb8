// krt locate [-c CHANNEL] 'YYYY-MM-DD HH:MM:SS': the recording of each channel holding a moment.
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "catalog/json.h"
#include "catalog/listing.h"
#include "commands.h"
#include "session.h"

namespace {

// Days since 1970-01-01 of a calendar date (proleptic Gregorian).
long days_of(int year, int month, int day) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = 12;
  return static_cast<long>(timegm(&t) / 86400);
}

struct Found {
  std::string path;  // "" when the channel recorded nothing then
  long offset_s = 0;
};

// Every recording listed under the moment's day and the day before (a recording may run past
// midnight) in every partition, with the channel's first that holds the moment. The moment is
// the true time: each disk's recorder clock offset (--clock-offset) turns it into that disk's
// clock.
bool locate(long true_day, long true_second, std::map<int, Found>& found, std::string& error) {
  TreePath root;
  if (!parse_tree_path("/mnt", root, error)) return false;
  std::vector<TreeEntry> partitions;
  if (!list_folder(root, partitions, error)) return false;
  for (const TreeEntry& part : partitions) {
    TreePath p;
    std::vector<TreeEntry> days;
    if (!parse_tree_path(part.path, p, error) || !list_folder(p, days, error)) continue;
    const long shifted = true_second + static_cast<long>(clock_offset_of(p.partition.disk));
    const long day = true_day + (shifted >= 0 ? shifted / 86400 : -((86399 - shifted) / 86400));
    const long second = shifted - (day - true_day) * 86400;
    for (const TreeEntry& d : days) {
      TreePath dp;
      if (!parse_tree_path(d.path, dp, error)) continue;
      const long delta = days_of(dp.year, dp.month, dp.day) - day;
      if (delta != 0 && delta != -1) continue;
      std::vector<TreeEntry> channels;
      if (!list_folder(dp, channels, error)) continue;
      for (const TreeEntry& c : channels) {
        TreePath cp;
        std::vector<TreeEntry> files;
        if (!parse_tree_path(c.path, cp, error) || !list_folder(cp, files, error)) continue;
        Found& slot = found[cp.channel + 1];
        for (const TreeEntry& f : files) {
          TreePath r;
          if (!slot.path.empty() || !parse_tree_path(f.path, r, error)) continue;
          const krt::RecordingName& n = r.recording;
          const long start = delta * 86400 + n.hour * 3600L + n.minute * 60L + n.second;
          const long end_clock = n.end_hour * 3600L + n.end_minute * 60L + n.end_second;
          const long length = ((end_clock - (start - delta * 86400)) % 86400 + 86400) % 86400;
          if (second >= start && (second < start + length || second == start))
            slot = Found{f.path, second - start};
        }
      }
    }
  }
  return true;
}

}  // namespace

int cmd_locate(const CommandArgs& a) {
  int year = 0, month = 0, mday = 0, hour = 0, minute = 0, sec = 0;
  char tail = 0;
  if (std::sscanf(a.words[0].c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month, &mday, &hour,
                  &minute, &sec, &tail) != 6 ||
      month < 1 || month > 12 || mday < 1 || mday > 31 || hour > 23 || minute > 59 || sec > 59)
    return usage_error("locate", "the moment reads 'YYYY-MM-DD HH:MM:SS'");
  int only = 0;
  for (const auto& [option, value] : a.values) {
    if (option == "-c" && (std::sscanf(value.c_str(), "%d%c", &only, &tail) != 1 || only < 1 ||
                           only > 64))
      return usage_error("locate", "-c takes a channel 1-64");
  }
  if (!bring_up_volume()) return kExitFailed;
  std::map<int, Found> found;
  std::string error;
  if (!locate(days_of(year, month, mday), hour * 3600L + minute * 60L + sec, found, error))
    return fail(error);
  if (only) found = {{only, found[only]}};
  for (const auto& [channel, f] : found) {
    if (a.json) {
      std::printf("{\"channel\":%d,\"path\":%s,\"offset_s\":%s}\n", channel,
                  f.path.empty() ? "null" : json_quote(f.path).c_str(),
                  f.path.empty() ? "null" : std::to_string(f.offset_s).c_str());
    } else if (f.path.empty()) {
      std::printf("%03d\tnothing recorded at %s\n", channel, a.words[0].c_str());
    } else {
      std::printf("%03d\t%s\t%ld\n", channel, f.path.c_str(), f.offset_s);
    }
  }
  return std::fflush(stdout) == 0 ? kExitOk : fail("cannot write the answer");
}
