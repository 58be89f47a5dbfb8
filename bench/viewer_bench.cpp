// The viewer's own window playing many recordings at once, next to the bare grid.
//
// For N = 4, 9, 16, 25 and 36 the program opens the main window (CVendrelDlg: menu, grid,
// control bar, tree area, its once-a-second status pass), chooses the layout for N as the
// record tree does for a synchronous playback (SetLayoutForCount) and starts one player per
// window through PlayFiles (windows from 32 on, beyond the synchronous table, through PlayFile
// on the focused window). Every window plays the same recording, made as grid_bench makes its
// own (704×576, 25 pictures per second) or given with --stream=PATH; grid_bench run on the same
// file gives the figures to compare with (scripts/viewer-bench.sh runs both).
//
// Reported per N (Google Benchmark counters, all windows together), as grid_bench does:
// pictures, late, unshown, late_after_1s, unshown_after_1s, passed, passed_after_1s, worst_ms,
// cpu_ms (processor time of the whole program per picture, window and status pass included),
// and rss_mb, the program's peak resident memory so far in MiB.
//
//   viewer_bench [--stream=PATH] [--seconds=S] [--size=WxH] [benchmark options]
// --size is the size of the grid of video windows (default 1280×960, as grid_bench's).
#include <QApplication>
#include <QMenuBar>

#include <benchmark/benchmark.h>
#include <infra/infra.h>
#include <lumenpane/videowindow.h>
#include <tarnvox/tarnvox.h>
#include <vfs/filetable.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "gridprobe.h"
#include "localrecordings.h"
#include "playbackcommands.h"
#include "playermanager.h"
#include "streams.h"
#include "vendreldlg.h"

