// Watching the video windows of a grid while players paint into them: when each picture was
// due and when its pane painted it, and the processor time the program used. Shared by the
// benchmarks that play recordings into video windows.
//
// A picture is shown when its pane starts painting it on the user-interface thread. It is due
// at the time its stamp gives it, counted from the moment the window's first picture was
// handed to the pane. A picture painted more than one frame interval after it was due is late;
// one replaced by the next before its pane painted is unshown.
#pragma once

#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QMutex>
#include <QTimer>

#include <sys/resource.h>

#include <benchmark/benchmark.h>
#include <lumenpane/videowindow.h>
#include <tarnvox/tarnvox.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "streams.h"

namespace benchsupport {

using lumenpane::CVideoPane;

constexpr int64_t kStartUs = 1000000;  // a window's first second, reported apart as well

inline int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// What one run of N windows gave, all windows together.
struct GridResult {
  long pictures = 0;   // handed to the panes
  long late = 0;       // painted more than one frame interval after their due time
  long unshown = 0;    // replaced before a paint
  long lateAfterStart = 0;     // of `late`, due after the window's first second
  long unshownAfterStart = 0;  // of `unshown`, replaced after the window's first second
  long passed = 0;             // decoded, passed over by the engine, never handed to the pane
  long passedAfterStart = 0;   // of `passed`, due after the window's first second
  int64_t worstUs = 0;  // largest lateness of a painted picture
  double cpuSeconds = 0;  // processor time of the program during the run, all threads
};

// Processor time the program has used so far, all threads, in seconds.
inline double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Processor time per picture in milliseconds; 0 without pictures.
inline double CpuMsPerPicture(const GridResult& r) {
  return r.pictures > 0 ? r.cpuSeconds * 1000.0 / static_cast<double>(r.pictures) : 0.0;
}

// Gives a run's counts as the benchmark's counters: pictures, late, unshown, late_after_1s,
// unshown_after_1s, passed, passed_after_1s, worst_ms and cpu_ms.
inline void SetGridCounters(benchmark::State& state, const GridResult& result) {
  state.counters["pictures"] = static_cast<double>(result.pictures);
  state.counters["late"] = static_cast<double>(result.late);
  state.counters["unshown"] = static_cast<double>(result.unshown);
  state.counters["late_after_1s"] = static_cast<double>(result.lateAfterStart);
  state.counters["unshown_after_1s"] = static_cast<double>(result.unshownAfterStart);
  state.counters["passed"] = static_cast<double>(result.passed);
  state.counters["passed_after_1s"] = static_cast<double>(result.passedAfterStart);
  state.counters["worst_ms"] = static_cast<double>(result.worstUs) / 1000.0;
  state.counters["cpu_ms"] = CpuMsPerPicture(result);
}

// One window under watch: the player's frame sink, standing between the engine and the pane.
// It passes every call on to the pane and notes when each picture was due; the pane's paints
// (PaneWatcher) then tell when it was shown.
class CWindowProbe : public TvxFrameSink {
 public:
  explicit CWindowProbe(CVideoPane* pane) : m_pane(pane) {}

  // Presentation thread: the picture about to be drawn (the port's onVideoFrame).
  void OnVideoFrame(const TvxVideoFrame& f) {
    const int64_t stampUs = f.pts * 1000000 * f.timeBaseNum / std::max(f.timeBaseDen, 1);
    if (m_anchorWallUs < 0) {
      m_anchorWallUs = NowUs();
      m_anchorStampUs = stampUs;
      m_intervalUs = f.frameRateNum > 0 ? int64_t{1000000} * f.frameRateDen / f.frameRateNum : 40000;
    }
    if (m_pending) {  // the picture before this one was not handed over: passed over
      QMutexLocker lock(&m_mutex);
      ++m_passed;
      if (m_nextDueUs - m_anchorWallUs >= kStartUs) ++m_passedAfterStart;
    }
    m_pending = true;
    m_nextDueUs = m_anchorWallUs + (stampUs - m_anchorStampUs);
  }

  // TvxFrameSink, presentation thread.
  QSize frameSize(QSize pictureSize) const override { return m_pane->frameSize(pictureSize); }
  void present(const QImage& picture) override {
    m_pending = false;
    {
      QMutexLocker lock(&m_mutex);
      ++m_presented;
      m_dueUs = m_nextDueUs;
      m_interval = m_intervalUs;
    }
    m_pane->present(picture);
  }

