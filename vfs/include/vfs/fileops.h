// The operation table of the virtual file table, and its directory entry record.
//
// Every path the viewer opens or lists goes through a table of 18 file operations. Ordinary
// paths use the default table, which calls the C library (stdio, the POSIX directory
// functions, statvfs). A subsystem that presents files of its own -- the recorder disk adapter
// behind "/mnt" -- fills a table with its own functions and registers it under a path prefix
// (see vfs/filetable.h). `CFSFile` and `CFSFileFind` pick the table by the path and call its
// slots; they never know which implementation answers.
//
// Contract of every implementation (the slot order is fixed and is part of the contract):
//   - a file handle is an opaque pointer; null means "no file";
//   - a find handle is an integer of pointer width; VFS_FIND_NONE (-1) means "no search";
//   - the results and failure values are those written next to each slot below;
//   - a slot never has to accept a null handle or VFS_FIND_NONE: the classes do not pass them.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Handles and sizes
// ---------------------------------------------------------------------------------------------

using FSHandle = void*;          // an open file of some operation table; null = none
using FSFindHandle = intptr_t;   // an open search of some operation table

constexpr FSFindHandle VFS_FIND_NONE = -1;  // find first's "nothing matches", no open search

constexpr size_t VFS_NAME_SIZE = 108;  // FSFindData::name, NUL included (107 characters)
constexpr size_t VFS_PATH_SIZE = 260;  // CFSFile path buffer, NUL included (259 characters)

// Attribute bits of FSFindData::attrib.
constexpr uint32_t VFS_ATTRIB_READONLY = 0x01;   // cannot be written
constexpr uint32_t VFS_ATTRIB_HIDDEN = 0x02;     // hidden entry (a leading "." on Linux)
constexpr uint32_t VFS_ATTRIB_DIRECTORY = 0x10;  // a folder
// attrib == 0 is an ordinary file.

// ---------------------------------------------------------------------------------------------
// FSFindData -- one directory entry, as find first / find next return it
// ---------------------------------------------------------------------------------------------

struct FSFindData {
  char name[VFS_NAME_SIZE];  // entry name without its folder, NUL-terminated
  uint32_t attrib;           // VFS_ATTRIB_* bits, 0 = ordinary file
  int64_t time_write;        // last write time, seconds since 1970-01-01 00:00:00 UTC
  uint64_t size;             // size in bytes (0 for a folder)
};
static_assert(offsetof(FSFindData, name) == 0);
static_assert(offsetof(FSFindData, attrib) == 108);
static_assert(offsetof(FSFindData, time_write) == 112);
static_assert(offsetof(FSFindData, size) == 120);
static_assert(sizeof(FSFindData) == 128);

// ---------------------------------------------------------------------------------------------
// FileOps -- the 18 operations, in slot order
// ---------------------------------------------------------------------------------------------

struct FileOps {
  // 0: opens path with an fopen mode text ("rb", "wb", "ab", "rb+", "wb+", "ab+").
  //    Returns the handle, null on failure.
  FSHandle (*open)(const char* path, const char* mode);
  // 1: closes the handle. Returns 0 on success.
  int (*close)(FSHandle file);
  // 2: reads up to size * count bytes. Returns the number of whole elements read.
  size_t (*read)(void* buffer, size_t size, size_t count, FSHandle file);
  // 3: writes size * count bytes. Returns the number of whole elements written.
  size_t (*write)(const void* buffer, size_t size, size_t count, FSHandle file);
  // 4: writes out buffered bytes. Returns 0 on success.
  int (*flush)(FSHandle file);
  // 5: moves the position to offset from origin 0 (begin), 1 (current) or 2 (end).
  //    Returns 0 on success.
  int (*seek)(FSHandle file, int32_t offset, int origin);
  // 6: returns the position, -1 on failure (also when it does not fit in 32 bits).
  int32_t (*tell)(FSHandle file);
  // 7: reads one line of at most size - 1 characters into text (fgets). Returns text, null
  //    on failure or at the end.
  char* (*read_line)(char* text, int size, FSHandle file);
  // 8: writes text (fputs). Returns a non-negative value on success.
  int (*write_line)(const char* text, FSHandle file);
  // 9: checks path for mode (0 exists, 2 write, 4 read, 6 both). Returns 0 when accessible.
  int (*access)(const char* path, int mode);
  // 10: renames old_path to new_path. Returns 0 on success.
  int (*rename)(const char* old_path, const char* new_path);
  // 11: removes the file path. Returns 0 on success.
  int (*remove)(const char* path);
  // 12: starts a search for pattern ("folder/*"); on entry data->name holds the pattern's
  //     folder part. Fills data with the first match and returns the find handle, or
  //     VFS_FIND_NONE when nothing matches.
  FSFindHandle (*find_first)(const char* pattern, FSFindData* data);
  // 13: fills data with the next match. Returns 0, or -1 when there are no more.
  int (*find_next)(FSFindHandle find, FSFindData* data);
  // 14: ends the search and releases the find handle. Returns 0 on success.
  int (*find_close)(FSFindHandle find);
  // 15: creates the folder path. Returns 0 on success.
  int (*make_dir)(const char* path);
  // 16: removes the empty folder path. Returns 0 on success.
  int (*remove_dir)(const char* path);
  // 17: space of the volume holding path, in bytes: free to this caller, total, free.
  //     Returns 0 on success.
  int (*disk_space)(const char* path, uint64_t* free_to_caller, uint64_t* total, uint64_t* free);
};
static_assert(sizeof(FileOps) == 18 * sizeof(void*), "FileOps is exactly the 18 slots");
