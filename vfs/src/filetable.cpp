// The virtual file table: prefixes of registered operation tables, lookup by path, and the
// path helpers built on it.
//
// Rules of the table (checked by the tests):
//   1. Entry 0 is the default operations and never changes; it is not stored below.
//   2. An entry is taken exactly when its prefix is not empty; its prefix always fits the
//      field with its NUL and its slots are all set.
//   3. Registration takes the lowest free entry; unregistration frees the lowest entry whose
//      prefix equals the text; lookups scan upwards and the first match wins.
//   4. Freeing an entry clears only its prefix: the slot copy stays until the entry is taken
//      again by different slots, so pointers handed out by FindFileOps keep working for files
//      still open and are never rewritten while a start-up rerun registers the same slots.
#include "vfs/filetable.h"

#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "defaultops.h"

namespace {

struct Entry {
  char prefix[VFS_PREFIX_SIZE];  // "" = free entry
  FileOps ops;                   // copy of the registered slots
};

struct Table {
  std::shared_mutex lock;         // guards entries
  Entry entries[VFS_TABLE_SIZE];  // entries[0] unused: the default operations answer
};

Table& TheTable() {
  static Table table{};
  return table;
}

bool AllSlotsSet(const FileOps& o) {
  return o.open && o.close && o.read && o.write && o.flush && o.seek && o.tell && o.read_line &&
         o.write_line && o.access && o.rename && o.remove && o.find_first && o.find_next &&
         o.find_close && o.make_dir && o.remove_dir && o.disk_space;
}

bool Register(const char* prefix, const FileOps& ops) {
  const size_t len = std::strlen(prefix);
  if (len == 0 || len >= VFS_PREFIX_SIZE || !AllSlotsSet(ops)) return false;
  Table& table = TheTable();
  std::unique_lock guard(table.lock);
  for (size_t i = 1; i < VFS_TABLE_SIZE; ++i) {
    Entry& entry = table.entries[i];
    if (entry.prefix[0] != '\0') continue;
    // Registering the same slots again (a volume start-up rerun) leaves the copy alone: other
    // threads may be running slots they looked up before, outside the table's lock.
    if (std::memcmp(&entry.ops, &ops, sizeof ops) != 0) entry.ops = ops;
    std::memcpy(entry.prefix, prefix, len + 1);
    return true;
  }
  return false;
}

bool Unregister(const char* prefix) {
  Table& table = TheTable();
  std::unique_lock guard(table.lock);
  for (size_t i = 1; i < VFS_TABLE_SIZE; ++i) {
    Entry& entry = table.entries[i];
    if (entry.prefix[0] != '\0' && std::strncmp(entry.prefix, prefix, VFS_PREFIX_SIZE) == 0) {
      entry.prefix[0] = '\0';
      return true;
    }
  }
  return false;
}

// Whether a taken entry's prefix claims path: path begins with it at a component boundary.
bool Claims(const char* prefix, const char* path) {
  const size_t len = std::strlen(prefix);
  if (len == 0 || std::strncmp(prefix, path, len) != 0) return false;
  return prefix[len - 1] == '/' || path[len] == '\0' || path[len] == '/';
}

}  // namespace

bool RegisterFileOps(const char* prefix, const FileOps* ops) {
  if (!prefix) return false;
  return ops ? Register(prefix, *ops) : Unregister(prefix);
}

const FileOps* FindFileOps(const char* path) {
  if (!path) return DefaultFileOps();
  Table& table = TheTable();
  std::shared_lock guard(table.lock);
  for (size_t i = 1; i < VFS_TABLE_SIZE; ++i) {
    const Entry& entry = table.entries[i];
    if (Claims(entry.prefix, path)) return &entry.ops;
  }
  return DefaultFileOps();
}

const FileOps* DefaultFileOps() { return &vfs_detail::kDefaultOps; }

bool FSAccess(const char* path, int mode) { return path && FindFileOps(path)->access(path, mode) == 0; }

bool FSRename(const char* old_path, const char* new_path) {
  if (!old_path || !new_path) return false;
  // One rename slot must understand both paths.
  const auto rename = FindFileOps(old_path)->rename;
  return rename == FindFileOps(new_path)->rename && rename(old_path, new_path) == 0;
}

bool FSRemove(const char* path) { return path && FindFileOps(path)->remove(path) == 0; }

bool FSMakeDir(const char* path) { return path && FindFileOps(path)->make_dir(path) == 0; }

bool FSRemoveDir(const char* path) { return path && FindFileOps(path)->remove_dir(path) == 0; }

bool FSGetDiskSpace(const char* path, uint64_t* free_to_caller, uint64_t* total, uint64_t* free) {
  if (!path) return false;
  uint64_t unused[3];
  return FindFileOps(path)->disk_space(path, free_to_caller ? free_to_caller : &unused[0],
                                       total ? total : &unused[1], free ? free : &unused[2]) == 0;
}
