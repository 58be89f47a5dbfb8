// Reading recording path names with the recorder disk library's grammar.
#include "recordingpath.h"

#include <algorithm>
#include <string>
#include <utility>

#include <krt/recording_path.h>

namespace {

constexpr int kSecondsPerDay = 24 * 60 * 60;
constexpr std::string_view kMountPrefix = "/mnt/";

int Seconds(int hour, int minute, int second) { return (hour * 60 + minute) * 60 + second; }

}  // namespace

bool ParseRecordingName(std::string_view name, RecordingName* out) {
  // The library parses from the end backwards and ignores what stands before the partition
  // component: a leading "/" makes the partition the first component, and nothing may stand
  // before it.
  if (name.substr(0, 3) != "ide") return false;
  const std::string path = "/" + std::string(name);
  krt::RecordingName n{};
  if (!krt::parse_recording_path(path.c_str(), n)) return false;
  if (std::count(path.begin(), path.end(), '/') != 4) return false;
  RecordingName r;
  r.disk = n.dir.partition.disk;
  r.partition = n.dir.partition.part;
  r.year = n.dir.year;
  r.month = n.dir.month;
  r.day = n.dir.day;
  r.channel = n.dir.channel + 1;
  r.startSeconds = Seconds(n.hour, n.minute, n.second);
  r.endSeconds = Seconds(n.end_hour, n.end_minute, n.end_second);
  r.fileName = path.substr(path.rfind('/') + 1);
  *out = std::move(r);
  return true;
}

bool ParseRecordingPath(std::string_view path, RecordingName* out) {
  if (path.substr(0, kMountPrefix.size()) != kMountPrefix) return false;
  return ParseRecordingName(path.substr(kMountPrefix.size()), out);
}

int RecordingDuration(const RecordingName& name) {
  const int d = (name.endSeconds - name.startSeconds) % kSecondsPerDay;
  return d < 0 ? d + kSecondsPerDay : d;
}
