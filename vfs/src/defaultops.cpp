// The default operations of the virtual file table: ordinary files and folders through the C
// library. Files are stdio streams; a search reads the folder once with opendir/readdir, keeps
// the matching names in byte order and stats each one as find next reaches it; disk space is
// statvfs.
#include "defaultops.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "pattern.h"

namespace vfs_detail {
namespace {

FILE* Stream(FSHandle file) { return static_cast<FILE*>(file); }

// ---- files --------------------------------------------------------------------------------

FSHandle Open(const char* path, const char* mode) { return std::fopen(path, mode); }

int Close(FSHandle file) { return file ? std::fclose(Stream(file)) : EOF; }

size_t Read(void* buffer, size_t size, size_t count, FSHandle file) {
  return file ? std::fread(buffer, size, count, Stream(file)) : 0;
}

size_t Write(const void* buffer, size_t size, size_t count, FSHandle file) {
  return file ? std::fwrite(buffer, size, count, Stream(file)) : 0;
}

int Flush(FSHandle file) { return file ? std::fflush(Stream(file)) : EOF; }

int Seek(FSHandle file, int32_t offset, int origin) {
  return file ? std::fseek(Stream(file), offset, origin) : -1;
}

// A position beyond 2 GiB does not fit the slot's 32 bits: that is a failure, not a
// truncated (or negative) position.
int32_t Tell(FSHandle file) {
  if (!file) return -1;
  const long pos = std::ftell(Stream(file));
  return pos < 0 || pos > std::numeric_limits<int32_t>::max() ? -1 : int32_t(pos);
}

char* ReadLine(char* text, int size, FSHandle file) {
  return file ? std::fgets(text, size, Stream(file)) : nullptr;
}

int WriteLine(const char* text, FSHandle file) { return file ? std::fputs(text, Stream(file)) : EOF; }

// ---- paths --------------------------------------------------------------------------------

int Access(const char* path, int mode) { return ::access(path, mode); }
int Rename(const char* old_path, const char* new_path) { return std::rename(old_path, new_path); }
int Remove(const char* path) { return std::remove(path); }
int MakeDir(const char* path) { return ::mkdir(path, 0777); }
int RemoveDir(const char* path) { return ::rmdir(path); }

// Sizes in bytes from statvfs. Outputs are zeroed when the volume cannot be queried.
int DiskSpace(const char* path, uint64_t* free_to_caller, uint64_t* total, uint64_t* free) {
  struct statvfs st;
  const bool ok = ::statvfs(path, &st) == 0;
  const uint64_t unit = ok ? st.f_frsize : 0;
  if (free_to_caller) *free_to_caller = uint64_t(ok ? st.f_bavail : 0) * unit;
  if (total) *total = uint64_t(ok ? st.f_blocks : 0) * unit;
  if (free) *free = uint64_t(ok ? st.f_bfree : 0) * unit;
  return ok ? 0 : -1;
}

// ---- searches -----------------------------------------------------------------------------

// One open search: the folder prefix to stat names with, and the matches still to hand out.
struct Search {
  std::string root;                // folder part of the pattern ("" = current folder)
  std::vector<std::string> names;  // matching names, in byte order
  size_t next = 0;                 // index of the next name to hand out
};

Search* SearchOf(FSFindHandle find) {
  return find == VFS_FIND_NONE || find == 0 ? nullptr : reinterpret_cast<Search*>(find);
}

bool IsDotOrDotDot(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Fills data from the entry's status.
void Describe(const char* name, const struct stat& st, FSFindData* data) {
  std::memset(data, 0, sizeof *data);
  std::strcpy(data->name, name);  // names longer than the field never enter a search
  const bool dir = S_ISDIR(st.st_mode);
  if (dir) data->attrib |= VFS_ATTRIB_DIRECTORY;
  if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) data->attrib |= VFS_ATTRIB_READONLY;
  if (name[0] == '.' && !IsDotOrDotDot(name)) data->attrib |= VFS_ATTRIB_HIDDEN;
  data->time_write = int64_t(st.st_mtime);
  data->size = dir ? 0 : uint64_t(st.st_size);
}

// Hands out the next name that can still be stat'ed (a link to nowhere is described by the
// link itself; a name removed meanwhile is passed over). False when none is left.
bool NextEntry(Search* search, FSFindData* data) {
  while (search->next < search->names.size()) {
    const std::string& name = search->names[search->next++];
    const std::string path = search->root + name;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 || ::lstat(path.c_str(), &st) == 0) {
      Describe(name.c_str(), st, data);
      return true;
    }
  }
  return false;
}

// A name too long for FSFindData::name is left out: a cut name would name another file.
FSFindHandle FindFirst(const char* pattern, FSFindData* data) {
  if (!pattern || !data) return VFS_FIND_NONE;
  const std::string_view root = PatternRoot(pattern);
  const std::string_view match = std::string_view(pattern).substr(root.size());
  auto* search = new (std::nothrow) Search;
  if (!search) return VFS_FIND_NONE;
  search->root = root;
  DIR* dir = ::opendir(root.empty() ? "." : search->root.c_str());
  if (dir) {
    while (const dirent* entry = ::readdir(dir)) {
      if (std::strlen(entry->d_name) < VFS_NAME_SIZE && MatchName(match, entry->d_name))
        search->names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
  }
  std::sort(search->names.begin(), search->names.end());
  if (!NextEntry(search, data)) {
    delete search;
    return VFS_FIND_NONE;
  }
  return reinterpret_cast<FSFindHandle>(search);
}

int FindNext(FSFindHandle find, FSFindData* data) {
  Search* search = SearchOf(find);
  return search && data && NextEntry(search, data) ? 0 : -1;
}

int FindClose(FSFindHandle find) {
  Search* search = SearchOf(find);
  if (!search) return -1;
  delete search;
  return 0;
}

}  // namespace

constinit const FileOps kDefaultOps = {
    .open = Open,
    .close = Close,
    .read = Read,
    .write = Write,
    .flush = Flush,
    .seek = Seek,
    .tell = Tell,
    .read_line = ReadLine,
    .write_line = WriteLine,
    .access = Access,
    .rename = Rename,
    .remove = Remove,
    .find_first = FindFirst,
    .find_next = FindNext,
    .find_close = FindClose,
    .make_dir = MakeDir,
    .remove_dir = RemoveDir,
    .disk_space = DiskSpace,
};

}  // namespace vfs_detail
