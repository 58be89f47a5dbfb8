// krt ls [PATH]: one folder of the recordings tree (tree.h).
#include <cinttypes>
#include <cstdio>

#include "commands.h"
#include "catalog/json.h"
#include "session.h"
#include "catalog/listing.h"

namespace {

void print_json(const TreePath& folder, const std::vector<TreeEntry>& entries) {
  std::printf("[");
  for (size_t i = 0; i < entries.size(); ++i) {
    const TreeEntry& e = entries[i];
    std::printf("%s{\"name\":%s,\"path\":%s", i ? "," : "", json_quote(e.name).c_str(),
                json_quote(e.path).c_str());
    TreePath r;
    std::string ignored;
    if (folder.level == Level::kChannel && parse_tree_path(e.path, r, ignored)) {
      std::printf(",\"size\":%" PRIu64 ",\"start\":%s,\"first_cluster\":%u", e.size,
                  json_time(r.recording.start_time).c_str(), r.recording.first_cluster);
    }
    std::printf("}");
  }
  std::printf("]\n");
}

}  // namespace

int cmd_ls(const CommandArgs& a) {
  TreePath folder;
  std::string error;
  if (!parse_tree_path(a.words.empty() ? "/mnt" : a.words[0], folder, error)) return fail(error);
  if (!bring_up_volume()) return kExitFailed;
  std::vector<TreeEntry> entries;
  if (!list_folder(folder, entries, error)) return fail(error);
  if (a.json) {
    print_json(folder, entries);
  } else {
    for (const TreeEntry& e : entries) {
      if (folder.level == Level::kChannel) std::printf("%s\t%" PRIu64 "\n", e.name.c_str(), e.size);
      else std::printf("%s\n", e.name.c_str());
    }
  }
  return std::fflush(stdout) == 0 ? kExitOk : fail("cannot write the listing");
}
