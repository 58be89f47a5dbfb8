// How many video windows the engine keeps in real time while painting into the grid.
//
// For N = 1, 4, 9, 16, 25, 36, 49 and 64 windows the program shows a video grid (CVideoWindow, 1280 × 960
// by default, on the offscreen platform unless QT_QPA_PLATFORM says otherwise) with N windows and
// plays one recording in every window, each by its own player (CPlayer on the real engine,
// reading the file through the virtual file table) as the viewer does. The recording is made with
// the ffmpeg command line: 704×576 at 25 frames per second as recorders write it (streams.h), 10 s;
// --stream=PATH plays another one.
//
// A picture is shown when its pane starts painting it on the user-interface thread. It is due at
// the time its stamp gives it, counted from the moment the window's first picture was handed to
// the pane. For every N the program reports (Google Benchmark counters, all windows together):
//   pictures  pictures the engine handed to the panes
//   late      pictures painted more than one frame interval after they were due
//   unshown   pictures replaced by the next one before their pane painted (never on screen)
//   worst_ms  the largest lateness of a painted picture, in milliseconds
//   late_after_1s, unshown_after_1s   the same two counts without each window's first second,
//             when all windows start together and every port decodes its start lead at once
//   passed    pictures the engine decoded but passed over because the next one was due as well
//             (a port that fell behind; never handed to the pane, so not in `pictures`), and
//             passed_after_1s without each window's first second
//   cpu_ms    processor time the whole program used per picture (all threads: reading, decoding,
//             scaling, painting), in milliseconds
// and at the end a table and the largest N that had no late and no unshown picture. The goal is
// all 36 windows. Before the runs the program decodes the recording once with FFmpeg's libraries
// alone (one thread, no scaling, no drawing) and notes their processor time per picture, the
// floor of any player: the table gives cpu_ms as a multiple of it (counter cpu_vs_ffmpeg; the
// goal is 1.15 or less). Lateness depends on everything else the machine runs at the time; processor
// time per picture much less, so the table also gives the windows the machine's processors could
// carry at that cost (processors × 1000 / (25 × cpu_ms)), a figure to read next to the first one
// on a busy machine.
//
//   grid_bench [--stream=PATH] [--seconds=S] [--size=WxH] [benchmark options]
#include <QApplication>

#include <sys/resource.h>

#include <benchmark/benchmark.h>
#include <infra/infra.h>
#include <lumenpane/videowindow.h>
#include <tarnvox/tarnvox.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gridprobe.h"
#include "localrecordings.h"
#include "player.h"
#include "streams.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

using benchsupport::CPaneWatcher;
using benchsupport::CpuMsPerPicture;
using benchsupport::CWindowProbe;
using benchsupport::GridResult;
using benchsupport::ProcessCpuSeconds;
using benchsupport::RunEventsWhile;
using lumenpane::CVideoPane;
using lumenpane::CVideoWindow;

constexpr int kWindowCounts[] = {1, 4, 9, 16, 25, 36, 49, 64};

std::string g_stream;        // the recording every window plays
int g_seconds = 10;          // its length when the program makes it
QSize g_gridSize(1280, 960);  // the grid's size in pixels
double g_ffmpegMs = 0;        // FFmpeg's libraries alone: processor time per picture, ms

// Processor time of the calling thread so far, in seconds.
double ThreadCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Decodes the video of the recording at `path` with FFmpeg's libraries alone on this thread (one
// decoder thread, nothing converted or drawn) and gives the processor time per picture in
// milliseconds, reading and demuxing included; 0 when it cannot.
double FfmpegDecodeMsPerPicture(const std::string& path) {
  const double start = ThreadCpuSeconds();
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return 0;
  long pictures = 0;
  const AVCodec* codec = nullptr;
  const int video = avformat_find_stream_info(fmt, nullptr) < 0
                        ? -1
                        : av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  AVCodecContext* ctx = video >= 0 ? avcodec_alloc_context3(codec) : nullptr;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  if (ctx && packet && frame && avcodec_parameters_to_context(ctx, fmt->streams[video]->codecpar) >= 0) {
    ctx->thread_count = 1;
    if (avcodec_open2(ctx, codec, nullptr) >= 0) {
      auto receive = [&] {
        while (avcodec_receive_frame(ctx, frame) >= 0) ++pictures;
      };
      while (av_read_frame(fmt, packet) >= 0) {
        if (packet->stream_index == video && avcodec_send_packet(ctx, packet) >= 0) receive();
        av_packet_unref(packet);
      }
      avcodec_send_packet(ctx, nullptr);
      receive();
    }
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&ctx);
  avformat_close_input(&fmt);
  return pictures > 0 ? (ThreadCpuSeconds() - start) * 1000.0 / static_cast<double>(pictures) : 0;
}

