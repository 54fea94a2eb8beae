// The movie recorder, checked through ffprobe and ffmpeg as independent readers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "recording/movie_recorder.h"

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

namespace {

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char block[65536];
    for (size_t n; pipe && (n = std::fread(block, 1, sizeof block, pipe)) > 0;)
        out.append(block, n);
    if (pipe) pclose(pipe);
    return out;
}

// One line per field: format, codec, width, height, rates, frames read.
std::string probe(const fs::path& movie) {
    return run(
        "ffprobe -v error -count_frames -show_entries format=format_name:stream=codec_name,"
        "width,height,r_frame_rate,avg_frame_rate,nb_read_frames -of csv=p=0 '" +
        movie.string() + "'");
}

std::string firstFrameRgb(const fs::path& movie) {
    return run("ffmpeg -v error -i '" + movie.string() +
               "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
}

Bytes solid(int width, int height, const Bytes& value) {
    Bytes pixels;
    for (int i = 0; i < width * height; ++i)
        pixels.insert(pixels.end(), value.begin(), value.end());
    return pixels;
}

void expectNear(const std::string& rgb, size_t pixel, int red, int green, int blue) {
    ASSERT_GE(rgb.size(), 3 * pixel + 3);
    const auto* p = reinterpret_cast<const unsigned char*>(rgb.data()) + 3 * pixel;
    EXPECT_TRUE(std::abs(p[0] - red) <= 8 && std::abs(p[1] - green) <= 8 &&
                std::abs(p[2] - blue) <= 8)
        << "pixel " << pixel << ": " << int(p[0]) << "," << int(p[1]) << "," << int(p[2]);
}

// A frame that ends right before an inaccessible page: reading past it crashes.
struct GuardedFrame {
    explicit GuardedFrame(const Bytes& content) : size((content.size() / 4096 + 2) * 4096) {
        base = static_cast<unsigned char*>(
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base + size - 4096, 4096, PROT_NONE);
        data = std::copy_backward(content.begin(), content.end(), base + size - 4096);
    }
    ~GuardedFrame() { munmap(base, size); }
    size_t size;
    unsigned char* base;
    unsigned char* data;
};

class Recorder : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ezrecXXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        recorder.SetLogSink([this](const std::string& line) { logged += line + "\n"; });
    }
    void TearDown() override { fs::remove_all(dir); }

    bool record(const fs::path& movie, int width, int height, int channels, int fps, int count,
                const Bytes& pixels) {
        GuardedFrame frame(pixels);
        bool ok = recorder.OpenRecorder(movie, width, height, channels, fps);
        for (int i = 0; ok && i < count; ++i)
            ok = recorder.AppendSampleBuffer(frame.data, width, height, channels);
        return recorder.CloseRecorder() && ok;
    }

    fs::path dir;
    ezRecorder recorder;
    std::string logged;
};

}  // namespace

TEST(MovieFrameRate, IsTheNearestWholeRateAndAlwaysUsable) {
    EXPECT_EQ(MovieFrameRate(400), 25);
    EXPECT_EQ(MovieFrameRate(360), 28);  // 27.8 fps measured
    EXPECT_EQ(MovieFrameRate(0), kDefaultMovieFps);
    EXPECT_EQ(MovieFrameRate(30000), 1);
    EXPECT_EQ(MovieFrameRate(1), kMaxMovieFps);
}

struct Shape {
    int width, height, fps, channels;
};
void PrintTo(const Shape& s, std::ostream* out) {
    *out << s.width << "x" << s.height << " at " << s.fps << " fps, " << s.channels << " channels";
}
class RecorderShapes : public Recorder, public ::testing::WithParamInterface<Shape> {};

