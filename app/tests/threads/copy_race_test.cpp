// The copy dialog's work on its own thread while the record tree reruns the volume start-up (a
// disk plugged in or out) and lists its levels again on the user-interface thread. Built with
// ThreadSanitizer, a data race between the export and the rerun fails the run; in every build
// each copy run ends with every recording copied or skipped, never with a failure or a hang.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <krt_testing/scratch.h>

#include "copyjob.h"
#include "recordsearch.h"
#include "twodisks.h"

namespace {

using apptest::CTwoDisks;

TEST(CopyRaces, ExportRunsWhileTheVolumeStartUpIsRerunAndTheTreeListsAgain) {
  const CTwoDisks& disks = CTwoDisks::Get();
  disks.Attach();
  krt_testing::ScratchDir scratch;
  CCopyJob job = recordsearch::BuildCopyJob(recordsearch::kindPartition, "idea0");
  ASSERT_FALSE(job.IsEmpty());

  constexpr int kCopies = 4;
  std::vector<CCopyOutcome> outcomes(kCopies);
  std::atomic<bool> cancel{false};
  std::atomic<bool> copying{true};
  std::thread copier([&] {
    for (int i = 0; i < kCopies; ++i) {
      CCopyJob run = job;
      run.m_strFolder = scratch.path("export" + std::to_string(i));
      outcomes[size_t(i)] = RunCopyJob(run, cancel, [](uint64_t, uint64_t) {});
    }
    copying = false;
  });
  // The tree's side: reruns and a fresh listing of every level of the first disk's partition.
  int reruns = 0;
  while (copying || reruns < 3) {
    disks.Attach();
    ++reruns;
    for (const std::string& day : recordsearch::ChildLabels(0, {"idea0"}))
      for (const std::string& channel : recordsearch::ChildLabels(0, {"idea0", day}))
        EXPECT_FALSE(recordsearch::ChildLabels(0, {"idea0", day, channel}).empty());
  }
  copier.join();

  for (const CCopyOutcome& outcome : outcomes) {
    EXPECT_EQ(outcome.m_end, CCopyOutcome::endDone) << outcome.m_strError;
    EXPECT_EQ(size_t(outcome.m_nCopied + outcome.m_nSkipped), job.m_paths.size());
  }
  // Once the reruns are over, the same job copies everything.
  CCopyJob last = job;
  last.m_strFolder = scratch.path("after");
  const CCopyOutcome after = RunCopyJob(last, cancel, [](uint64_t, uint64_t) {});
  EXPECT_EQ(after.m_end, CCopyOutcome::endDone);
  EXPECT_EQ(size_t(after.m_nCopied), job.m_paths.size());
}

}  // namespace
