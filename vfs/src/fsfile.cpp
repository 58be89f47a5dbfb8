// CFSFile: a file opened through the virtual file table.
#include "vfs/fsfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cstdio>
#include <cstring>
#include <new>

#include "vfs/filetable.h"

namespace {

constexpr unsigned kAccessMask = 0x000F;

// The fopen mode text for flags; null for an access mode other than read, write, read-write.
const char* ModeText(unsigned flags) {
  const bool create = flags & CFSFile::modeCreate;
  const bool keep = flags & CFSFile::modeNoTruncate;
  switch (flags & kAccessMask) {
    case CFSFile::modeRead: return "rb";
    case CFSFile::modeWrite: return keep ? "ab" : "wb";
    case CFSFile::modeReadWrite: return !create ? "rb+" : keep ? "ab+" : "wb+";
    default: return nullptr;
  }
}

// open(2) flags for flags: the descriptor decides about creating and truncating, the stream
// attached to it only about appending.
int DescriptorFlags(unsigned flags) {
  int result = O_CLOEXEC;
  switch (flags & kAccessMask) {
    case CFSFile::modeWrite: result |= O_WRONLY; break;
    case CFSFile::modeReadWrite: result |= O_RDWR; break;
    default: result |= O_RDONLY; break;
  }
  if (flags & CFSFile::modeCreate) {
    result |= O_CREAT;
    if (!(flags & CFSFile::modeNoTruncate)) result |= O_TRUNC;
  }
  return result;
}

// Opens an ordinary file as a stream; folders are refused (they are listed, not read). The
// descriptor is opened non-blocking, so that a named pipe without a partner cannot hang the
// open, and made blocking again before the stream is attached.
FSHandle OpenLocal(const char* path, unsigned flags, const char* mode) {
  const int fd = ::open(path, DescriptorFlags(flags) | O_NONBLOCK, 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  const bool usable = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode) &&
                      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
  FILE* stream = usable ? ::fdopen(fd, mode) : nullptr;
  if (!stream) ::close(fd);
  return stream;
}

}  // namespace

CFSFile::CFSFile() : m_pOps(DefaultFileOps()) {}

CFSFile::~CFSFile() {
  Close();
  FreeBuffer();
}

bool CFSFile::Open(const char* path, unsigned flags) {
  Close();
  m_szPath[0] = '\0';
  const char* mode = ModeText(flags);
  if (!path || !mode) return false;
  const size_t len = std::strlen(path);
  if (len >= sizeof m_szPath) return false;
  std::memcpy(m_szPath, path, len + 1);
  m_pOps = FindFileOps(path);
  m_hFile = m_pOps == DefaultFileOps() ? OpenLocal(path, flags, mode) : m_pOps->open(path, mode);
  return m_hFile != nullptr;
}

void CFSFile::Close() {
  if (!m_hFile) return;
  m_pOps->close(m_hFile);
  m_hFile = nullptr;
}

uint32_t CFSFile::Read(void* buffer, uint32_t count) {
  return m_hFile ? uint32_t(m_pOps->read(buffer, 1, count, m_hFile)) : 0;
}

uint32_t CFSFile::Write(const void* buffer, uint32_t count) {
  return m_hFile ? uint32_t(m_pOps->write(buffer, 1, count, m_hFile)) : 0;
}

void CFSFile::Flush() {
  if (m_hFile) m_pOps->flush(m_hFile);
}

int CFSFile::SeekSlot(int32_t offset, int origin) {
  return m_hFile ? m_pOps->seek(m_hFile, offset, origin) : -1;
}

uint32_t CFSFile::Seek(int32_t offset, int from) {
  const int origin = from == current || from == end ? from : begin;
  return SeekSlot(offset, origin) == 0 ? GetPosition() : 0;
}

uint32_t CFSFile::GetPosition() {
  const int32_t pos = m_hFile ? m_pOps->tell(m_hFile) : -1;
  return pos < 0 ? 0 : uint32_t(pos);
}

// The end is asked for directly from the slots, so that an empty file gives 0 rather than the
// length some earlier file left behind.
uint32_t CFSFile::GetLength() {
  if (m_pBuffer) return m_dwLength;
  if (!m_hFile) return 0;
  const uint32_t pos = GetPosition();
  const int32_t length = SeekSlot(0, end) == 0 ? m_pOps->tell(m_hFile) : -1;
  m_dwLength = length < 0 ? 0 : uint32_t(length);
  SeekSlot(int32_t(pos), begin);
  return m_dwLength;
}

char* CFSFile::ReadString(char* text, int size) {
  return m_hFile ? m_pOps->read_line(text, size, m_hFile) : nullptr;
}

int CFSFile::WriteString(const char* text) { return m_hFile ? m_pOps->write_line(text, m_hFile) : -1; }

bool CFSFile::IsOpen() const { return m_hFile != nullptr; }

const char* CFSFile::GetFilePath() const { return m_szPath; }

uint8_t* CFSFile::LoadFile(const char* path) {
  assert(!m_pBuffer);
  FreeBuffer();
  if (!Open(path, modeRead)) return nullptr;
  const uint32_t length = GetLength();
  if (length) {
    m_pBuffer.reset(new (std::nothrow) uint8_t[length]);
    if (m_pBuffer) {
      Seek(0, begin);
      m_dwLength = Read(m_pBuffer.get(), length);
      if (m_dwLength == 0) FreeBuffer();
    }
  }
  Close();
  return m_pBuffer.get();
}

void CFSFile::FreeBuffer() { m_pBuffer.reset(); }