// Plays the recording in `windows` windows of a fresh grid until every run has ended.
// False when a player did not start or the runs did not end in time.
bool PlayGrid(int windows, GridResult& result) {
  benchsupport::CLocalRecordings recordings;
  if (!recordings.ok()) return false;
  CVideoWindow grid;
  grid.resize(g_gridSize);
  grid.SetWndCount(windows);
  grid.show();
  RunEventsWhile([&] { return grid.GetWndHandle(windows - 1)->targetSize().isEmpty(); }, 5000);

  std::vector<std::unique_ptr<CWindowProbe>> probes;
  CPaneWatcher watcher(probes, result);
  std::vector<std::unique_ptr<CPlayer>> players;
  const double cpuAtStart = ProcessCpuSeconds();
  bool started = true;
  for (int i = 0; i < windows; ++i) {
    CVideoPane* pane = grid.GetWndHandle(i);
    probes.push_back(std::make_unique<CWindowProbe>(pane));
    pane->installEventFilter(&watcher);
    TvxPortOptions options;
    CWindowProbe* probe = probes.back().get();
    options.onVideoFrame = [probe](const TvxVideoFrame& f) { probe->OnVideoFrame(f); };
    tvx_set_port_options(i, options);
    players.push_back(std::make_unique<CPlayer>(probe, i));
    started = started && players.back()->Open(recordings.Serve(g_stream, i + 1, g_seconds)) == 1;
  }
  auto running = [&] {
    return std::any_of(players.begin(), players.end(), [](const auto& p) { return !p->IsStopped(); });
  };
  if (started) RunEventsWhile(running, (g_seconds * 4 + 30) * 1000);
  const bool ended = !running();
  players.clear();  // stops any run still going and waits for it
  result.cpuSeconds = ProcessCpuSeconds() - cpuAtStart;
  for (int i = 0; i < windows; ++i) {
    grid.GetWndHandle(i)->removeEventFilter(&watcher);
    tvx_set_port_options(i, TvxPortOptions());
    probes[i]->Finish(result);
  }
  return started && ended;
}

std::map<int, GridResult> g_results;  // windows -> result of its run

void BM_Grid(benchmark::State& state) {
  const int windows = static_cast<int>(state.range(0));
  GridResult result;
  for (auto _ : state) {
    result = GridResult();
    if (!PlayGrid(windows, result)) {
      state.SkipWithError("a player did not start or its run did not end");
      return;
    }
  }
  g_results[windows] = result;
  benchsupport::SetGridCounters(state, result);
  if (g_ffmpegMs > 0) state.counters["cpu_vs_ffmpeg"] = CpuMsPerPicture(result) / g_ffmpegMs;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["rss_mb"] = static_cast<double>(usage.ru_maxrss) / 1024.0;  // peak so far
}

void RegisterRuns() {
  auto* b = benchmark::RegisterBenchmark("BM_Grid", BM_Grid);
  b->ArgName("windows")->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
  for (int n : kWindowCounts) b->Arg(n);
}

void PrintSummary() {
  if (g_results.empty()) return;
  const int processors = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  std::printf("\nwindows  pictures      late   unshown  after 1 s: late unshown  worst late (ms)  "
              "cpu per picture (ms)  windows %d processors carry at that cost  x ffmpeg decode  "
              "passed over (after 1 s)\n",
              processors);
  int kept = 0, keptAfterStart = 0;
  bool keeping = true, keepingAfterStart = true;
  for (const auto& [windows, r] : g_results) {
    const double cpuMs = CpuMsPerPicture(r);
    std::printf("%7d %9ld %9ld %9ld %16ld %7ld %16.1f %21.2f %10.0f %40.2f %12ld (%ld)\n", windows,
                r.pictures, r.late, r.unshown, r.lateAfterStart, r.unshownAfterStart,
                static_cast<double>(r.worstUs) / 1000.0, cpuMs,
                cpuMs > 0 ? processors * 1000.0 / (25.0 * cpuMs) : 0.0,
                g_ffmpegMs > 0 ? cpuMs / g_ffmpegMs : 0.0, r.passed, r.passedAfterStart);
    keeping = keeping && r.late == 0 && r.unshown == 0 && r.passed == 0 && r.pictures > 0;
    if (keeping) kept = windows;
    keepingAfterStart = keepingAfterStart && r.lateAfterStart == 0 && r.unshownAfterStart == 0 &&
                        r.passedAfterStart == 0 && r.pictures > 0;
    if (keepingAfterStart) keptAfterStart = windows;
  }
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("windows kept in real time (no picture shown more than one frame interval late, "
              "none left unshown or passed over): %d (goal: 36); load average at the end %.2f\n",
              kept, load[0]);
  std::printf("the same after each window's first second (when every window starts at once): %d "
              "(goal: 36)\n",
              keptAfterStart);
  std::printf("FFmpeg's libraries alone decode the recording at %.2f ms of processor time per picture "
              "(one thread, best of three; goal for cpu per picture: 1.15 x that or less)\n",
              g_ffmpegMs);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest = benchsupport::ParseGridOptions(argc, argv, g_stream, g_seconds, g_gridSize);
  bool made = true;
  const std::string dir = benchsupport::MakeStreamUnlessGiven("grid_bench", g_stream, g_seconds, &made);
  if (!made) return 1;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  TvxPrepare();
  for (int i = 0; i < 3; ++i) {
    const double ms = FfmpegDecodeMsPerPicture(g_stream);
    if (ms > 0 && (g_ffmpegMs == 0 || ms < g_ffmpegMs)) g_ffmpegMs = ms;
  }

  RegisterRuns();
  int n = static_cast<int>(rest.size());
  benchmark::Initialize(&n, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintSummary();

  infra::CInfra::Instance()->stop();
  benchsupport::RemoveScratchFolder(dir);
  return 0;
}
