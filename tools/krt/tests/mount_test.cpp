// `krt mount` under a real kernel mount: every recording read through the mount point has the
// bytes an export copies (checked with sha256sum), every change fails with EROFS, and an
// unmount or an interrupt ends the tool with nothing left behind. Skipped, saying why, where
// FUSE cannot be used (no /dev/fuse, no right to mount).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tool_support.h"

extern char** environ;

namespace tool_test {
namespace {

namespace fs = std::filesystem;

// A running `krt mount`, unmounted and reaped when the object goes.
class Mounted {
 public:
  Mounted(const std::vector<std::string>& images, const std::string& mountpoint) : mountpoint_(mountpoint) {
    std::vector<std::string> args = {KRT_TOOL_PATH};
    for (const std::string& i : images) args.insert(args.end(), {"-d", i});
    args.insert(args.end(), {"mount", mountpoint});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    err_ = mountpoint + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::posix_spawn(&pid_, KRT_TOOL_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    // Up when the mount point lists a partition; given up when the tool ends first.
    for (int i = 0; i < 200 && pid_ > 0; ++i) {
      if (fs::exists(mountpoint + "/idea0")) {
        up_ = true;
        break;
      }
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        status_ = status;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~Mounted() {
    if (pid_ > 0) {
      shell("fusermount3 -u '" + mountpoint_ + "' 2>/dev/null");
      wait();
    }
  }

  bool up() const { return up_; }
  std::string why() const { return read_file(err_); }

  // Waits for the tool to end. Returns its wait status; -1 when it runs on after 10 seconds.
  int wait() {
    for (int i = 0; i < 200 && pid_ > 0; ++i) {
      if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return status_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status_, 0);
      pid_ = -1;
      return -1;
    }
    return status_;
  }
  pid_t pid() const { return pid_; }

 private:
  std::string mountpoint_;
  std::string err_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool up_ = false;
};

class Mount : public ::testing::Test {
 protected:
  void SetUp() override {
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) GTEST_SKIP() << "FUSE cannot be used here: /dev/fuse: " << std::strerror(errno);
    ::close(fd);
    mountpoint = dir / "mnt";
    fs::create_directories(mountpoint);
  }
  // Mounts the shared images; skips the test, saying why, when the system will not mount.
  std::unique_ptr<Mounted> mount() {
    auto m = std::make_unique<Mounted>(Images::get().paths, mountpoint);
    if (!m->up()) {
      const std::string why = m->why();
      if (why.find("cannot mount") != std::string::npos) {
        skipped = why;
        return nullptr;
      }
      ADD_FAILURE() << "krt mount did not come up: " << why;
      return nullptr;
    }
    return m;
  }
  TempDir dir;
  std::string mountpoint;
  std::string skipped;  // why the system would not mount
};

// Mounts into m, or ends the test: skipped with the tool's reason when the system will not mount.
#define MOUNT_OR_SKIP(m)                                   \
  auto m = mount();                                        \
  if (!m) {                                                \
    if (HasFailure()) return;                              \
    GTEST_SKIP() << "FUSE cannot mount here: " << skipped; \
  }

TEST_F(Mount, EveryRecordingReadsAsTheExportCopiesIt) {
  const ToolRun ex = run_tool(Images::get().args({"export", "/mnt", dir / "out"}));
  ASSERT_EQ(ex.status, 1) << "the second disk's broken recording is not copied: " << ex.err;
  MOUNT_OR_SKIP(m);
  // sha256sum over the mount point checks every line of the export's sums.
  const std::string sums = shell("cd '" + mountpoint + "' && sha256sum --quiet -c '" + (dir / "out") +
                                 "/SHA256SUMS' 2>&1; echo status $?");
  EXPECT_EQ(sums, "status 0\n");
  EXPECT_GT(read_file(dir / "out/SHA256SUMS").size(), 1000u);
  const std::string listed = shell("cd '" + mountpoint + "' && ls -l idea0/2010-03-05/001");
  for (const Placed& p : Images::get().recordings(0, 0, 2010, 3, 5, 0)) {
    EXPECT_NE(listed.find(std::to_string(Images::size(p)) + " "), std::string::npos) << listed;
  }
}

TEST_F(Mount, ChangesFailWithErofs) {
  MOUNT_OR_SKIP(m);
  const std::string channel = mountpoint + "/idea0/2010-03-05/001";
  const std::string file = channel + "/" + Images::name(Images::get().recordings(0, 0, 2010, 3, 5, 0)[0]);
  errno = 0;
  EXPECT_LT(::open(file.c_str(), O_WRONLY), 0);
  EXPECT_EQ(errno, EROFS) << "write";
  errno = 0;
  EXPECT_LT(::open((channel + "/new").c_str(), O_WRONLY | O_CREAT, 0644), 0);
  EXPECT_EQ(errno, EROFS) << "create";
  errno = 0;
  EXPECT_NE(::utimensat(AT_FDCWD, file.c_str(), nullptr, 0), 0);
  EXPECT_EQ(errno, EROFS) << "touch";
  errno = 0;
  EXPECT_NE(::mkdir((channel + "/folder").c_str(), 0755), 0);
  EXPECT_EQ(errno, EROFS) << "mkdir";
  errno = 0;
  EXPECT_NE(::unlink(file.c_str()), 0);
  EXPECT_EQ(errno, EROFS) << "rm";
  EXPECT_TRUE(fs::exists(file));
}

TEST_F(Mount, UnmountAndInterruptEndTheTool) {
  {
    MOUNT_OR_SKIP(m);
    shell("fusermount3 -u '" + mountpoint + "'");
    const int status = m->wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  auto m = mount();
  ASSERT_TRUE(m);
  ::kill(m->pid(), SIGINT);
  const int status = m->wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(fs::exists(mountpoint + "/idea0")) << "the interrupt unmounted it";
}

// A mount point given relative to the working folder is made absolute first, so the
// unmount on SIGTERM finds it and leaves no dead mount behind.
TEST_F(Mount, ARelativeMountPointIsUnmountedOnTermination) {
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  auto m = std::make_unique<Mounted>(Images::get().paths, "mnt");
  fs::current_path(before);
  if (!m->up()) {
    const std::string why = read_file(dir / "mnt.err");
    if (why.find("(is /dev/fuse there") != std::string::npos) GTEST_SKIP() << "FUSE cannot mount here: " << why;
    FAIL() << "krt mount did not come up: " << why;
  }
  ::kill(m->pid(), SIGTERM);
  const int status = m->wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << read_file(dir / "mnt.err");
  EXPECT_EQ(read_file(dir / "mnt.err"), "");
  EXPECT_EQ(read_file("/proc/self/mounts").find(" " + mountpoint + " "), std::string::npos) << "no dead mount";
  EXPECT_FALSE(fs::exists(mountpoint + "/idea0"));
}

}  // namespace
}  // namespace tool_test
