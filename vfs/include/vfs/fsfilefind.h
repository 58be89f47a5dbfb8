// CFSFileFind -- lists the entries of one folder through the virtual file table.
//
// FindFile ("folder/*") picks the operation table for the pattern (vfs/filetable.h) and
// makes the first match current; FindNextFile moves to the next. Names are relative to the
// pattern's folder part: the full path of the current entry is GetRoot() + GetFileName().
//
// Pattern rules of the default operations (ordinary folders): the part after the last "/" is
// matched against each name with "*" (any run of characters, a leading "." included) and "?"
// (any one character) as the only wildcards; every other character, "[" and "]" included,
// stands for itself; case counts. Entries come in byte order of their names; "." and ".."
// are listed when the pattern matches them. Registered operations follow their own rules.
//
// An object may be reused: FindFile ends a search still open and starts a new one. The
// destructor ends an open search too. An object belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "vfs/fileops.h"

class CFSFileFind {
 public:
  // No search open; the default operations.
  CFSFileFind();
  CFSFileFind(const CFSFileFind&) = delete;
  CFSFileFind& operator=(const CFSFileFind&) = delete;

  // Ends an open search (Close).
  virtual ~CFSFileFind();

  // Starts a search for pattern, after ending an open one. The root becomes the pattern up to
  // and including its last "/" ("" when it has none). Returns true when an entry matched: it
  // is then the current entry. Returns false, with no search open and no current entry, when
  // nothing matches, when pattern is null, or when its root is longer than VFS_NAME_SIZE - 1
  // characters (the root is handed to the operations in the name field; it is never cut).
  virtual bool FindFile(const char* pattern);

  // Makes the next match current. Returns false when there is none (the current entry is
  // then cleared) or no search is open.
  virtual bool FindNextFile();

  // Ends the open search (find close slot); nothing when none is open.
  virtual void Close();

  // Size of the current entry in whole KB (bytes / 1024).
  virtual uint64_t GetLengthKB() const;

  // Name of the current entry ("" when none).
  virtual const char* GetFileName() const;

  // Folder part of the last pattern, ending in "/" (or "" when the pattern had no "/").
  virtual const std::string& GetRoot() const;

  // Attribute tests of the current entry.
  virtual bool IsReadOnly() const;   // VFS_ATTRIB_READONLY set
  virtual bool IsDirectory() const;  // VFS_ATTRIB_DIRECTORY set
  virtual bool IsHidden() const;     // VFS_ATTRIB_HIDDEN set
  virtual bool IsNormal() const;     // no attribute bit

  // Size of the current entry in bytes, as the find record gives it (0 when none).
  uint64_t GetLength() const;

 private:
  FSFindHandle m_hFind = VFS_FIND_NONE;  // open search; VFS_FIND_NONE when none
  FSFindData m_data = {};                // current entry
  const FileOps* m_pOps;                 // operations chosen by the last FindFile
  std::string m_strRoot;                 // folder part of the last pattern
};
