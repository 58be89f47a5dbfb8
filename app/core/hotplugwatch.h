// CHotPlugWatch -- tells when a recorder disk may have come or gone, without polling.
//
// Two kinds of notification reach it: the kernel's device events (a netlink socket of the
// kernel's uevents: a whole-disk block device added, removed or changed -- a USB disk plugged
// in, a loop device given a file) and changes of the folders disk images are taken from
// (inotify: a file created, moved in or out, deleted, or closed after writing; a folder that
// does not exist yet is watched for in its parent). Its thread ("HotPlugWatch") sleeps in poll()
// on them and calls the owner's callback for each batch of events; the owner then counts the
// disks. Where the system refuses a notification (no netlink in the sandbox, no inotify
// instance left), Notifying() is false and the owner keeps a slow poll instead.
#pragma once

#include <infra/thread.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class CHotPlugWatch : public infra::CThread {
 public:
  // onChange runs on the watch's thread after each batch of events; it must return quickly
  // (the owner hands the count to a timer).
  explicit CHotPlugWatch(std::function<void()> onChange);
  // Stops the thread (with wait) and closes the notification handles.
  ~CHotPlugWatch() override;

  // Replaces the watched folders (absolute paths; duplicates and empty names are ignored).
  // Safe from any thread.
  void SetFolders(const std::vector<std::string>& folders);
  // True when both the device events and every folder watch are in place: no poll needed.
  bool Notifying() const;

 protected:
  void ThreadProc() override;

 private:
  // Re-adds the folder watches (under m_lock): each folder, or its nearest existing parent.
  void WatchFoldersLocked();
  // Reads the pending device events; true when one concerns a whole disk.
  bool ReadDeviceEvents();
  // Reads the pending folder events; true when there was one.
  bool ReadFolderEvents();

  std::function<void()> m_onChange;
  int m_nDevices = -1;                    // netlink socket of the kernel's device events, or -1
  int m_nFolders = -1;                    // inotify instance, or -1
  int m_nStop = -1;                       // eventfd that ends the poll (Stop and SetFolders)
  mutable std::mutex m_lock;              // leaf: the fields below
  std::vector<std::string> m_folders;     // folders asked for
  std::map<int, std::string> m_watches;   // inotify watch descriptor -> watched path
  bool m_bFoldersWatched = true;          // every folder (or a parent) has its watch
};
