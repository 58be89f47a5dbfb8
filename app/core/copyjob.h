// The copy job: recordings of a recorder disk exported into a local folder.
//
// The record search tree fills a job for the item the user right-clicked (every recording under
// a partition, a day or a channel, or one recording) and the copy dialog runs it on a worker
// thread. Running it needs no window: RunCopyJob works on the calling thread and reports its
// progress through a function, so the dialog (and a test) decides where the news goes.
//
// A recording /mnt/idea0/2010-03-05/002/NAME lands in <folder>/idea0/2010-03-05/002/NAME. Each
// export writes a fresh, exact copy through a hidden temporary file renamed when complete, and
// adds the copies to <folder>/SHA256SUMS and <folder>/manifest.json: the same code as
// `krt export` (catalog/export.h, catalog/manifest.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CCopyJob {
  std::vector<std::string> m_paths;  // full recording paths under "/mnt", in the order found
  std::vector<uint64_t> m_sizes;     // the listed size of each, in bytes
  std::string m_strFolder;           // the target folder

  // Appends one recording with its listed size in bytes.
  void Add(const std::string& path, uint64_t bytes);
  // The size of recording i in whole KB (bytes / 1024, truncated).
  uint64_t SizeKB(size_t i) const { return m_sizes[i] / 1024; }
  // The sum of SizeKB over the job.
  uint64_t TotalKB() const;
  // True when the job holds no recording.
  bool IsEmpty() const { return m_paths.empty(); }
};

// How a run of a job ended.
struct CCopyOutcome {
  enum End {
    endDone,         // every recording was copied or skipped
    endCancelled,    // the cancel flag stopped it after a block; the file in progress is dropped
    endWriteFailed,  // a target could not be made or written: stopped there, nothing partial left
  };
  End m_end = endDone;
  int m_nCopied = 0;         // recordings copied
  int m_nSkipped = 0;        // recordings that could not be read (not opened, or read short)
  std::string m_strFailed;   // endWriteFailed: the target file that failed
  std::string m_strError;    // endWriteFailed: why (a system message naming the file)
  std::vector<std::string> m_allZero;  // recordings copied whose every byte is zero (no picture)
};

// Called after every block with the KB done so far and the job's total KB (done counts each
// block's bytes / 1024, truncated per block, as the progress bar shows them).
using CopyProgressFn = std::function<void(uint64_t doneKB, uint64_t totalKB)>;

// Runs the job on the calling thread: copies each recording in order, checks cancel after every
// block, and writes the folder's SHA256SUMS and manifest.json for the copies made (also after a
// cancel or a failure; not at all when nothing was copied). A recording that cannot be read is
// skipped and counted. A target that cannot be made or written stops the job. A folder that
// cannot be made, or a SHA256SUMS or manifest.json that cannot be read or written, ends as
// endWriteFailed naming that file.
CCopyOutcome RunCopyJob(const CCopyJob& job, const std::atomic<bool>& cancel,
                        const CopyProgressFn& progress);
