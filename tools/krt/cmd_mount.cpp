// krt mount MOUNTPOINT: the recordings as a read-only FUSE file system (mount_fs.h).
//
// The volume is brought up first, so a disk that cannot be read is reported before anything is
// mounted. The file system runs in the foreground (-f is accepted, as FUSE users type it)
// until it is unmounted (fusermount3 -u MOUNTPOINT, umount) or the tool is interrupted
// (SIGINT, SIGTERM, SIGHUP), which unmounts it; --background detaches once it is mounted.
// Requests are served by several threads; mount_fs serialises what reaches the library.
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "mount_fs.h"
#include "session.h"
#include "catalog/text.h"

namespace {

int op_getattr(const char* path, struct stat* st, fuse_file_info*) { return mount_fs::getattr(path, st); }

int op_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
  return mount_fs::readdir(path, [&](const char* name) { fill(buf, name, nullptr, 0, fuse_fill_dir_flags(0)); });
}

int op_open(const char* path, fuse_file_info* fi) {
  uint64_t handle = 0;
  const int r = mount_fs::open(path, fi->flags, handle);
  if (r == 0) {
    fi->fh = handle;
    fi->keep_cache = 1;  // a recording never changes while mounted
  }
  return r;
}

int op_read(const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  return mount_fs::read(fi->fh, buf, size, int64_t(offset));
}

int op_release(const char*, fuse_file_info* fi) { return mount_fs::release(fi->fh); }

int op_opendir(const char* path, fuse_file_info*) {
  struct stat st {};
  const int r = mount_fs::getattr(path, &st);
  return r != 0 ? r : S_ISDIR(st.st_mode) ? 0 : -ENOTDIR;
}

// Every change is refused; these only adapt the signatures.
int no_path(const char*) { return mount_fs::refuse_change(); }
int no_mode(const char*, mode_t) { return mount_fs::refuse_change(); }
int no_two_paths(const char*, const char*) { return mount_fs::refuse_change(); }
int no_rename(const char*, const char*, unsigned) { return mount_fs::refuse_change(); }
int no_mknod(const char*, mode_t, dev_t) { return mount_fs::refuse_change(); }
int no_chmod(const char*, mode_t, fuse_file_info*) { return mount_fs::refuse_change(); }
int no_chown(const char*, uid_t, gid_t, fuse_file_info*) { return mount_fs::refuse_change(); }
int no_truncate(const char*, off_t, fuse_file_info*) { return mount_fs::refuse_change(); }
int no_write(const char*, const char*, size_t, off_t, fuse_file_info*) { return mount_fs::refuse_change(); }
int no_create(const char*, mode_t, fuse_file_info*) { return mount_fs::refuse_change(); }
int no_utimens(const char*, const timespec*, fuse_file_info*) { return mount_fs::refuse_change(); }
int no_setxattr(const char*, const char*, const char*, size_t, int) { return mount_fs::refuse_change(); }
int no_removexattr(const char*, const char*) { return mount_fs::refuse_change(); }
int no_fallocate(const char*, int, off_t, off_t, fuse_file_info*) { return mount_fs::refuse_change(); }

fuse_operations operations() {
  fuse_operations ops{};
  ops.getattr = op_getattr;
  ops.readdir = op_readdir;
  ops.opendir = op_opendir;
  ops.open = op_open;
  ops.read = op_read;
  ops.release = op_release;
  ops.mknod = no_mknod;
  ops.mkdir = no_mode;
  ops.unlink = no_path;
  ops.rmdir = no_path;
  ops.symlink = no_two_paths;
  ops.link = no_two_paths;
  ops.rename = no_rename;
  ops.chmod = no_chmod;
  ops.chown = no_chown;
  ops.truncate = no_truncate;
  ops.write = no_write;
  ops.create = no_create;
  ops.utimens = no_utimens;
  ops.setxattr = no_setxattr;
  ops.removexattr = no_removexattr;
  ops.fallocate = no_fallocate;
  return ops;
}

// The absolute path of the mount point given, when it is an empty folder that is no mount
// point yet (FUSE and the unmount at the end need an absolute path: --background changes to
// "/", and the unmount runs from wherever the tool is). Returns "" with why set otherwise.
std::string usable_mount_point(const std::string& given, std::string& why) {
  char* real = ::realpath(given.c_str(), nullptr);
  if (!real) {
    why = concat({"cannot mount on ", given, ": ", std::strerror(errno)});
    return "";
  }
  const std::string path = real;
  std::free(real);
  struct stat st {}, parent {};
  const std::string up = path == "/" ? "/" : path.substr(0, std::max<size_t>(path.rfind('/'), 1));
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    why = concat({"cannot mount on ", given, ": it is not a folder (the mount point must be an empty folder)"});
  } else if (::stat(up.c_str(), &parent) != 0 || parent.st_dev != st.st_dev || path == "/") {
    why = concat({"cannot mount on ", given, ": it is a mount point already"});
  } else if (DIR* dir = ::opendir(path.c_str()); !dir) {
    why = concat({"cannot mount on ", given, ": ", std::strerror(errno)});
  } else {
    bool empty = true;
    while (const dirent* e = ::readdir(dir)) {
      empty = empty && (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0);
    }
    ::closedir(dir);
    if (!empty) why = concat({"cannot mount on ", given, ": the folder is not empty (the mount point must be an empty folder)"});
  }
  return why.empty() ? path : "";
}

}  // namespace

int cmd_mount(const CommandArgs& a) {
  bool background = false;
  for (const auto& [option, value] : a.values) background = background || option == "--background";
  std::string why;
  const std::string mountpoint = usable_mount_point(a.words[0], why);
  if (mountpoint.empty()) return fail(why);
  if (!bring_up_volume()) return kExitFailed;
  mount_fs::reset();

  // Read-only for the kernel too, and named after the tool in the mount table.
  std::vector<std::string> words = {"krt", "-o", "ro,fsname=krt,subtype=krt,default_permissions"};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  fuse_args args = FUSE_ARGS_INIT(int(argv.size()), argv.data());
  const fuse_operations ops = operations();
  fuse* fs = fuse_new(&args, &ops, sizeof ops, nullptr);
  if (!fs) return fail("cannot set up the file system");
  if (fuse_mount(fs, mountpoint.c_str()) != 0) {
    fuse_destroy(fs);
    return fail(concat({"cannot mount on ", mountpoint,
                        " (is /dev/fuse there and may this user mount? is the folder empty?)"}));
  }
  int status = kExitOk;
  if (fuse_daemonize(background ? 0 : 1) != 0) {
    status = fail("cannot go to the background");
  } else if (fuse_set_signal_handlers(fuse_get_session(fs)) != 0) {
    status = fail("cannot install the signal handlers");
  } else {
    // A loop ended by a signal answers the signal's number: an orderly end.
    if (fuse_loop_mt(fs, 0) < 0) status = fail("the file system stopped with an error");
    fuse_remove_signal_handlers(fuse_get_session(fs));
  }
  fuse_unmount(fs);
  fuse_destroy(fs);
  fuse_opt_free_args(&args);
  return status;
}
