// Running a copy job with the export shared with the `krt` tool.
#include "copyjob.h"

#include <catalog/export.h>
#include <catalog/manifest.h>

#include <vector>

void CCopyJob::Add(const std::string& path, uint64_t bytes) {
  m_paths.push_back(path);
  m_sizes.push_back(bytes);
}

uint64_t CCopyJob::TotalKB() const {
  uint64_t total = 0;
  for (size_t i = 0; i < m_sizes.size(); ++i) total += SizeKB(i);
  return total;
}

CCopyOutcome RunCopyJob(const CCopyJob& job, const std::atomic<bool>& cancel,
                        const CopyProgressFn& progress) {
  CCopyOutcome outcome;
  const auto failed = [&outcome](const std::string& file, const std::string& error) {
    outcome.m_end = CCopyOutcome::endWriteFailed;
    outcome.m_strFailed = file;
    outcome.m_strError = error;
  };
  ExportFolder folder(job.m_strFolder);
  std::string error;
  if (!folder.open(error)) {
    failed(job.m_strFolder, error);
    return outcome;
  }
  Manifest manifest(job.m_strFolder, "vendrel");
  if (!manifest.load(error)) {
    failed(job.m_strFolder + "/manifest.json", error);
    return outcome;
  }
  // Said as the tool's command line would say the same export.
  std::vector<std::string> words = {"vendrel", "export"};
  words.insert(words.end(), job.m_paths.begin(), job.m_paths.end());
  words.push_back(job.m_strFolder);
  manifest.begin(words);
  if (!manifest.add_sources(false, error)) {
    failed(job.m_strFolder + "/manifest.json", error);
    return outcome;
  }
  const uint64_t total = job.TotalKB();
  uint64_t done = 0;
  const ExportFolder::BlockFn onBlock = [&](uint32_t bytes) {
    done += bytes / 1024;
    if (progress) progress(done, total);
    return !cancel.load();
  };
  for (size_t i = 0; i < job.m_paths.size() && !cancel.load(); ++i) {
    const TreeEntry entry{"", job.m_paths[i], job.m_sizes[i]};
    const CopyStatus status = folder.copy(entry, onBlock, error);
    if (status == CopyStatus::kCopied) {
      ++outcome.m_nCopied;
      if (folder.last_all_zero()) outcome.m_allZero.push_back(entry.path);
      manifest.add_file(export_relative_path(entry.path), entry, folder.last_sha256(), entry.size, "",
                        folder.last_all_zero());
    } else if (status == CopyStatus::kSourceFailed) {
      ++outcome.m_nSkipped;
      manifest.add_failure(entry.path, error);
    } else if (status == CopyStatus::kTargetFailed) {
      failed(folder.target_of(entry.path), error);
      break;
    }
  }
  if (cancel.load() && outcome.m_end == CCopyOutcome::endDone) outcome.m_end = CCopyOutcome::endCancelled;
  if (outcome.m_nCopied > 0 && !folder.close(error) && outcome.m_end != CCopyOutcome::endWriteFailed)
    failed(job.m_strFolder + "/SHA256SUMS", error);
  if (outcome.m_nCopied > 0 && !manifest.save(error) && outcome.m_end != CCopyOutcome::endWriteFailed)
    failed(job.m_strFolder + "/manifest.json", error);
  return outcome;
}
