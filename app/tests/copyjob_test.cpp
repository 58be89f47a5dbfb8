// The copy job on builder disks: exact copies that match `krt cat`, SHA256SUMS that
// `sha256sum -c` accepts, repeated exports, a target that cannot be written, unreadable
// sources, and a cancel.
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "copyjob.h"
#include "krt_testing/scratch.h"
#include "krt_testing/shell.h"
#include "recordsearch.h"
#include "twodisks.h"

namespace {

namespace fs = std::filesystem;
using apptest::CTwoDisks;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The files below a folder (relative paths), hidden ones included.
std::vector<std::string> FilesBelow(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), dir).string());
  std::sort(out.begin(), out.end());
  return out;
}

// While it lives, the calling thread writes files as an ordinary user would even when the
// tests run as root: it drops the capabilities that let root write into read-only folders.
class CNoOverride {
 public:
  CNoOverride() {
    m_header.version = _LINUX_CAPABILITY_VERSION_3;
    m_ok = ::syscall(SYS_capget, &m_header, m_saved) == 0;
    __user_cap_data_struct dropped[2] = {m_saved[0], m_saved[1]};
    dropped[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    m_ok = m_ok && ::syscall(SYS_capset, &m_header, dropped) == 0;
  }
  ~CNoOverride() {
    if (m_ok) ::syscall(SYS_capset, &m_header, m_saved);
  }

 private:
  __user_cap_header_struct m_header{};
  __user_cap_data_struct m_saved[2]{};
  bool m_ok = false;
};

class CopyJob : public testing::Test {
 protected:
  void SetUp() override { CTwoDisks::Get().Attach(); }

  // The job of the day 2010-04-01 of the second disk, into m_target.
  CCopyJob DayJob() const {
    CCopyJob job = recordsearch::BuildCopyJob(recordsearch::kindDay, "ideb0/2010-04-01");
    job.m_strFolder = m_target;
    return job;
  }

  CCopyOutcome Run(const CCopyJob& job) {
    m_blocks = 0;
    return RunCopyJob(job, m_cancel, [this](uint64_t done, uint64_t total) {
      ++m_blocks;
      EXPECT_LE(done, total);
    });
  }

