// Decoding throughput of the playback engine next to FFmpeg's command line, on the same stream
// with the same decoder thread count, in one run.
//
// The stream: an MPEG program stream as recorders write it — H.264 704×576 at 25 frames per
// second (x264, about 2 Mbit/s, B pictures) with MP2 sound, 40 s (1,000 pictures) — made with the
// ffmpeg command line in $TMPDIR (or /tmp) and removed at the end. --stream=PATH uses another
// recording instead; --threads=N sets the decoder threads of both (default 1).
//
//   BM_Engine     tvx_decode_headless over the file: the engine's private port probes, demuxes,
//                 decodes and hands every picture over, with no window at unlimited speed.
//   BM_FfmpegCli  ffmpeg -threads N -i FILE -map 0:v:0 -f null - (the process, start-up included).
//
// Both count "pictures" per second. After the runs the program prints the engine's throughput as
// a fraction of the command line's; the goal is 0.95 or more.
//
//   tarnvox_bench [--stream=PATH] [--threads=N] [benchmark options]
#include <tarnvox/tarnvox.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "streams.h"

namespace {

std::string g_stream;   // the recording decoded by both
int g_threads = 1;      // decoder threads of both
long g_pictures = 0;    // pictures in the recording (from the engine's first run)

long readFile(void* opaque, unsigned char* buffer, size_t length)
{
    auto* file = static_cast<FILE*>(opaque);
    size_t n = std::fread(buffer, 1, length, file);
    return n == 0 && std::ferror(file) ? -1 : static_cast<long>(n);
}

void BM_Engine(benchmark::State& state)
{
    long pictures = 0;
    for (auto _ : state) {
        FILE* file = std::fopen(g_stream.c_str(), "rb");
        if (!file) {
            state.SkipWithError("cannot open the stream");
            return;
        }
        pictures = tvx_decode_headless(readFile, file, g_threads, {});
        std::fclose(file);
        if (pictures <= 0) {
            state.SkipWithError("the engine decoded nothing");
            return;
        }
    }
    g_pictures = pictures;
    state.counters["pictures"] = benchmark::Counter(
        static_cast<double>(pictures) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}

void BM_FfmpegCli(benchmark::State& state)
{
    const std::string threads = std::to_string(g_threads);
    for (auto _ : state) {
        if (!benchsupport::RunQuiet({"ffmpeg", "-nostdin", "-v", "error", "-threads", threads,
                                     "-i", g_stream, "-map", "0:v:0", "-f", "null", "-"})) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
    }
    state.counters["pictures"] = benchmark::Counter(
        static_cast<double>(g_pictures) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Engine)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_FfmpegCli)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Keeps the real time per iteration of every run while printing as usual.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                seconds[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds; // name → real time per iteration (reporting unit)
};

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a.starts_with("--stream="))
            g_stream = std::string(a.substr(9));
        else if (a.starts_with("--threads="))
            g_threads = std::atoi(argv[i] + 10);
        else
            rest.push_back(argv[i]);
    }
    std::string dir;
    if (g_stream.empty()) {
        dir = benchsupport::MakeScratchFolder("tarnvox-bench");
        g_stream = dir + "/recording.mpg";
        if (dir.empty() || !benchsupport::MakeRecorderStream(g_stream, 40)) {
            std::fprintf(stderr, "tarnvox_bench: cannot make the stream (ffmpeg with libx264?)\n");
            benchsupport::RemoveScratchFolder(dir);
            return 1;
        }
    }
    int n = static_cast<int>(rest.size());
    benchmark::Initialize(&n, rest.data());
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    benchsupport::RemoveScratchFolder(dir);

    auto engine = collector.seconds.find("BM_Engine/min_time:2.000/real_time");
    auto cli = collector.seconds.find("BM_FfmpegCli/min_time:2.000/real_time");
    if (engine == collector.seconds.end() || cli == collector.seconds.end())
        return 0; // filtered out or failed: nothing to compare
    std::printf("engine throughput / ffmpeg throughput = %.3f (goal >= 0.95), %ld pictures, "
                "%d decoder thread(s)\n",
                cli->second / engine->second, g_pictures, g_threads);
    return 0;
}
