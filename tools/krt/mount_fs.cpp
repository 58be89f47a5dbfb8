// The operations of the read-only recordings file system.
#include "mount_fs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "krt/lock.h"
#include "catalog/listing.h"
#include "vfs/fsfile.h"
#include "wall_clock.h"

namespace mount_fs {
namespace {

// All protected by krt::library_lock(), which every operation holds for its whole run.
std::map<std::string, std::vector<TreeEntry>> g_listings;  // tool path of a folder -> entries
time_t g_mounted = 0;                                      // times of the folders

// An open recording.
struct OpenFile {
  CFSFile file;
  uint64_t size = 0;      // as listed
  uint64_t position = 0;  // of the handle: the next byte Read delivers
};

std::string tool_path(const char* path) {
  std::string p = std::string("/mnt") + path;
  while (p.size() > 4 && p.back() == '/') p.pop_back();
  return p;
}

// The listing of a folder, kept after the first time. Null when it cannot be listed.
const std::vector<TreeEntry>* listing(const TreePath& folder) {
  auto it = g_listings.find(folder.text);
  if (it != g_listings.end()) return &it->second;
  std::vector<TreeEntry> entries;
  std::string error;
  if (!list_folder(folder, entries, error)) return nullptr;
  return &g_listings.emplace(folder.text, std::move(entries)).first->second;
}

// Finds what path names. Returns 0 with entry set (a folder's entry has size 0 and is_folder
// true); -ENOENT when nothing has that path.
int lookup(const char* path, TreeEntry& entry, bool& is_folder, TreePath& parsed) {
  const std::string p = tool_path(path);
  std::string error;
  if (!parse_tree_path(p, parsed, error)) return -ENOENT;
  if (parsed.level == Level::kRoot) {
    entry = TreeEntry{"", "/mnt", 0};
    is_folder = true;
    return 0;
  }
  const size_t slash = p.rfind('/');
  TreePath parent;
  if (!parse_tree_path(p.substr(0, slash), parent, error)) return -ENOENT;
  const std::vector<TreeEntry>* entries = listing(parent);
  if (!entries) return -ENOENT;
  const std::string name = p.substr(slash + 1);
  for (const TreeEntry& e : *entries) {
    if (e.name == name) {
      entry = e;
      is_folder = parsed.level != Level::kRecording;
      return 0;
    }
  }
  return -ENOENT;
}

}  // namespace

void reset() {
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  g_listings.clear();
}

int getattr(const char* path, struct stat* st) {
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  if (g_mounted == 0) g_mounted = time(nullptr);
  TreeEntry entry;
  bool is_folder = false;
  TreePath parsed;
  if (const int r = lookup(path, entry, is_folder, parsed); r != 0) return r;
  std::memset(st, 0, sizeof *st);
  st->st_uid = getuid();
  st->st_gid = getgid();
  if (is_folder) {
    st->st_mode = S_IFDIR | 0555;
    st->st_nlink = 2;
    st->st_mtime = st->st_ctime = st->st_atime = g_mounted;
  } else {
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = off_t(entry.size);
    st->st_blksize = 512;
    st->st_blocks = blkcnt_t((entry.size + 511) / 512);
    st->st_mtime = st->st_ctime = st->st_atime = local_time_of(parsed.recording.start_time);
  }
  return 0;
}

int readdir(const char* path, const std::function<void(const char* name)>& add) {
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  TreeEntry entry;
  bool is_folder = false;
  TreePath parsed;
  if (const int r = lookup(path, entry, is_folder, parsed); r != 0) return r;
  if (!is_folder) return -ENOTDIR;
  const std::vector<TreeEntry>* entries = listing(parsed);
  if (!entries) return -ENOENT;
  add(".");
  add("..");
  for (const TreeEntry& e : *entries) add(e.name.c_str());
  return 0;
}

int open(const char* path, int flags, uint64_t& handle) {
  if ((flags & O_ACCMODE) != O_RDONLY || (flags & (O_TRUNC | O_CREAT | O_APPEND)) != 0) return -EROFS;
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  TreeEntry entry;
  bool is_folder = false;
  TreePath parsed;
  if (const int r = lookup(path, entry, is_folder, parsed); r != 0) return r;
  if (is_folder) return -EISDIR;
  auto f = std::make_unique<OpenFile>();
  if (!f->file.Open(entry.path.c_str(), CFSFile::modeRead)) return -EIO;
  f->size = entry.size;
  handle = reinterpret_cast<uint64_t>(f.release());
  return 0;
}

int read(uint64_t handle, char* buf, size_t size, int64_t offset) {
  auto* f = reinterpret_cast<OpenFile*>(handle);
  if (!f || offset < 0) return -EINVAL;
  if (uint64_t(offset) >= f->size) return 0;
  size = size_t(std::min<uint64_t>(size, f->size - uint64_t(offset)));
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  if (f->position != uint64_t(offset)) {
    if (offset > INT32_MAX) return -EIO;
    // Seek answers the new position, which cannot be told from a failure at 0: ask again.
    f->file.Seek(int32_t(offset), CFSFile::begin);
    if (f->file.GetPosition() != uint64_t(offset)) {
      f->position = UINT64_MAX;
      return -EIO;
    }
    f->position = uint64_t(offset);
  }
  size_t done = 0;
  while (done < size) {
    const uint32_t n = f->file.Read(buf + done, uint32_t(size - done));
    if (n == 0) break;
    done += n;
  }
  f->position += done;
  // A recording ends where its listing says: fewer bytes mean the read failed on the way.
  return done == size ? int(done) : -EIO;
}

int release(uint64_t handle) {
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  delete reinterpret_cast<OpenFile*>(handle);
  return 0;
}

int refuse_change() { return -EROFS; }

}  // namespace mount_fs