// Colour (200, 100, 50) and grey 120 frames of even, odd and tiny sizes.
TEST_P(RecorderShapes, WritesEveryFrameIntoAnH264QuickTimeMovie) {
    const auto [width, height, fps, channels] = GetParam();
    const Bytes value = channels == 3 ? Bytes{200, 100, 50} : Bytes{120};
    ASSERT_TRUE(
        record(dir / "m.mov", width, height, channels, fps, 12, solid(width, height, value)))
        << recorder.LastError();
    const int movieWidth = width + width % 2, movieHeight = height + height % 2;
    const std::string rate = std::to_string(fps) + "/1";
    const std::string fields = probe(dir / "m.mov");
    const size_t streamEnd = fields.find('\n') + 1;
    EXPECT_EQ(fields.substr(0, streamEnd), "h264," + std::to_string(movieWidth) + "," +
                                               std::to_string(movieHeight) + "," + rate + "," +
                                               rate + ",12\n");
    EXPECT_NE(fields.find("mov", streamEnd), std::string::npos);  // QuickTime container
    const std::string rgb = firstFrameRgb(dir / "m.mov");
    ASSERT_EQ(rgb.size(), size_t(3) * movieWidth * movieHeight);
    for (size_t pixel = 0; pixel < rgb.size() / 3; ++pixel)  // repeated edges included
        expectNear(rgb, pixel, value[0], value[1 % value.size()], value[2 % value.size()]);
}

INSTANTIATE_TEST_SUITE_P(Recorder, RecorderShapes,
                         ::testing::Values(Shape{64, 48, 25, 3}, Shape{63, 47, 7, 3},
                                           Shape{40, 31, 30, 1}, Shape{1, 1, 1, 1}),
                         [](const auto& info) {
                             const Shape& s = info.param;
                             return std::to_string(s.width) + "x" + std::to_string(s.height) +
                                    "at" + std::to_string(s.fps) +
                                    (s.channels == 1 ? "Grey" : "Colour");
                         });

TEST_F(Recorder, OddSidesAreRepeatedNotScaled) {
    // Red left of column 32, blue from it; bright above row 24, dim from it.
    Bytes pixels;
    for (int y = 0; y < 47; ++y)
        for (int x = 0; x < 63; ++x) {
            const auto level = static_cast<unsigned char>(y < 24 ? 220 : 110);
            pixels.insert(pixels.end(),
                          {x < 32 ? level : uint8_t{10}, 10, x < 32 ? uint8_t{10} : level});
        }
    ASSERT_TRUE(record(dir / "odd.mov", 63, 47, 3, 10, 3, pixels));
    const std::string rgb = firstFrameRgb(dir / "odd.mov");
    expectNear(rgb, 10 * 64 + 31, 220, 10, 10);
    expectNear(rgb, 10 * 64 + 32, 10, 10, 220);
    expectNear(rgb, 10 * 64 + 63, 10, 10, 220);  // repeated last column
    expectNear(rgb, 21 * 64 + 10, 220, 10, 10);
    expectNear(rgb, 26 * 64 + 10, 110, 10, 10);
    expectNear(rgb, 47 * 64 + 50, 10, 10, 110);  // repeated last row
}

TEST_F(Recorder, FramesOfAnotherSizeAreFittedOnBlack) {
    ASSERT_TRUE(recorder.OpenRecorder(dir / "fit.mov", 64, 48, 3, 10));
    GuardedFrame white(solid(33, 33, {255, 255, 255}));
    ASSERT_TRUE(recorder.AppendSampleBuffer(white.data, 33, 33, 3));
    ASSERT_TRUE(recorder.CloseRecorder());
    const std::string rgb = firstFrameRgb(dir / "fit.mov");
    expectNear(rgb, 24 * 64 + 3, 0, 0, 0);  // bars left and right of a 48 x 48 picture
    expectNear(rgb, 24 * 64 + 60, 0, 0, 0);
    for (int pixel : {1 * 64 + 32, 24 * 64 + 12, 46 * 64 + 51})
        expectNear(rgb, pixel, 255, 255, 255);
}

TEST_F(Recorder, StampsFrameNumbersOverTheRate) {
    ASSERT_TRUE(record(dir / "t.mov", 16, 16, 3, MovieFrameRate(400), 3, solid(16, 16, {1, 2, 3})));
    EXPECT_EQ(recorder.FrameCount(), 4);
    EXPECT_EQ(run("ffprobe -v error -show_entries packet=pts_time -of csv=p=0 '" +
                  (dir / "t.mov").string() + "' | sort"),
              "0.040000\n0.080000\n0.120000\n");
}

