// Exporting recordings: read through CFSFile, written with POSIX calls into a temporary file
// that is renamed over the target when complete, hashed on the way.
#include "catalog/export.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "catalog/reader.h"
#include "catalog/text.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMountPrefix = "/mnt/";
constexpr size_t kPipelineBlocks = 4;  // blocks in flight between copying and hashing

// Writes all size bytes to fd. Returns false with errno set on failure.
bool write_all(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

}  // namespace

std::string export_relative_path(const std::string& recording_path) {
  if (recording_path.compare(0, kMountPrefix.size(), kMountPrefix) == 0)
    return recording_path.substr(kMountPrefix.size());
  return fs::path(recording_path).filename().string();
}

ExportFolder::ExportFolder(const std::string& dir)
    : dir_(dir), sums_(dir), hash_(kReadBlockBytes, kPipelineBlocks) {}

bool ExportFolder::open(std::string& error) {
  std::error_code ec;
  fs::create_directories(dir_, ec);
  if (ec || !fs::is_directory(dir_)) {
    error = concat({"cannot create the folder ", dir_});
    return false;
  }
  return sums_.load(error);
}

std::string ExportFolder::target_of(const std::string& recording_path) const {
  return (fs::path(dir_) / export_relative_path(recording_path)).string();
}

CopyStatus ExportFolder::copy(const TreeEntry& rec, const BlockFn& on_block, std::string& error) {
  const fs::path target = target_of(rec.path);
  RecordingReader reader;
  if (!reader.open(rec.path, rec.size, error)) return CopyStatus::kSourceFailed;
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  if (ec) {
    error = concat({"cannot create ", target.parent_path().string(), ": ", ec.message()});
    return CopyStatus::kTargetFailed;
  }
  const fs::path temp = target.parent_path() / concat({".", target.filename().string(), ".part"});
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = concat({"cannot create ", target.string(), ": ", std::strerror(errno)});
    return CopyStatus::kTargetFailed;
  }
  int write_error = 0;
  bool cancelled = false;
  bool zeros = true;  // every byte so far is zero
  for (;;) {
    uint8_t* block = hash_.take();
    const uint32_t n = reader.read(block);
    if (n == 0 || !write_all(fd, block, n)) {
      if (n != 0) write_error = errno ? errno : EIO;
      hash_.give_back(block);
      break;
    }
    zeros = zeros && all_zero(block, n);
    hash_.submit(block, n);
    if (on_block && !on_block(n)) {
      cancelled = true;
      break;
    }
  }
  const std::string hex = hash_.digest();
  if (::close(fd) != 0 && write_error == 0) write_error = errno;
  CopyStatus status = CopyStatus::kCopied;
  if (cancelled) {
    status = CopyStatus::kCancelled;
  } else if (write_error != 0) {
    status = CopyStatus::kTargetFailed;
    error = concat({"cannot write ", target.string(), ": ", std::strerror(write_error)});
  } else if (!reader.complete(error)) {
    status = CopyStatus::kSourceFailed;
  } else if (std::rename(temp.c_str(), target.c_str()) != 0) {
    status = CopyStatus::kTargetFailed;
    error = concat({"cannot write ", target.string(), ": ", std::strerror(errno)});
  }
  if (status == CopyStatus::kCopied) {
    sums_.set(export_relative_path(rec.path), hex);
    last_sha256_ = hex;
    last_all_zero_ = zeros && rec.size > 0;
    return status;
  }
  ::unlink(temp.c_str());
  return status;
}

void ExportFolder::add_sum(const std::string& relative, const std::string& hex) { sums_.set(relative, hex); }

bool ExportFolder::close(std::string& error) { return sums_.save(error); }