  // User-interface thread: the pane starts painting. Counts the newest picture as shown now.
  void OnPaint(GridResult& result) {
    const int64_t now = NowUs();
    QMutexLocker lock(&m_mutex);
    if (m_presented == m_painted) return;  // a repaint of the picture already counted
    result.unshown += m_presented - m_painted - 1;
    if (now - m_anchorWallUs >= kStartUs) result.unshownAfterStart += m_presented - m_painted - 1;
    m_painted = m_presented;
    const int64_t lateUs = now - m_dueUs;
    if (lateUs > m_interval) {
      ++result.late;
      if (m_dueUs - m_anchorWallUs >= kStartUs) ++result.lateAfterStart;
    }
    result.worstUs = std::max(result.worstUs, lateUs);
  }

  // After the run: pictures handed over, and those never painted.
  void Finish(GridResult& result) {
    QMutexLocker lock(&m_mutex);
    result.pictures += m_presented;
    result.unshown += m_presented - m_painted;
    result.unshownAfterStart += m_presented - m_painted;
    result.passed += m_passed;
    result.passedAfterStart += m_passedAfterStart;
  }

 private:
  CVideoPane* const m_pane;
  // presentation thread only
  int64_t m_anchorWallUs = -1;  // when the first picture came
  int64_t m_anchorStampUs = 0;  // its stamp
  int64_t m_intervalUs = 40000;  // one frame interval
  int64_t m_nextDueUs = 0;      // due time of the picture being drawn
  bool m_pending = false;       // a picture was announced and not yet handed over
  // guarded by m_mutex
  QMutex m_mutex;
  long m_presented = 0;  // pictures handed to the pane
  long m_painted = 0;    // the picture number painted last
  int64_t m_dueUs = 0;   // due time of the newest picture handed over
  int64_t m_interval = 40000;
  long m_passed = 0;             // pictures passed over by the engine
  long m_passedAfterStart = 0;   // of those, due after the first second
};

// Sees the paint events of the panes (user-interface thread).
class CPaneWatcher : public QObject {
 public:
  CPaneWatcher(std::vector<std::unique_ptr<CWindowProbe>>& probes, GridResult& result)
      : m_probes(probes), m_result(result) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      const int index = static_cast<CVideoPane*>(watched)->index();
      if (index < static_cast<int>(m_probes.size())) m_probes[index]->OnPaint(m_result);
    }
    return false;
  }

 private:
  std::vector<std::unique_ptr<CWindowProbe>>& m_probes;
  GridResult& m_result;
};

// Runs the event loop while busy() holds, at most timeoutMs. The user-interface thread sleeps in
// its event loop between paints, as the viewer's does; busy() is asked every 20 ms.
template <typename Pred>
void RunEventsWhile(Pred busy, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (!busy() || deadline.hasExpired()) loop.quit();
  });
  check.start(20);
  if (busy()) loop.exec();
}

// The options grid_bench and viewer_bench share: --stream=PATH (the recording every window
// plays), --seconds=S (its length when the program makes it, at least 1) and --size=WxH (the
// grid's size in pixels). Sets what argv gives and returns the other arguments, the program's
// name first, for Google Benchmark.
inline std::vector<char*> ParseGridOptions(int argc, char** argv, std::string& stream, int& seconds,
                                           QSize& gridSize) {
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a.starts_with("--stream=")) {
      stream = std::string(a.substr(9));
    } else if (a.starts_with("--seconds=")) {
      seconds = std::max(1, std::atoi(argv[i] + 10));
    } else if (a.starts_with("--size=")) {
      int w = 0, h = 0;
      if (std::sscanf(argv[i] + 7, "%dx%d", &w, &h) == 2 && w > 0 && h > 0) gridSize = QSize(w, h);
    } else {
      rest.push_back(argv[i]);
    }
  }
  return rest;
}

// When stream is empty, makes a recording of `seconds` seconds in a new scratch folder (named
// after program) and sets stream to it. Returns the scratch folder ("" when none was made);
// *ok is false, after a message naming program, when the recording cannot be made.
inline std::string MakeStreamUnlessGiven(const char* program, std::string& stream, int seconds, bool* ok) {
  *ok = true;
  if (!stream.empty()) return {};
  std::string scratch(program);  // grid_bench -> grid-bench
  std::replace(scratch.begin(), scratch.end(), '_', '-');
  std::string dir = MakeScratchFolder(scratch);
  stream = dir + "/recording.mpg";
  if (dir.empty() || !MakeRecorderStream(stream, seconds)) {
    std::fprintf(stderr, "%s: cannot make the recording (ffmpeg with libx264?)\n", program);
    RemoveScratchFolder(dir);
    *ok = false;
    return {};
  }
  return dir;
}

}  // namespace benchsupport