TEST_F(Recorder, BadArgumentsFailAndLeaveNothingBehind) {
    EXPECT_FALSE(recorder.OpenRecorder(dir / "missing" / "m.mov", 64, 48, 3, 10));
    EXPECT_NE(logged.find("Init With URL Failed"), std::string::npos);
    for (auto [width, height, channels, fps] : {std::array{0, 48, 3, 10},
                                                {64, -2, 3, 10},
                                                {kMaxMovieSide + 1, 48, 3, 10},
                                                {64, 48, 2, 10},
                                                {64, 48, 3, 0},
                                                {64, 48, 3, kMaxMovieFps + 1}})
        EXPECT_FALSE(recorder.OpenRecorder(dir / "bad.mov", width, height, channels, fps));
    EXPECT_FALSE(fs::exists(dir / "bad.mov"));
    std::ofstream(dir / "old.mov") << "keep";  // an existing file is never replaced
    EXPECT_FALSE(recorder.OpenRecorder(dir / "old.mov", 64, 48, 3, 10));
    EXPECT_EQ(fs::file_size(dir / "old.mov"), 4u);
    EXPECT_FALSE(recorder.IsRecording() || recorder.LastError().empty());
    EXPECT_EQ(logged.find("Write Started"), std::string::npos);
}

TEST_F(Recorder, LifecycleIsSafeInAnyOrder) {
    const Bytes frame = solid(32, 32, {9, 9, 9});
    EXPECT_FALSE(recorder.AppendSampleBuffer(frame.data(), 32, 32, 3));
    EXPECT_TRUE(recorder.CloseRecorder());  // nothing open
    ASSERT_TRUE(recorder.OpenRecorder(dir / "a.mov", 32, 32, 3, 10));
    EXPECT_FALSE(recorder.OpenRecorder(dir / "b.mov", 32, 32, 3, 10));
    EXPECT_FALSE(recorder.AppendSampleBuffer(nullptr, 32, 32, 3));  // not counted
    EXPECT_FALSE(recorder.AppendSampleBuffer(frame.data(), 32, 32, 4));
    EXPECT_EQ(recorder.FrameCount(), 1);
    EXPECT_TRUE(recorder.AppendSampleBuffer(frame.data(), 32, 32, 3));
    EXPECT_TRUE(recorder.CloseRecorder() && recorder.CloseRecorder());
    EXPECT_FALSE(recorder.AppendSampleBuffer(frame.data(), 32, 32, 3));
    EXPECT_NE(probe(dir / "a.mov").find(",1\n"), std::string::npos);
    EXPECT_NE(logged.find("Write Started\nadaptor:0x"), std::string::npos);

    // A movie without frames is removed; one left open is finished on destruction.
    ASSERT_TRUE(recorder.OpenRecorder(dir / "empty.mov", 32, 32, 3, 10));
    EXPECT_TRUE(recorder.CloseRecorder());
    EXPECT_FALSE(fs::exists(dir / "empty.mov"));
    {
        ezRecorder dropped;
        dropped.SetLogSink([](const std::string&) {});
        ASSERT_TRUE(dropped.OpenRecorder(dir / "dropped.mov", 32, 32, 1, 10));
        EXPECT_TRUE(dropped.AppendSampleBuffer(frame.data(), 32, 32, 1));
    }
    EXPECT_NE(probe(dir / "dropped.mov").find(",1\n"), std::string::npos);
}

TEST_F(Recorder, CloseWhileAnotherThreadAppends) {
    ASSERT_TRUE(recorder.OpenRecorder(dir / "race.mov", 64, 48, 3, 30));
    const Bytes frame = solid(64, 48, {50, 60, 70});
    std::atomic<int> written = 0;
    std::thread show([&] {
        while (recorder.AppendSampleBuffer(frame.data(), 64, 48, 3)) ++written;
    });
    while (written < 5) std::this_thread::yield();
    EXPECT_TRUE(recorder.CloseRecorder());
    show.join();
    EXPECT_NE(probe(dir / "race.mov").find("," + std::to_string(written) + "\n"),
              std::string::npos);
}

TEST_F(Recorder, WriteFailuresAreReported) {
    // A file-size limit fills the "disk" after 8 KiB.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit small{8192, old.rlim_max};
    auto previous = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    Bytes noise(320 * 240 * 3);
    bool ok = recorder.OpenRecorder(dir / "full.mov", 320, 240, 3, 10);
    for (int i = 0; ok && i < 10; ++i) {
        for (auto& byte : noise) byte = static_cast<unsigned char>(std::rand());
        ok = recorder.AppendSampleBuffer(noise.data(), 320, 240, 3);
    }
    ok = recorder.CloseRecorder() && ok;
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(ok || recorder.LastError().empty() || recorder.IsRecording());
}
