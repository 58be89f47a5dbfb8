// The demo disk's image file and the write hook that writes into it.
//
// The library's own write hook discards every write (disk.h). The demo maker alone installs
// this one, and it writes only into the image file that the maker itself created: the file is
// made anew (or replaced after checking that it is a regular file of this user, never through
// a symbolic link), and the hook refuses every disk but the one attached from that file.
// Writes of zeros punch holes instead, so the image stays sparse.
#pragma once

#include <cstdint>
#include <string>

namespace krtdemo {

class ImageFile {
 public:
  ImageFile() = default;
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  // Creates the image at path with `sectors` sectors of zeros (a sparse file), replacing a
  // regular file of this user. Returns false with error set when the path is something else
  // (a folder, a link, a device, another user's file) or the file cannot be made.
  bool create(const std::string& path, uint64_t sectors, std::string& error);

  // Writes one sector at sector `sector` directly (before the library knows the disk).
  bool write_sector(uint64_t sector, const uint8_t* bytes);

  // Installs the write hook for library disk index `disk` (the index the image was attached
  // as); writes to any other disk fail. Returns nothing.
  void install_hook(int disk);

  // Puts the library's default write hook back and closes the file. Returns false when the
  // file's last changes could not be written.
  bool close();

 private:
  int fd_ = -1;
};

}  // namespace krtdemo
