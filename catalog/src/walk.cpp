#include "catalog/walk.h"

#include <algorithm>
#include <vector>

#include "catalog/reader.h"
#include "catalog/text.h"
#include "catalog/listing.h"

namespace {

// Reads one listed recording up to the cap; counts it whole or records why not.
void read_recording(const TreeEntry& e, const WalkLimits& limits, std::vector<uint8_t>& block,
                    WalkReport& report) {
  const uint64_t wanted = std::min<uint64_t>(e.size, limits.read_cap);
  RecordingReader reader;
  std::string error;
  if (!reader.open(e.path, wanted, error)) {
    report.errors.push_back(error);
    return;
  }
  uint64_t got = 0;
  while (got < wanted) {
    const uint32_t n = reader.read(block.data(), uint32_t(std::min<uint64_t>(block.size(), wanted - got)));
    if (n == 0) break;
    got += n;
  }
  report.bytes += got;
  if (got >= wanted) {
    ++report.read_whole;
  } else {
    report.errors.push_back(concat({"read of ", e.path, " stopped after ", std::to_string(got), " of ",
                                    std::to_string(wanted), " bytes"}));
  }
}

void walk(const TreePath& p, const WalkLimits& limits, std::vector<uint8_t>& block, WalkReport& report) {
  std::vector<TreeEntry> children;
  std::string error;
  ++report.folders;
  if (!list_folder(p, children, error)) {
    report.errors.push_back(error);
    return;
  }
  if (p.level == Level::kDay && children.empty()) ++report.empty_days;
  for (const TreeEntry& child : children) {
    if (p.level == Level::kChannel) {
      ++report.recordings;
      report.largest = std::max(report.largest, child.size);
      report.listed.push_back(concat({child.path, " ", std::to_string(child.size)}));
      if (report.recordings <= limits.max_recordings) read_recording(child, limits, block, report);
      continue;
    }
    TreePath below;
    if (!parse_tree_path(child.path, below, error)) {
      report.errors.push_back(error);
      continue;
    }
    walk(below, limits, block, report);
  }
}

}  // namespace

WalkReport walk_everything(const WalkLimits& limits) {
  WalkReport report;
  std::vector<uint8_t> block(kReadBlockBytes);
  TreePath root;
  std::string error;
  parse_tree_path("/mnt", root, error);
  walk(root, limits, block, report);
  return report;
}
