// Test support (see support.h).
#include "support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include <unistd.h>

namespace tvxtest {

namespace {

// Makes the recordings (or finds them made) and a scratch folder removed at the end.
class StreamsEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnvox-tests-XXXXXX";
        if (mkdtemp(tmpl))
            s_.scratch = tmpl;
        s_.dir = TVX_TEST_STREAMS;
        s_.ps = s_.dir + "/ps.mpg";
        s_.h264 = s_.dir + "/raw.h264";
        s_.ts = s_.dir + "/ts.ts";
        s_.mjpeg = s_.dir + "/pictures.mjpeg";
        s_.lpcm = s_.dir + "/lpcm.mpg";
        s_.ok = !s_.scratch.empty() && (complete(s_.dir) || make());
        // The H.265 recordings exist only where the command line has libx265.
        for (auto [member, name] : {std::pair{&Streams::hevc, "/raw.hevc"},
                                    std::pair{&Streams::tsHevc, "/hevc.ts"}})
            s_.*member = s_.ok && !readAll(s_.dir + name).empty() ? s_.dir + name : "";
    }
    void TearDown() override
    {
        if (!s_.scratch.empty())
            run("rm -rf '" + s_.scratch + "'");
    }
    static Streams s_;

private:
    static bool complete(const std::string& dir)
    {
        return !readAll(dir + "/complete").empty();
    }
    static bool ffmpeg(const std::string& args, const std::string& out)
    {
        std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" + out +
                          "' >/dev/null 2>&1";
        return std::system(cmd.c_str()) == 0;
    }
    // The H.265 recordings when the command line can encode H.265; true also when it cannot.
    static bool makeHevc(const std::string& aside)
    {
        if (run("ffmpeg -hide_banner -encoders 2>/dev/null").find("libx265") == std::string::npos)
            return true;
        const std::string video = "-f lavfi -i testsrc2=size=352x288:rate=25 ";
        const std::string x265 =
            "-c:v libx265 -preset ultrafast -x265-params log-level=none:bframes=2:keyint=25 ";
        return ffmpeg(video + "-t 3 " + x265 + "-f hevc", aside + "/raw.hevc") &&
               ffmpeg(video + "-f lavfi -i sine=frequency=440:sample_rate=16000 -t 3 " + x265 +
                          "-c:a aac -f mpegts",
                      aside + "/hevc.ts");
    }
    static bool make()
    {
        if (run("ffmpeg -hide_banner -encoders 2>/dev/null").find("libx264") == std::string::npos)
            return false;
        std::string aside = s_.dir + ".making-" + std::to_string(getpid());
        run("rm -rf '" + aside + "' && mkdir -p '" + aside + "'");
        const std::string video = "-f lavfi -i testsrc2=size=352x288:rate=25 ";
        const std::string x264 = "-c:v libx264 -preset ultrafast -bf 2 -g 25 ";
        bool made =
            ffmpeg(video + "-f lavfi -i sine=frequency=440:sample_rate=32000 -t 3 " + x264 +
                       "-c:a mp2 -b:a 64k -f mpeg",
                   aside + "/ps.mpg") &&
            ffmpeg(video + "-t 3 " + x264 + "-f h264", aside + "/raw.h264") &&
            ffmpeg(video + "-f lavfi -i sine=frequency=440:sample_rate=16000 -t 3 " + x264 +
                       "-c:a aac -f mpegts",
                   aside + "/ts.ts") &&
            ffmpeg(video + "-t 3 -c:v mjpeg -q:v 5 -f mjpeg", aside + "/pictures.mjpeg") &&
            ffmpeg("-f lavfi -i testsrc2=size=176x144:rate=25 "
                   "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 " + x264 +
                       "-c:a pcm_s16be -f mpeg",
                   aside + "/lpcm.mpg") &&
            makeHevc(aside) && !run("echo yes > '" + aside + "/complete' && echo ok").empty();
        // Whoever renames first wins; the others find the folder complete.
        if (made && std::rename(aside.c_str(), s_.dir.c_str()) == 0)
            return true;
        run("rm -rf '" + aside + "'");
        return complete(s_.dir);
    }
};

Streams StreamsEnvironment::s_;

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new StreamsEnvironment);

} // namespace

const Streams& streams()
{
    return StreamsEnvironment::s_;
}

std::vector<unsigned char> readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string run(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    return pclose(p) == 0 ? out : std::string();
}

std::string ffmpegFramemd5(const std::string& path)
{
    return run("ffmpeg -nostdin -hide_banner -loglevel error -i '" + path +
               "' -map 0:v:0 -f framemd5 - 2>/dev/null");
}

int framemd5Pictures(const std::string& text)
{
    int n = 0;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        if (text[pos] != '#')
            ++n;
        pos = end == std::string::npos ? text.size() : end + 1;
    }
    return n;
}

bool feed(int port, const std::vector<unsigned char>& bytes, size_t from, size_t to)
{
    to = std::min(to, bytes.size());
    for (size_t at = from; at < to;) {
        unsigned n = static_cast<unsigned>(std::min<size_t>(32768, to - at));
        if (TvxInputData(port, bytes.data() + at, n)) {
            at += n;
            continue;
        }
        if (TvxGetBufferValue(port, 2) == 0 && TvxGetBufferedData(port) == 0)
            return false; // not open
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool eventually(const std::function<bool()>& pred)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool start(int port, TvxFrameSink* sink, const TvxPortOptions& options)
{
    return tvx_set_port_options(port, options) && TvxOpenStream(port, nullptr, 0, 2'048'000) &&
           TvxSetStreamMode(port, 1) && TvxPlay(port, sink);
}

TvxPortOptions unlimited(std::atomic<int>* decoded)
{
    TvxPortOptions o;
    o.unlimited = true;
    if (decoded)
        o.onVideoFrame = [decoded](const TvxVideoFrame&) { ++*decoded; };
    return o;
}

} // namespace tvxtest
