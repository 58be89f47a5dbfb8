// krt export PATH... DIR: copies recordings into DIR/idea0/2010-03-05/002/NAME and writes
// DIR/SHA256SUMS.
//
// The copying is catalog/export.h, shared with the viewer's copy job: each copy goes to a
// hidden temporary file renamed over its target once complete, written with POSIX calls (a
// local folder such as /mnt/usb still receives the copies) and hashed on the way.
#include <set>

#include "catalog/export.h"
#include "catalog/listing.h"
#include "catalog/text.h"
#include "commands.h"
#include "progress.h"
#include "session.h"

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

}  // namespace

int cmd_export(const CommandArgs& a) {
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

  uint64_t total = 0;
  for (const TreeEntry& e : recordings) total += e.size;
  ProgressBar bar(total, recordings.size());
  size_t failed = 0;
  for (const TreeEntry& e : recordings) {
    const auto count = [&bar](uint32_t bytes) {
      bar.add(bytes);
      return true;
    };
    if (folder.copy(e, count, error) != CopyStatus::kCopied) {
      bar.say(error);
      ++failed;
    }
    bar.file_done();
  }
  bar.finish();
  if (!folder.close(error)) return fail(error);
  if (failed > 0) {
    return fail(concat({std::to_string(failed), " of ", std::to_string(recordings.size()),
                        " recordings were not copied"}));
  }
  return kExitOk;
}