namespace {

using benchsupport::CPaneWatcher;
using benchsupport::CWindowProbe;
using benchsupport::GridResult;
using lumenpane::CVideoWindow;

constexpr int kWindowCounts[] = {4, 9, 16, 25, 36};

std::string g_stream;         // the recording every window plays
std::map<int, TvxMemory> g_memory;  // windows -> what the engine held a few seconds in
int g_seconds = 10;           // its length when the program makes it
QSize g_gridSize(1280, 960);  // the grid's size in pixels

// Peak resident memory of the program so far, in MiB.
double PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Plays the recording in `windows` windows of a fresh main window until every run has ended.
bool PlayViewer(int windows, GridResult& result) {
  CVendrelDlg dialog;
  // The dialog's record tree brought the disks up and answers "/mnt" for them: the bench's
  // recordings answer it instead while the run lasts.
  RegisterFileOps("/mnt", nullptr);
  benchsupport::CLocalRecordings recordings;
  if (!recordings.ok()) return false;
  CVideoWindow* grid = dialog.VideoWindow();
  CPlaybackCommands* commands = dialog.Playback();
  const QSize frame = dialog.size() - dialog.ClientRect().size();
  dialog.resize(g_gridSize + QSize(CVendrelDlg::kTreeWidth, CVendrelDlg::kBarHeight) + frame);
  dialog.show();
  commands->SetLayoutForCount(windows);
  benchsupport::RunEventsWhile(
      [&] { return grid->GetWndHandle(windows - 1)->targetSize().isEmpty(); }, 5000);

  // Each window's player draws through a probe that notes when its pictures are due.
  std::vector<std::unique_ptr<CWindowProbe>> probes;
  CPaneWatcher watcher(probes, result);
  for (int i = 0; i < windows; ++i) {
    lumenpane::CVideoPane* pane = grid->GetWndHandle(i);
    probes.push_back(std::make_unique<CWindowProbe>(pane));
    pane->installEventFilter(&watcher);
    TvxPortOptions options;
    CWindowProbe* probe = probes.back().get();
    options.onVideoFrame = [probe](const TvxVideoFrame& f) { probe->OnVideoFrame(f); };
    tvx_set_port_options(i, options);
    CPlayerManager::Instance().CreatePlayer(probe, i);
  }

  const double cpuAtStart = benchsupport::ProcessCpuSeconds();
  SyncPlayTable table;
  const int synchronous = std::min(windows, static_cast<int>(table.size()));
  for (int i = 0; i < synchronous; ++i)
    table[static_cast<size_t>(i)] = recordings.Serve(g_stream, i + 1, g_seconds);
  commands->PlayFiles(table, synchronous);
  bool started = true;
  for (int i = synchronous; i < windows; ++i) {
    grid->SetCurWnd(i);
    started = started && commands->PlayFile(recordings.Serve(g_stream, i + 1, g_seconds)) == 1;
  }
  CPlayerManager& manager = CPlayerManager::Instance();
  auto running = [&] {
    for (int i = 0; i < windows; ++i)
      if (!manager.Player(i)->IsStopped()) return true;
    return false;
  };
  if (started) {
    // Where the memory goes, once every window plays.
    const auto sampleAt = std::chrono::steady_clock::now() + std::chrono::seconds(std::min(g_seconds, 3));
    benchsupport::RunEventsWhile([&] { return running() && std::chrono::steady_clock::now() < sampleAt; },
                                 10000);
    tvx_memory(-1, &g_memory[windows]);
    benchsupport::RunEventsWhile(running, (g_seconds * 4 + 30) * 1000);
  }
  const bool ended = !running();
  for (int i = 0; i < windows; ++i) manager.Close(i);
  result.cpuSeconds = benchsupport::ProcessCpuSeconds() - cpuAtStart;
  for (int i = 0; i < windows; ++i) {
    grid->GetWndHandle(i)->removeEventFilter(&watcher);
    tvx_set_port_options(i, TvxPortOptions());
    probes[static_cast<size_t>(i)]->Finish(result);
  }
  // The dialog goes and with it the players (their sinks, the probes, go after them).
  dialog.close();
  return started && ended;
}

std::map<int, GridResult> g_results;  // windows -> result of its run
std::map<int, double> g_rss;          // windows -> peak resident memory after its run, MiB

void BM_Viewer(benchmark::State& state) {
  const int windows = static_cast<int>(state.range(0));
  GridResult result;
  for (auto _ : state) {
    result = GridResult();
    if (!PlayViewer(windows, result)) {
      state.SkipWithError("a player did not start or its run did not end");
      return;
    }
  }
  g_results[windows] = result;
  g_rss[windows] = PeakRssMb();
  benchsupport::SetGridCounters(state, result);
  state.counters["rss_mb"] = g_rss[windows];
}

void PrintSummary() {
  if (g_results.empty()) return;
  std::printf("\nwindows  pictures      late   unshown  after 1 s: late unshown  worst late (ms)  "
              "cpu per picture (ms)  peak RSS (MiB)\n");
  for (const auto& [windows, r] : g_results)
    std::printf("%7d %9ld %9ld %9ld %16ld %7ld %16.1f %21.2f %15.0f\n", windows, r.pictures,
                r.late, r.unshown, r.lateAfterStart, r.unshownAfterStart,
                static_cast<double>(r.worstUs) / 1000.0, benchsupport::CpuMsPerPicture(r),
                g_rss[windows]);
  std::printf("\nwhere the engine's memory goes a few seconds in (MiB, all ports)\n"
              "windows  rings  queued pictures (images)  history pictures (MiB)  budget/port  "
              "picture buffers\n");
  constexpr double kMiB = 1024.0 * 1024.0;
  for (const auto& [windows, m] : g_memory)
    std::printf("%7d %6.1f %16zu (%5.1f) %17zu (%5.1f) %12.2f %16.1f\n", windows, m.ringBytes / kMiB,
                m.queuePictures, m.queueImageBytes / kMiB, m.historyPictures, m.historyBytes / kMiB,
                m.budgetBytes / kMiB, m.pictureBufferBytes / kMiB);
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("load average at the end %.2f (goals: peak RSS 600 MiB or less with 36 windows; "
              "cpu per picture 1.05 x grid_bench's or less)\n", load[0]);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest = benchsupport::ParseGridOptions(argc, argv, g_stream, g_seconds, g_gridSize);
  bool made = true;
  const std::string dir = benchsupport::MakeStreamUnlessGiven("viewer_bench", g_stream, g_seconds, &made);
  if (!made) return 1;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  TvxPrepare();
  infra::CInfra::Instance()->start();  // the record tree's hot-plug timer

  auto* b = benchmark::RegisterBenchmark("BM_Viewer", BM_Viewer);
  b->ArgName("windows")->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
  for (int n : kWindowCounts) b->Arg(n);
  int n = static_cast<int>(rest.size());
  benchmark::Initialize(&n, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintSummary();

  infra::CInfra::Instance()->stop();
  benchsupport::RemoveScratchFolder(dir);
  return 0;
}
