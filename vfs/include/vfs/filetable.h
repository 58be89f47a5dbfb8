// The virtual file table: which operation table answers for a path.
//
// The table has VFS_TABLE_SIZE entries. Entry 0 is fixed: the default operations on the C
// library, answering every path no other entry claims. Entries 1..31 start free; each holds a
// prefix (at most VFS_PREFIX_SIZE - 1 characters) and a copy of the 18 slots registered with
// it. A path goes to the first entry, in ascending order, whose prefix begins the path at a
// component boundary (case-sensitive; the path ends there or goes on with "/", or the prefix
// itself ends with "/": "/mnt" claims "/mnt" and "/mnt/idea0/..." but not "/mntx/a"). The
// first match wins even when a later entry has a longer matching prefix.
//
// Locking: the table has its own reader/writer lock, so registration (volume start-up, which
// reruns after a hot-plug change) may happen while other threads look paths up. The lock is
// held only inside these functions, never while a slot runs.
//
// Lifetime: FindFileOps returns a pointer to the entry's copy of the slots. It stays valid for
// the whole process. Unregistering frees the entry's prefix but leaves its slots in place, so
// a file opened through it can still be closed; only a later registration of different slots
// that reuses the entry overwrites them (registering the same slots again, as a start-up rerun
// does, leaves the copy untouched while other threads run it). Unregister a prefix after closing what was opened through it.
#pragma once

#include "vfs/fileops.h"

constexpr size_t VFS_TABLE_SIZE = 32;   // entries, entry 0 included
constexpr size_t VFS_PREFIX_SIZE = 32;  // prefix field, NUL included (31 characters)

// Registers or unregisters a prefix.
// With ops given: copies prefix and the 18 slots of *ops into the first free entry among
// 1..31. No check is made for a prefix that is already registered: registering it twice uses
// two entries, and lookups keep answering with the first. Returns true when registered; false,
// with the table unchanged, when all 31 entries are taken, when prefix is null, empty or
// longer than 31 characters (never cut), or when a slot of *ops is null.
// With ops null: frees the first entry among 1..31 whose prefix equals prefix exactly.
// Returns true when an entry was freed, false when none matched.
bool RegisterFileOps(const char* prefix, const FileOps* ops);

// Returns the operations that answer for path: those of the first registered entry whose
// prefix begins path at a component boundary, else the default operations. A null path gets the default operations.
// Never returns null.
const FileOps* FindFileOps(const char* path);

// Returns the default operations (entry 0): fopen/fread/..., opendir-based find, statvfs.
const FileOps* DefaultFileOps();

// ---------------------------------------------------------------------------------------------
// Path helpers: each looks up the operations of its path and returns true when the slot
// returned 0. A null path gives false without calling a slot.
// ---------------------------------------------------------------------------------------------

// True when path is accessible for mode (0 exists, 2 write, 4 read, 6 both).
bool FSAccess(const char* path, int mode);
// True when old_path was renamed to new_path. Both paths must be answered by the same rename
// slot (no implementation can move a file from its table into another): false otherwise.
bool FSRename(const char* old_path, const char* new_path);
// True when the file path was removed.
bool FSRemove(const char* path);
// True when the folder path was created.
bool FSMakeDir(const char* path);
// True when the empty folder path was removed.
bool FSRemoveDir(const char* path);
// True when the space of the volume holding path was read into the three outputs (bytes free
// to this caller, total bytes, free bytes). Null outputs are allowed and skipped.
bool FSGetDiskSpace(const char* path, uint64_t* free_to_caller, uint64_t* total, uint64_t* free);
