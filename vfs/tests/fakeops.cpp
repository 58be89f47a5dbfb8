#include "fakeops.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace fake {
namespace {

State g_state;

struct File {
  std::string* data;  // content in g_state.files
  size_t pos;         // raw position, header included
  bool can_write;
};

File* FileOf(FSHandle handle) { return static_cast<File*>(handle); }

void Log(std::string line) { g_state.calls.push_back(std::move(line)); }

FSHandle Open(const char* path, const char* mode) {
  Log(std::string("open ") + path + " " + mode);
  auto it = g_state.files.find(path);
  if (mode[0] == 'r' && it == g_state.files.end()) return nullptr;
  std::string& data = g_state.files[path];
  if (mode[0] == 'w') data.assign(g_state.header, 'H');
  const bool write = mode[0] != 'r' || std::strchr(mode, '+');
  return new File{&data, mode[0] == 'a' ? data.size() : g_state.header, write};
}

int Close(FSHandle handle) {
  Log("close");
  delete FileOf(handle);
  return g_state.result;
}

size_t Read(void* buffer, size_t size, size_t count, FSHandle handle) {
  File* f = FileOf(handle);
  const size_t n = std::min({size * count, f->data->size() - f->pos, g_state.read_limit});
  std::memcpy(buffer, f->data->data() + f->pos, n);
  f->pos += n;
  return n / size;
}

size_t Write(const void* buffer, size_t size, size_t count, FSHandle handle) {
  File* f = FileOf(handle);
  if (!f->can_write) return 0;
  f->data->replace(f->pos, size * count, static_cast<const char*>(buffer), size * count);
  f->pos += size * count;
  return count;
}

int Flush(FSHandle) {
  Log("flush");
  return g_state.result;
}

int Seek(FSHandle handle, int32_t offset, int origin) {
  File* f = FileOf(handle);
  const long base = origin == 0 ? long(g_state.header) : origin == 1 ? long(f->pos) : long(f->data->size());
  const long target = base + offset;
  if (g_state.fail_seek || origin < 0 || origin > 2 || target < long(g_state.header) ||
      target > long(f->data->size()))
    return -1;
  f->pos = size_t(target);
  return 0;
}

int32_t Tell(FSHandle handle) { return g_state.fail_tell ? -1 : int32_t(FileOf(handle)->pos - g_state.header); }

char* ReadLine(char*, int, FSHandle) {
  Log("read_line");
  return nullptr;
}

int WriteLine(const char* text, FSHandle) {
  Log(std::string("write_line ") + text);
  return -1;
}

int PathSlot(const char* slot, const char* path) {
  Log(std::string(slot) + " " + path);
  return g_state.result;
}

int Access(const char* path, int) { return PathSlot("access", path); }
int Rename(const char* old_path, const char* new_path) {
  return PathSlot("rename", (std::string(old_path) + " " + new_path).c_str());
}
int Remove(const char* path) { return PathSlot("remove", path); }
int MakeDir(const char* path) { return PathSlot("make_dir", path); }
int RemoveDir(const char* path) { return PathSlot("remove_dir", path); }

int DiskSpace(const char* path, uint64_t* free_to_caller, uint64_t* total, uint64_t* free) {
  *free_to_caller = 1;
  *total = 3;
  *free = 2;
  return PathSlot("disk_space", path);
}

constexpr FSFindHandle kFind = 7;  // the one search the fake keeps
size_t g_next;                     // index of the next listing name

int FillNext(FSFindData* data) {
  if (g_next >= g_state.listing.size()) return -1;
  std::memset(data, 0, sizeof *data);
  // A name as long as the field fills it without a terminating zero: the table must cope.
  const std::string& name = g_state.listing[g_next];
  std::memcpy(data->name, name.data(), std::min(name.size(), sizeof data->name));
  data->size = 2048 * (g_next + 1);
  ++g_next;
  return 0;
}

FSFindHandle FindFirst(const char* pattern, FSFindData* data) {
  Log(std::string("find_first ") + pattern + " name=" + data->name);
  g_next = 0;
  return FillNext(data) == 0 ? kFind : VFS_FIND_NONE;
}

int FindNext(FSFindHandle find, FSFindData* data) {
  Log("find_next " + std::to_string(find) + " name=" + data->name);
  return FillNext(data);
}

int FindClose(FSFindHandle find) {
  Log("find_close " + std::to_string(find));
  return g_state.result;
}

template <size_t... N>
constexpr auto MakeTags(std::index_sequence<N...>) {
  return std::array<int (*)(const char*, int), sizeof...(N)>{
      [](const char*, int) { return int(N); }...};
}
constexpr auto kTags = MakeTags(std::make_index_sequence<40>());

}  // namespace

State& S() { return g_state; }

void Reset() {
  g_state = State();
  g_next = 0;
}

const FileOps kOps = {
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

FileOps Tagged(int tag) {
  FileOps ops = kOps;
  ops.access = kTags.at(size_t(tag));
  return ops;
}

int Owner(const char* path) {
  const FileOps* ops = FindFileOps(path);
  return ops == DefaultFileOps() ? 0 : ops->access(path, 0);
}

Unregister::~Unregister() {
  while (RegisterFileOps(prefix_.c_str(), nullptr)) {
  }
}

Registration::Registration(std::string prefix, const FileOps& ops) : Unregister(std::move(prefix)) {
  EXPECT_TRUE(RegisterFileOps(prefix_.c_str(), &ops)) << prefix_;
}

}  // namespace fake
