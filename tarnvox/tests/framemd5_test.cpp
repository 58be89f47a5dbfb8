// The headless run of the engine gives the same pictures as FFmpeg's command line, line for line
// in framemd5 form.
#include "support.h"

#include <cstdio>

using namespace tvxtest;

namespace {

std::string ours(const std::string& path, int threads)
{
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    long n = tvx_framemd5_file(path.c_str(), out, threads);
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return n < 0 ? "failed" : result;
}

struct Md5Case {
    const char* name;
    std::string Streams::*path;
    int threads;
};

void PrintTo(const Md5Case& c, std::ostream* os)
{
    *os << c.name;
}

class Framemd5 : public ::testing::TestWithParam<Md5Case> {};

TEST_P(Framemd5, MatchesFfmpegLineForLine)
{
    const std::string& path = streams().*GetParam().path;
    TVX_NEED_STREAM(path);
    std::string reference = ffmpegFramemd5(path);
    ASSERT_EQ(framemd5Pictures(reference), GetParam().threads ? 75 : 50);
    EXPECT_EQ(ours(path, GetParam().threads), reference);
}

INSTANTIATE_TEST_SUITE_P(Streams, Framemd5,
                         ::testing::Values(Md5Case{"ps", &Streams::ps, 1},
                                           Md5Case{"ps_two_threads", &Streams::ps, 2},
                                           Md5Case{"h264", &Streams::h264, 1},
                                           Md5Case{"ts", &Streams::ts, 1},
                                           Md5Case{"mjpeg", &Streams::mjpeg, 1},
                                           Md5Case{"lpcm_auto_threads", &Streams::lpcm, 0},
                                           Md5Case{"hevc", &Streams::hevc, 1},
                                           Md5Case{"hevc_in_ts", &Streams::tsHevc, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Framemd5Errors, UnreadableInputIsMinusOne)
{
    EXPECT_EQ(tvx_framemd5_file("/nonexistent/recording.h264", stdout, 1), -1);
    EXPECT_EQ(tvx_framemd5(nullptr, nullptr, stdout, 1), -1);
    auto failing = [](void*, unsigned char*, size_t) -> long { return -1; };
    EXPECT_EQ(tvx_framemd5(failing, nullptr, stdout, 1), -1);
    auto empty = [](void*, unsigned char*, size_t) -> long { return 0; };
    EXPECT_EQ(tvx_framemd5(empty, nullptr, stdout, 1), 0);
}

} // namespace
