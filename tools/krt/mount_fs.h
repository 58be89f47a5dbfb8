// The recordings as a read-only file system: the operations behind `krt mount`.
//
//   /                               every mounted partition of every disk (idea0, idea2, ...)
//   /idea0/2010-03-05/002/NAME      one recording, as `krt ls` names it under /mnt
//
// A path P of the file system is the tool path "/mnt" + P (tree.h). Folders are listed once
// and kept (a recorder disk is never written, so a listing never changes while mounted).
// Recordings are regular files of the size their listing gives, read through CFSFile as any
// other reader reads them; every read holds the library lock while it positions its handle and
// moves the bytes, so readers on any number of threads get the right bytes. Every change --
// writing, creating, removing, renaming, changing modes, owners or times -- is refused with
// EROFS.
//
// The functions return 0 (or a byte count) on success and a negative errno on failure, as FUSE
// operations do; cmd_mount.cpp hands them to libfuse, tests call them directly. They need the
// volume brought up (bring_up_volume) first.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace mount_fs {

// Forgets every kept listing (for tests that bring the volume up again). Returns nothing.
void reset();

// Fills st for path: a folder (mode 0555, or the recording's mode 0444 with its listed size and
// its start time as modification time). Returns 0; -ENOENT when nothing has that path.
int getattr(const char* path, struct stat* st);

// Calls add with each name in the folder at path (".", ".." first). Returns 0; -ENOENT when
// there is no such folder, -ENOTDIR for a recording.
int readdir(const char* path, const std::function<void(const char* name)>& add);

// Opens the recording at path for reading with the open flags given. Returns 0 with handle set
// (to pass to read and release); -EROFS when the flags ask to write or truncate, -EISDIR for a
// folder, -ENOENT when there is no such recording, -EIO when it cannot be opened.
int open(const char* path, int flags, uint64_t& handle);

// Reads up to size bytes at offset of an open recording into buf. Returns the number of bytes
// (0 at or beyond its end, fewer only at its end); -EIO when the recording cannot be read there.
int read(uint64_t handle, char* buf, size_t size, int64_t offset);

// Closes an open recording. Returns 0.
int release(uint64_t handle);

// What every change of the file system answers. Returns -EROFS.
int refuse_change();

}  // namespace mount_fs
