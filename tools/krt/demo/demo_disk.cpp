// The demo recorder disk: encode the day's recordings on every processor, then build the image.
#include "demo_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>

#include "recording_encoder.h"

namespace krtdemo {
namespace {

using krt_testing::DemoRecording;
using Bytes = std::shared_ptr<const std::vector<uint8_t>>;

// Refuses a path that exists and is not a regular file of this user, and one where no file
// can be made. Returns false with `error` set.
bool path_is_usable(const std::string& path, std::string& error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
      error = path + " exists and is not a regular file of this user";
      return false;
    }
    return true;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  return true;
}

// What makes two recordings' pictures the same: the display's channel and times, the view,
// the walker and the stream.
auto content_of(const DemoRecording& r) {
  return std::make_tuple(r.channel, r.start, r.end, r.kind, int(r.picture), int(r.stream), r.sound);
}

// Encodes jobs[i] into out[jobs[i]] for every i, on `workers` threads. Returns the first error,
// empty when all went well.
std::string encode_all(const std::vector<DemoRecording>& recordings, const std::vector<size_t>& jobs,
                       std::vector<Bytes>& out, int workers) {
  std::atomic<size_t> next{0};
  std::mutex error_lock;
  std::string first_error;
  auto work = [&] {
    for (size_t i = next++; i < jobs.size(); i = next++) {
      std::string error;
      std::vector<uint8_t> bytes = encode_recording(recordings[jobs[i]], error);
      if (bytes.empty()) {
        const std::lock_guard<std::mutex> hold(error_lock);
        if (first_error.empty()) first_error = error.empty() ? "encoding failed" : error;
        next = jobs.size();
        return;
      }
      out[jobs[i]] = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    }
  };
  std::vector<std::thread> threads;
  for (int t = 1; t < workers; ++t) threads.emplace_back(work);
  work();
  for (std::thread& t : threads) t.join();
  return first_error;
}

}  // namespace

DemoResult make_demo_disk(const std::string& path, const DemoOptions& options) {
  DemoResult result;
  if (!path_is_usable(path, result.error)) return result;
  result.recordings = krt_testing::demo_recordings(options.short_recordings);
  const std::vector<DemoRecording>& recordings = result.recordings;

  // Which recordings need pictures: not those the current lap overwrote, and each content once.
  const krt_testing::BuildResult plan = krt_testing::plan_image(krt_testing::demo_disk({}, options.short_recordings));
  if (!plan.ok) {
    result.error = "the demo disk does not lay out: " + plan.error;
    return result;
  }
  const std::vector<const krt_testing::FilePlacement*> placed = krt_testing::demo_placements(plan, recordings);
  std::vector<size_t> jobs;
  std::vector<size_t> same_as(recordings.size(), SIZE_MAX);
  std::map<decltype(content_of(recordings[0])), size_t> first_with;
  for (size_t i = 0; i < recordings.size(); ++i) {
    if (placed[i] && placed[i]->overwritten) {
      ++result.overwritten;
      continue;
    }
    const auto [it, added] = first_with.emplace(content_of(recordings[i]), i);
    if (added) {
      jobs.push_back(i);
    } else {
      same_as[i] = it->second;
      ++result.reused;
    }
  }
  result.encoded = jobs.size();

  std::vector<Bytes> payloads(recordings.size());
  const unsigned processors = std::thread::hardware_concurrency();
  const int workers = options.workers > 0 ? options.workers : int(processors ? processors : 1);
  result.error = encode_all(recordings, jobs, payloads, workers);
  if (!result.error.empty()) return result;
  for (size_t i = 0; i < recordings.size(); ++i)
    if (same_as[i] != SIZE_MAX) payloads[i] = payloads[same_as[i]];

  result.built = krt_testing::build_image(krt_testing::demo_disk(payloads, options.short_recordings), path);
  result.ok = result.built.ok;
  if (!result.ok) result.error = result.built.error;
  return result;
}

}  // namespace krtdemo
