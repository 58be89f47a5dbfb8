#include "reader.h"

#include <memory>

#include "text.h"
#include "vfs/fsfile.h"

bool read_recording(const std::string& path, const BlockSink& sink, uint64_t& bytes,
                    std::string& error) {
  bytes = 0;
  CFSFile file;
  if (!file.Open(path.c_str(), CFSFile::modeRead)) {
    error = concat({"cannot open ", path});
    return false;
  }
  const uint64_t length = file.GetLength();
  std::unique_ptr<uint8_t[]> block(new uint8_t[kReadBlockBytes]);
  for (;;) {
    const uint32_t n = file.Read(block.get(), kReadBlockBytes);
    if (n == 0) break;
    if (!sink(block.get(), n)) {
      error = concat({"stopped after ", std::to_string(bytes), " bytes of ", path});
      return false;
    }
    bytes += n;
  }
  if (bytes < length) {
    error = concat({"read of ", path, " failed after ", std::to_string(bytes), " of ",
                    std::to_string(length), " bytes"});
    return false;
  }
  return true;
}
