// krt export [--mp4] PATH... DIR: copies recordings into DIR/idea0/2010-03-05/002/NAME and
// writes DIR/SHA256SUMS and DIR/manifest.json (manifest.h); with --mp4 each recording is
// remuxed into NAME with the extension ".mp4" instead (mp4_export.h).
//
// The copying is catalog/export.h, shared with the viewer's copy job: each copy goes to a
// hidden temporary file renamed over its target once complete, written with POSIX calls (a
// local folder such as /mnt/usb still receives the copies) and hashed on the way.
#include <set>

#include "catalog/export.h"
#include "catalog/listing.h"
#include "catalog/manifest.h"
#include "catalog/reader.h"
#include "catalog/text.h"
#include "commands.h"
#include "progress.h"
#include "session.h"
#ifdef KRT_TOOL_MP4
#include <filesystem>

#include "mp4_export.h"
#include "wall_clock.h"
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

}  // namespace

int cmd_export(const CommandArgs& a) {
  bool mp4 = false;
  for (const auto& [option, value] : a.values) mp4 = mp4 || option == "--mp4";
#ifndef KRT_TOOL_MP4
  if (mp4) return fail("this krt was built without FFmpeg: no --mp4");
#endif
  const std::string& dir = a.words.back();
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
  manifest.add_sources();

  uint64_t total = 0;
  for (const TreeEntry& e : recordings) total += e.size;
  ProgressBar bar(total, recordings.size());
  size_t failed = 0;
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
      manifest.add_file(relative, e, hex, bytes, recorded, zeros);
    } else {
      bar.say(error);
      ++failed;
    }
    bar.file_done();
  }
  bar.finish();
  if (!folder.close(error) || !manifest.save(error)) return fail(error);
  if (failed > 0) {
    return fail(concat({std::to_string(failed), " of ", std::to_string(recordings.size()),
                        " recordings were not copied"}));
  }
  return kExitOk;
}
