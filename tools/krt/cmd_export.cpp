// krt export [--mp4] PATH... DIR: copies recordings into DIR/idea0/2010-03-05/002/NAME and
// writes DIR/SHA256SUMS and DIR/manifest.json (manifest.h); with --mp4 each recording is
// remuxed into NAME with the extension ".mp4" instead (mp4_export.h).
//
// The copying is catalog/export.h, shared with the viewer's copy job: each copy goes to a
// hidden temporary file renamed over its target once complete, written with POSIX calls (a
// local folder such as /mnt/usb still receives the copies) and hashed on the way.
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>

#include "catalog/export.h"
#include "catalog/listing.h"
#include "catalog/manifest.h"
#include "catalog/reader.h"
#include "catalog/text.h"
#include "commands.h"
#include "catalog/progress.h"
#include "session.h"
#include "wall_clock.h"
#ifdef KRT_TOOL_MP4
#include "mp4_export.h"
#endif

namespace {

// The recordings under every source path, each once, in the order first met.
bool gather(const std::vector<TreePath>& sources, std::vector<TreeEntry>& out, std::string& error) {
  std::set<std::string> seen;
  for (const TreePath& p : sources) {
    std::vector<TreeEntry> found;
    if (!collect_recordings(p, found, error)) return false;
    for (TreeEntry& e : found) {
      if (seen.insert(e.path).second) out.push_back(std::move(e));
    }
  }
  return true;
}

#ifdef KRT_TOOL_MP4
// Remuxes one recording into the folder as NAME.mp4 (mp4_export.h) and sets its SHA256SUMS
// line; relative becomes the MP4's path in the folder, hex its SHA-256, bytes its size and
// recorded the SHA-256 of the recorded bytes. What was left out is said on the progress line.
// Returns false with error set when it cannot be remuxed (nothing is left behind).
bool copy_as_mp4(const TreeEntry& rec, ExportFolder& folder, ProgressBar& bar, std::string& relative,
                 std::string& hex, uint64_t& bytes, std::string& recorded, std::string& error) {
  TreePath p;
  if (!parse_tree_path(rec.path, p, error)) return false;
  relative = (std::filesystem::path(relative).parent_path() / mp4_name(rec.name)).string();
  Mp4Export out;
  if (!export_mp4(rec.path, rec.size, local_time_of(p.recording.start_time),
                  concat({folder.dir(), "/", relative}), out, error))
    return false;
  for (const std::string& note : out.notes) bar.say(concat({rec.path, ": ", note}));
  bar.add(rec.size);
  folder.add_sum(relative, out.sha256);
  hex = out.sha256;
  bytes = out.bytes;
  recorded = out.source_sha256;
  return true;
}
#endif

// Gives an exported file the recording's start as its modification time, as the mount shows
// it (the recorder's clock read as this machine's local time).
void stamp_start_time(const std::string& file, const TreeEntry& rec) {
  TreePath p;
  std::string ignored;
  if (!parse_tree_path(rec.path, p, ignored) || p.level != Level::kRecording) return;
  const timespec times[2] = {{0, UTIME_OMIT}, {local_time_of(p.recording.start_time), 0}};
  ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

// Why dir cannot take the copies: it is /mnt or lies in a partition folder under it (the
// recordings' own paths, which are no place on this machine's disks). Empty when it can.
std::string recording_namespace(const std::string& dir) {
  const std::filesystem::path full = std::filesystem::absolute(dir).lexically_normal();
  auto part = full.begin();
  if (part == full.end() || ++part == full.end() || *part != "mnt") return "";
  TreePath p;
  if (++part != full.end() && !part->empty() && !parse_tree_components({part->string()}, p)) return "";
  return concat({dir, " is a recording path (the recordings are named under /mnt): the copies go to a folder "
                      "on this machine, outside /mnt and its partition folders"});
}

// The failures of an export of total recordings, one line per cause (the text after a
// message's last ": ", or the whole message), each with its count and its first message:
// "6 of 12 recordings not copied: Not a directory (the first: cannot create ...)".
std::vector<std::string> failure_lines(const std::vector<std::pair<std::string, std::string>>& failures,
                                       size_t total) {
  std::map<std::string, std::pair<size_t, std::string>> by_cause;
  std::vector<std::string> order;
  for (const auto& [recording, reason] : failures) {
    const size_t colon = reason.rfind(": ");
    const std::string cause = colon == std::string::npos ? reason : reason.substr(colon + 2);
    auto [at, added] = by_cause.try_emplace(cause, 0, reason);
    if (added) order.push_back(cause);
    ++at->second.first;
  }
  std::vector<std::string> out;
  for (const std::string& cause : order) {
    const auto& [count, first] = by_cause[cause];
    const std::string counted = concat({std::to_string(count), " of ", std::to_string(total), " recordings not copied: "});
    out.push_back(count == 1 ? counted + first : concat({counted, cause, " (the first: ", first, ")"}));
  }
  return out;
}

}  // namespace

int cmd_export(const CommandArgs& a) {
  bool mp4 = false, hash_source = false;
  for (const auto& [option, value] : a.values) {
    mp4 = mp4 || option == "--mp4";
    hash_source = hash_source || option == "--hash-source";
  }
#ifndef KRT_TOOL_MP4
  if (mp4) return fail("this krt was built without FFmpeg: no --mp4");
#endif
  const std::string& dir = a.words.back();
  if (const std::string refused = recording_namespace(dir); !refused.empty()) return fail(refused);
  std::vector<TreePath> sources(a.words.size() - 1);
  std::string error;
  for (size_t i = 0; i + 1 < a.words.size(); ++i) {
    if (!parse_tree_path(a.words[i], sources[i], error)) return fail(error);
  }
  if (!bring_up_volume()) return kExitFailed;
  std::vector<TreeEntry> recordings;
  if (!gather(sources, recordings, error)) return fail(error);
  ExportFolder folder(dir);
  if (!folder.open(error)) return fail(error);
  Manifest manifest(dir, "krt");
  if (!manifest.load(error)) return fail(error);
  const std::string offsets = clock_offsets_json();
  manifest.begin(command_line(), offsets.empty() ? nullptr : &offsets);
  if (!manifest.add_sources(hash_source, error)) return fail(error);

  uint64_t total = 0;
  for (const TreeEntry& e : recordings) total += e.size;
  ProgressBar bar(total, recordings.size());
  std::vector<std::pair<std::string, std::string>> failed;
  for (const TreeEntry& e : recordings) {
    const auto count = [&bar](uint32_t bytes) {
      bar.add(bytes);
      return true;
    };
    std::string relative = export_relative_path(e.path), hex, recorded;
    uint64_t bytes = e.size;
    bool copied = false, zeros = false;
#ifdef KRT_TOOL_MP4
    if (mp4) copied = copy_as_mp4(e, folder, bar, relative, hex, bytes, recorded, error);
#endif
    if (!mp4) {
      copied = folder.copy(e, count, error) == CopyStatus::kCopied;
      hex = folder.last_sha256();
      zeros = copied && folder.last_all_zero();
    }
    if (zeros) bar.say(all_zero_warning(e.path));
    if (copied) {
      stamp_start_time(concat({folder.dir(), "/", relative}), e);
      manifest.add_file(relative, e, hex, bytes, recorded, zeros);
    } else {
      manifest.add_failure(e.path, error);
      failed.emplace_back(e.path, error);
    }
    bar.file_done();
  }
  bar.finish();
  // What was copied is listed even when some copies failed; each cause of failure is said once.
  bool listed = folder.close(error);
  if (!listed) fail(error);
  if (!manifest.save(error)) listed = fail(error) == kExitOk;
  for (const std::string& line : failure_lines(failed, recordings.size())) fail(line);
  return listed && failed.empty() ? kExitOk : kExitFailed;
}
