#include "hotplugwatch.h"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace {

constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM |
                                   IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr unsigned kKernelEvents = 1;  // the netlink group of the kernel's own device events

int OpenDeviceEvents() {
  const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
  if (fd < 0) return -1;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = kKernelEvents;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Whether one kernel device event ("ACTION@DEVPATH", then "KEY=VALUE" fields, each ended by a
// zero byte) is about a whole-disk block device.
bool IsDiskEvent(const char* data, size_t size) {
  bool block = false, disk = false;
  for (size_t at = 0; at < size;) {
    const std::string_view field(data + at, strnlen(data + at, size - at));
    block = block || field == "SUBSYSTEM=block";
    disk = disk || field == "DEVTYPE=disk";
    at += field.size() + 1;
  }
  return block && disk;
}

void Drain(int fd) {
  uint64_t value;
  while (read(fd, &value, sizeof value) > 0) {
  }
}

}  // namespace

CHotPlugWatch::CHotPlugWatch(std::function<void()> onChange)
    : infra::CThread("HotPlugWatch", 0, 0, 0),
      m_onChange(std::move(onChange)),
      m_nDevices(OpenDeviceEvents()),
      m_nFolders(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)),
      m_nStop(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (m_nStop >= 0) Start();
}

CHotPlugWatch::~CHotPlugWatch() {
  Stop(false);
  if (m_nStop >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(m_nStop, &one, sizeof one);
  }
  Join();
  for (int fd : {m_nDevices, m_nFolders, m_nStop})
    if (fd >= 0) close(fd);
}

void CHotPlugWatch::SetFolders(const std::vector<std::string>& folders) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_folders.clear();
  for (const std::string& f : folders)
    if (!f.empty() && std::find(m_folders.begin(), m_folders.end(), f) == m_folders.end())
      m_folders.push_back(f);
  WatchFoldersLocked();
}

bool CHotPlugWatch::Notifying() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_nStop >= 0 && m_nDevices >= 0 && m_nFolders >= 0 && m_bFoldersWatched;
}

void CHotPlugWatch::WatchFoldersLocked() {
  if (m_nFolders < 0) {
    m_bFoldersWatched = m_folders.empty();
    return;
  }
  for (const auto& [wd, path] : m_watches) inotify_rm_watch(m_nFolders, wd);
  m_watches.clear();
  m_bFoldersWatched = true;
  for (const std::string& folder : m_folders) {
    // A folder that is not there yet is watched for in its nearest existing parent; when it
    // appears, the watches are made again.
    std::filesystem::path at(folder);
    int wd = -1;
    for (; !at.empty(); at = at.parent_path()) {
      wd = inotify_add_watch(m_nFolders, at.c_str(), kFolderEvents | IN_ONLYDIR);
      if (wd >= 0 || at == at.parent_path()) break;
    }
    if (wd >= 0) m_watches[wd] = at.string();
    else m_bFoldersWatched = false;
  }
}

bool CHotPlugWatch::ReadDeviceEvents() {
  bool disk = false;
  char buffer[8192];
  for (;;) {
    const ssize_t n = recv(m_nDevices, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && errno == ENOBUFS) {  // events lost to a full buffer may have been about disks
      disk = true;
      continue;
    }
    if (n <= 0) return disk;
    disk = disk || IsDiskEvent(buffer, static_cast<size_t>(n));
  }
}

bool CHotPlugWatch::ReadFolderEvents() {
  bool any = false, rewatch = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = read(m_nFolders, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
      any = true;
      // A folder made, moved or gone: the watches may stand on the wrong inode now.
      rewatch = rewatch || (e->mask & (IN_ISDIR | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED));
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  if (rewatch) {
    std::lock_guard<std::mutex> lock(m_lock);
    WatchFoldersLocked();
  }
  return any;
}

void CHotPlugWatch::ThreadProc() {
  while (m_bLoop.load()) {
    pollfd fds[3] = {{m_nStop, POLLIN, 0}, {m_nDevices, POLLIN, 0}, {m_nFolders, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) continue;  // interrupted by a signal
    if (fds[0].revents) Drain(m_nStop);
    if (!m_bLoop.load()) break;
    const bool devices = (fds[1].revents & POLLIN) && ReadDeviceEvents();
    const bool folders = (fds[2].revents & POLLIN) && ReadFolderEvents();
    if ((devices || folders) && m_onChange) m_onChange();
  }
}