  krt_testing::ScratchDir m_scratch;
  std::string m_target = m_scratch.path("export");
  std::atomic<bool> m_cancel{false};
  int m_blocks = 0;
};

TEST_F(CopyJob, ExportOfADayMatchesKrtCatAndItsSums) {
  const CCopyJob job = DayJob();
  ASSERT_EQ(job.m_paths.size(), 4u);
  for (int round = 0; round < 2; ++round) {  // the second export replaces, never appends
    SCOPED_TRACE(round);
    const CCopyOutcome outcome = Run(job);
    EXPECT_EQ(outcome.m_end, CCopyOutcome::endDone);
    EXPECT_EQ(outcome.m_nCopied, 4);
    EXPECT_EQ(outcome.m_nSkipped, 0);
    const CTwoDisks& disks = CTwoDisks::Get();
    std::vector<std::string> expected{"SHA256SUMS", "manifest.json"};
    for (size_t i = 0; i < job.m_paths.size(); ++i) {
      const std::string& path = job.m_paths[i];
      const std::string relative = path.substr(5);
      expected.push_back(relative);
      const std::string copy = ReadFile(fs::path(m_target) / relative);
      const std::string cat = krt_testing::shell_output(std::string("VENDREL_DISKS= '") + KRT_TOOL_PATH + "' -d '" + disks.m_paths[0] +
                                     "' -d '" + disks.m_paths[1] + "' cat '" + path + "'");
      EXPECT_EQ(copy.size(), job.m_sizes[i]) << path;
      EXPECT_TRUE(copy == cat) << path << " differs from krt cat";
      const std::vector<uint8_t> built = disks.Bytes(1, 0, fs::path(path).filename().string());
      EXPECT_TRUE(copy == std::string(built.begin(), built.end())) << path << " differs from what was recorded";
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesBelow(m_target), expected) << "no temporary file may stay";
    EXPECT_EQ(krt_testing::shell_output("cd '" + m_target + "' && sha256sum -c --quiet SHA256SUMS >/dev/null 2>&1 && echo ok"), "ok\n");
    const std::string sums = ReadFile(m_target + "/SHA256SUMS");
    EXPECT_EQ(std::count(sums.begin(), sums.end(), '\n'), 4) << "one line per file";
  }
}

// The viewer's export writes the manifest the tool writes for the same recordings: only the
// line naming the program differs.
TEST_F(CopyJob, ManifestEqualsTheToolsForTheSameExport) {
  const CCopyJob job = DayJob();
  ASSERT_EQ(Run(job).m_end, CCopyOutcome::endDone);
  const CTwoDisks& disks = CTwoDisks::Get();
  const std::string toolFolder = m_scratch.path("tool");
  std::string command = std::string("VENDREL_DISKS= '") + KRT_TOOL_PATH + "' -d '" + disks.m_paths[0] + "' -d '" +
                        disks.m_paths[1] + "' export";
  for (const std::string& path : job.m_paths) command += " '" + path + "'";
  ASSERT_EQ(std::system((command + " '" + toolFolder + "' 2>/dev/null").c_str()), 0) << command;

  // The lines of the export's own run (program, command line, times) differ; the rest is equal.
  const auto body = [](const std::string& manifest) {
    std::istringstream in(manifest);
    std::string out;
    for (std::string line; std::getline(in, line);) {
      bool run = false;
      for (const char* key : {"\"tool\":", "\"command_line\":", "\"started\":", "\"ended\":"})
        run = run || line.rfind(key, 0) == 0;
      if (!run) out += line + "\n";
    }
    return out;
  };
  const std::string viewer = ReadFile(m_target + "/manifest.json");
  const std::string tool = ReadFile(toolFolder + "/manifest.json");
  EXPECT_NE(viewer.find("\"tool\":\"vendrel\","), std::string::npos) << viewer;
  EXPECT_EQ(body(viewer), body(tool));
  EXPECT_NE(tool.find("\"first_cluster\""), std::string::npos) << tool;
}

TEST_F(CopyJob, ATargetThatCannotBeWrittenStopsTheJobAndLeavesNothing) {
  fs::create_directories(m_target);
  ::chmod(m_target.c_str(), 0555);
  CCopyOutcome outcome;
  {
    CNoOverride asUser;
    outcome = Run(DayJob());
  }
  ::chmod(m_target.c_str(), 0755);
  EXPECT_EQ(outcome.m_end, CCopyOutcome::endWriteFailed);
  EXPECT_EQ(outcome.m_nCopied, 0);
  EXPECT_EQ(outcome.m_strFailed, m_target + "/" + DayJob().m_paths[0].substr(5));
  EXPECT_NE(outcome.m_strError.find(m_target), std::string::npos) << outcome.m_strError;
  EXPECT_EQ(m_blocks, 0) << "a block that was not written is not counted";
  EXPECT_TRUE(FilesBelow(m_target).empty());
}

TEST_F(CopyJob, UnreadableRecordingsAreSkippedAndCounted) {
  CCopyJob job = DayJob();
  job.m_paths.insert(job.m_paths.begin() + 1, "/mnt/ideb0/2010-04-01/001/23.00.00-23.30.00[R][@7ff0][0].h264");
  job.m_sizes.insert(job.m_sizes.begin() + 1, 4096);
  const CCopyOutcome outcome = Run(job);
  EXPECT_EQ(outcome.m_end, CCopyOutcome::endDone);
  EXPECT_EQ(outcome.m_nCopied, 4);
  EXPECT_EQ(outcome.m_nSkipped, 1);
}

TEST_F(CopyJob, CancelStopsAfterTheBlockInProgressAndDropsThatFile) {
  fs::create_directories(m_target);
  std::ofstream(m_target + "/keep") << "an earlier file";
  int blocks = 0;
  const CCopyOutcome outcome = RunCopyJob(DayJob(), m_cancel, [&](uint64_t, uint64_t) {
    ++blocks;
    m_cancel = true;  // the user presses Cancel while the first block is written
  });
  EXPECT_EQ(outcome.m_end, CCopyOutcome::endCancelled);
  EXPECT_EQ(blocks, 1);
  EXPECT_EQ(outcome.m_nCopied, 0);
  EXPECT_EQ(FilesBelow(m_target), (std::vector<std::string>{"keep"}));
}

TEST_F(CopyJob, AFolderUnderSlashMntxIsALocalFolder) {
  // The recordings' prefix is "/mnt"; "/mntx..." is an ordinary path.
  const std::string local = "/mntx-vendrel-" + std::to_string(::getpid());
  CCopyJob job = recordsearch::BuildCopyJob(recordsearch::kindChannel, "ideb1/2010-04-02/041");
  job.m_strFolder = local;
  const CCopyOutcome outcome = Run(job);
  EXPECT_EQ(outcome.m_end, CCopyOutcome::endDone);
  EXPECT_EQ(outcome.m_nCopied, 1);
  EXPECT_TRUE(fs::exists(local + "/SHA256SUMS"));
  std::error_code ignored;
  fs::remove_all(local, ignored);
}

}  // namespace
