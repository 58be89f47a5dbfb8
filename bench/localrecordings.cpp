// Local files played by players under recording names (see localrecordings.h).
#include "localrecordings.h"

#include <cstdio>
#include <map>
#include <mutex>

#include <vfs/filetable.h>

namespace benchsupport {

namespace {

std::mutex g_mutex;
std::map<std::string, std::string> g_files;  // recording path -> local file; g_mutex

FSHandle OpenServed(const char* path, const char* mode) {
  std::string local;
  {
    std::lock_guard lock(g_mutex);
    const auto it = g_files.find(path);
    if (it == g_files.end()) return nullptr;
    local = it->second;
  }
  return DefaultFileOps()->open(local.c_str(), mode);
}

}  // namespace

CLocalRecordings::CLocalRecordings() {
  FileOps ops = *DefaultFileOps();
  ops.open = OpenServed;
  m_bRegistered = RegisterFileOps("/mnt", &ops);
}

CLocalRecordings::~CLocalRecordings() {
  if (m_bRegistered) RegisterFileOps("/mnt", nullptr);
  std::lock_guard lock(g_mutex);
  g_files.clear();
}

std::string CLocalRecordings::Serve(const std::string& file, int channel, int seconds) {
  const int end = 8 * 3600 + (seconds < 0 ? 0 : seconds > 16 * 3600 - 1 ? 16 * 3600 - 1 : seconds);
  char path[96];
  std::snprintf(path, sizeof path, "/mnt/idea0/2010-03-05/%03d/08.00.00-%02d.%02d.%02d[R][@1][0].h264",
                channel, end / 3600, end / 60 % 60, end % 60);
  std::lock_guard lock(g_mutex);
  g_files[path] = file;
  return path;
}

}  // namespace benchsupport
