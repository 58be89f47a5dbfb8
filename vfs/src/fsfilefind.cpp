// CFSFileFind: lists one folder through the virtual file table.
#include "vfs/fsfilefind.h"

#include <cstring>

#include "pattern.h"
#include "vfs/filetable.h"

namespace {

// Hands the root to the operations in the name field, as they expect it on entry.
void PutRoot(FSFindData& data, const std::string& root) {
  std::memcpy(data.name, root.c_str(), root.size() + 1);
}

// Settles the current entry after a find slot: kept (and its name surely terminated) when
// found, cleared when not.
bool Settle(FSFindData& data, bool found) {
  if (found)
    data.name[sizeof data.name - 1] = '\0';
  else
    data = {};
  return found;
}

}  // namespace

CFSFileFind::CFSFileFind() : m_pOps(DefaultFileOps()) {}

CFSFileFind::~CFSFileFind() { Close(); }

bool CFSFileFind::FindFile(const char* pattern) {
  Close();
  m_data = {};
  if (!pattern) return false;
  m_pOps = FindFileOps(pattern);
  m_strRoot = vfs_detail::PatternRoot(pattern);
  if (m_strRoot.size() >= sizeof m_data.name) return false;
  PutRoot(m_data, m_strRoot);
  m_hFind = m_pOps->find_first(pattern, &m_data);
  return Settle(m_data, m_hFind != VFS_FIND_NONE);
}

bool CFSFileFind::FindNextFile() {
  if (m_hFind == VFS_FIND_NONE) return false;
  PutRoot(m_data, m_strRoot);
  return Settle(m_data, m_pOps->find_next(m_hFind, &m_data) == 0);
}

void CFSFileFind::Close() {
  if (m_hFind == VFS_FIND_NONE) return;
  m_pOps->find_close(m_hFind);
  m_hFind = VFS_FIND_NONE;
}

uint64_t CFSFileFind::GetLengthKB() const { return m_data.size / 1024; }

uint64_t CFSFileFind::GetLength() const { return m_data.size; }

const char* CFSFileFind::GetFileName() const { return m_data.name; }

const std::string& CFSFileFind::GetRoot() const { return m_strRoot; }

bool CFSFileFind::IsReadOnly() const { return m_data.attrib & VFS_ATTRIB_READONLY; }

bool CFSFileFind::IsDirectory() const { return m_data.attrib & VFS_ATTRIB_DIRECTORY; }

bool CFSFileFind::IsHidden() const { return m_data.attrib & VFS_ATTRIB_HIDDEN; }

bool CFSFileFind::IsNormal() const { return m_data.attrib == 0; }
