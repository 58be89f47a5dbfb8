// CFSFile -- one file opened through the virtual file table.
//
// Open picks the operation table for the path (vfs/filetable.h) and every later call goes to
// that table's slots, so the same code reads a local file and a recording under "/mnt".
// Positions and lengths are 32-bit, as the slots' are.
//
// States: closed (after construction, Close, a failed Open) -> open (after a successful Open).
// Every operation on a closed file returns its failure value without calling any slot.
// An object belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "vfs/fileops.h"

class CFSFile {
 public:
  // Open flags: the access mode in the low 4 bits, plus create / no-truncate.
  enum : unsigned {
    modeRead = 0x0000,        // read only ("rb")
    modeWrite = 0x0001,       // write only ("wb", "ab" with modeNoTruncate)
    modeReadWrite = 0x0002,   // read and write ("rb+"; "wb+" / "ab+" with modeCreate)
    modeCreate = 0x1000,      // create the file when missing, truncate it unless...
    modeNoTruncate = 0x2000,  // ...this is given: keep the content and append to it
  };
  // Seek origins.
  enum : int { begin = 0, current = 1, end = 2 };

  // A closed file on the default operations.
  CFSFile();
  CFSFile(const CFSFile&) = delete;
  CFSFile& operator=(const CFSFile&) = delete;

  // Closes the file when open and frees the LoadFile buffer.
  virtual ~CFSFile();

  // Opens path with flags (mode* values above). An open file is closed first.
  // Registered operations get the fopen mode text that flags translate to:
  //   modeRead "rb"; modeWrite "wb", with modeNoTruncate "ab"; modeReadWrite "rb+", with
  //   modeCreate "wb+", with modeCreate | modeNoTruncate "ab+".
  // Ordinary paths are opened with open(2) first -- write-only / read-write / read-only by the
  // access mode, O_CREAT with modeCreate and then O_TRUNC unless modeNoTruncate, permission
  // 0666 less the umask -- and the stream is attached with the same mode text. So without
  // modeCreate a missing file is not created and an existing one is not truncated. A folder
  // does not open, nor does a named pipe that has no reader when opened for writing.
  // Returns true when open. Returns false, the file closed and no slot called, when path is
  // null or longer than VFS_PATH_SIZE - 1 characters (a path is never cut), or when the
  // access mode is not 0, 1 or 2.
  virtual bool Open(const char* path, unsigned flags);

  // Closes the file when open (close slot); the file is closed afterwards in any case.
  virtual void Close();

  // Reads up to count bytes into buffer. Returns the bytes read; 0 at the end, on failure or
  // when closed.
  virtual uint32_t Read(void* buffer, uint32_t count);

  // Writes count bytes from buffer. Returns the bytes written; 0 when closed.
  virtual uint32_t Write(const void* buffer, uint32_t count);

  // Writes out buffered bytes (flush slot) when open.
  virtual void Flush();

  // Moves the position to offset from `from` (begin, current or end; any other value counts
  // as begin). Returns the new position, or 0 on failure or when closed -- a failure cannot be
  // told from a move to position 0.
  virtual uint32_t Seek(int32_t offset, int from);

  // Returns the position; 0 when the tell slot fails or the file is closed.
  virtual uint32_t GetPosition();

  // Returns the length in bytes: that of the LoadFile buffer when one is loaded; otherwise the
  // end position of the open file (through seek to the end and tell; the position is kept),
  // which is also remembered. 0 when closed or when the end cannot be found.
  virtual uint32_t GetLength();

  // Reads one line into text (at most size - 1 characters, newline kept). Returns text, or
  // null at the end, on failure or when closed.
  virtual char* ReadString(char* text, int size);

  // Writes text. Returns a non-negative value on success, -1 on failure or when closed.
  virtual int WriteString(const char* text);

  // True when a file is open.
  virtual bool IsOpen() const;

  // The path given to the last Open ("" after construction or a refused path).
  virtual const char* GetFilePath() const;

  // Reads the whole file path into a buffer owned by this object, then closes the file.
  // No buffer may be loaded already (debug assertion "!m_pBuffer"; a release build frees it).
  // Returns the buffer, whose length GetLength then gives; null when the file does not open,
  // is empty, or the memory is not available. A read that ends early (the file shrank, a disk
  // error) keeps what was read and GetLength gives that shorter length.
  uint8_t* LoadFile(const char* path);

  // Releases the LoadFile buffer, if any.
  void FreeBuffer();

 private:
  // Seek slot, 0 on success; -1 when closed.
  int SeekSlot(int32_t offset, int origin);

  FSHandle m_hFile = nullptr;              // handle of the open slot; null when closed
  char m_szPath[VFS_PATH_SIZE] = {};       // path given to Open
  std::unique_ptr<uint8_t[]> m_pBuffer;    // whole-file buffer of LoadFile; null when none
  uint32_t m_dwLength = 0;                 // length cached by GetLength / LoadFile
  const FileOps* m_pOps;                   // operations chosen by the last Open
};
