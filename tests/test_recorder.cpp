// The movie recorder, checked through ffprobe and ffmpeg as independent readers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "viewer/recorder.h"

namespace fs = std::filesystem;

namespace {

std::string run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char block[65536];
        for (size_t n; (n = std::fread(block, 1, sizeof block, pipe)) > 0;) out.append(block, n);
        pclose(pipe);
    }
    return out;
}

std::map<std::string, std::string> probe(const fs::path& movie) {
    std::map<std::string, std::string> fields;
    const std::string text = run(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries format=format_name:"
        "stream=codec_name,width,height,r_frame_rate,avg_frame_rate,nb_read_frames -of "
        "default=nw=1 '" + movie.string() + "'");
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = text.substr(at, end - at);
        if (size_t eq = line.find('='); eq != std::string::npos)
            fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

// The first frame of a movie as RGB bytes.
std::string firstFrame(const fs::path& movie) {
    return run("ffmpeg -v error -i '" + movie.string() +
               "' -frames:v 1 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
}

std::vector<unsigned char> solid(int width, int height, std::vector<unsigned char> value) {
    std::vector<unsigned char> pixels;
    for (int i = 0; i < width * height; ++i) pixels.insert(pixels.end(), value.begin(), value.end());
    return pixels;
}

// A frame that ends right before an inaccessible page: reading past it crashes.
class GuardedFrame {
public:
    explicit GuardedFrame(const std::vector<unsigned char>& content) {
        const size_t page = sysconf(_SC_PAGESIZE);
        size = (content.size() + page - 1) / page * page + page;
        void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base = static_cast<unsigned char*>(map);
        mprotect(base + size - page, page, PROT_NONE);
        data = base + size - page - content.size();
        std::copy(content.begin(), content.end(), data);
    }
    ~GuardedFrame() { munmap(base, size); }
    unsigned char* data;

private:
    unsigned char* base;
    size_t size;
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

    // Records `count` copies of one frame.
    bool record(const fs::path& movie, int width, int height, int channels, int fps, int count,
                const std::vector<unsigned char>& pixels) {
        if (!recorder.OpenRecorder(movie, width, height, channels, fps)) return false;
        bool appended = true;
        for (int i = 0; i < count; ++i)
            appended = recorder.AppendSampleBuffer(pixels.data(), width, height, channels) && appended;
        return recorder.CloseRecorder() && appended;
    }

    fs::path dir;
    ezRecorder recorder;
    std::string logged;
};

void expectNear(const std::string& rgb, size_t pixel, int red, int green, int blue) {
    ASSERT_GE(rgb.size(), 3 * pixel + 3);
    const auto* p = reinterpret_cast<const unsigned char*>(rgb.data()) + 3 * pixel;
    EXPECT_NEAR(p[0], red, 8) << "pixel " << pixel;
    EXPECT_NEAR(p[1], green, 8) << "pixel " << pixel;
    EXPECT_NEAR(p[2], blue, 8) << "pixel " << pixel;
}

}  // namespace

TEST(MovieFrameRate, IsTheNearestWholeRateAndAlwaysUsable) {
    EXPECT_EQ(MovieFrameRate(400), 25);
    EXPECT_EQ(MovieFrameRate(360), 28);  // 27.8 fps measured
    EXPECT_EQ(MovieFrameRate(0), kDefaultMovieFps);
    EXPECT_EQ(MovieFrameRate(-40), kDefaultMovieFps);
    EXPECT_EQ(MovieFrameRate(30000), 1);  // 0.33 fps
    EXPECT_EQ(MovieFrameRate(1), kMaxMovieFps);
}

struct Shape {
    int width, height, fps, channels;
};
class RecorderShapes : public Recorder, public ::testing::WithParamInterface<Shape> {};

TEST_P(RecorderShapes, WritesAnH264QuickTimeMovieOfEveryFrame) {
    const auto [width, height, fps, channels] = GetParam();
    const fs::path movie = dir / "m.mov";
    const auto pixels = channels == 3 ? solid(width, height, {200, 100, 50}) : solid(width, height, {120});
    ASSERT_TRUE(record(movie, width, height, channels, fps, 12, pixels)) << recorder.LastError();

    auto fields = probe(movie);
    EXPECT_NE(fields["format_name"].find("mov"), std::string::npos);
    EXPECT_EQ(fields["codec_name"], "h264");
    EXPECT_EQ(fields["nb_read_frames"], "12");
    EXPECT_EQ(fields["r_frame_rate"], std::to_string(fps) + "/1");
    EXPECT_EQ(fields["avg_frame_rate"], std::to_string(fps) + "/1");
    // Odd sides grow by one repeated row or column.
    const int movieWidth = width + width % 2, movieHeight = height + height % 2;
    EXPECT_EQ(fields["width"], std::to_string(movieWidth));
    EXPECT_EQ(fields["height"], std::to_string(movieHeight));

    const std::string rgb = firstFrame(movie);
    ASSERT_EQ(rgb.size(), size_t(3) * movieWidth * movieHeight);
    for (size_t pixel = 0; pixel < rgb.size() / 3; ++pixel)  // the repeated edges included
        channels == 3 ? expectNear(rgb, pixel, 200, 100, 50) : expectNear(rgb, pixel, 120, 120, 120);
}

INSTANTIATE_TEST_SUITE_P(Recorder, RecorderShapes,
                         ::testing::Values(Shape{64, 48, 25, 3}, Shape{63, 47, 7, 3},
                                           Shape{40, 31, 30, 1}, Shape{1, 1, 1, 1}));

TEST_F(Recorder, OddSidesAreRepeatedNotScaled) {
    // Red left of column 32, blue from it; full brightness above row 24, half below.
    const int width = 63, height = 47;
    std::vector<unsigned char> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int scale = y < 24 ? 2 : 1;
            pixels.insert(pixels.end(), {static_cast<unsigned char>(x < 32 ? 110 * scale : 10),
                                         10, static_cast<unsigned char>(x < 32 ? 10 : 110 * scale)});
        }
    ASSERT_TRUE(record(dir / "odd.mov", width, height, 3, 10, 3, pixels));
    const std::string rgb = firstFrame(dir / "odd.mov");
    auto at = [](int x, int y) { return size_t(y) * 64 + x; };
    expectNear(rgb, at(31, 10), 220, 10, 10);
    expectNear(rgb, at(32, 10), 10, 10, 220);
    expectNear(rgb, at(63, 10), 10, 10, 220);  // repeated last column
    expectNear(rgb, at(10, 23), 220, 10, 10);
    expectNear(rgb, at(10, 24), 110, 10, 10);
    expectNear(rgb, at(10, 47), 110, 10, 10);  // repeated last row
}

TEST_F(Recorder, ReadsNoByteBeyondTheFrame) {
    struct Case {
        int movieWidth, movieHeight, width, height, channels;
    };
    for (auto [movieWidth, movieHeight, width, height, channels] :
         {Case{63, 47, 63, 47, 3}, Case{63, 47, 63, 47, 1}, Case{64, 48, 33, 21, 3},
          Case{64, 48, 33, 21, 1}, Case{1, 1, 1, 1, 3}}) {
        const fs::path movie = dir / (std::to_string(width) + std::to_string(channels) + ".mov");
        GuardedFrame frame(solid(width, height, std::vector<unsigned char>(channels, 90)));
        ASSERT_TRUE(recorder.OpenRecorder(movie, movieWidth, movieHeight, channels, 10));
        EXPECT_TRUE(recorder.AppendSampleBuffer(frame.data, width, height, channels));
        EXPECT_TRUE(recorder.CloseRecorder());
        const int codedWidth = movieWidth + movieWidth % 2, codedHeight = movieHeight + movieHeight % 2;
        expectNear(firstFrame(movie), codedHeight / 2 * codedWidth + codedWidth / 2, 90, 90, 90);
    }
}

TEST_F(Recorder, GreyFramesStayGreyAndKeepTheirOrder) {
    // A ramp from dark on the left to bright on the right.
    std::vector<unsigned char> ramp;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) ramp.push_back(static_cast<unsigned char>(x * 4));
    ASSERT_TRUE(record(dir / "grey.mov", 64, 32, 1, 10, 2, ramp));
    const std::string rgb = firstFrame(dir / "grey.mov");
    for (int x : {4, 20, 40, 60}) expectNear(rgb, 16 * 64 + x, x * 4, x * 4, x * 4);
}

TEST_F(Recorder, FramesOfAnotherSizeAreFittedOnBlack) {
    ASSERT_TRUE(recorder.OpenRecorder(dir / "fit.mov", 64, 48, 3, 10));
    const auto white = solid(32, 32, {255, 255, 255});
    ASSERT_TRUE(recorder.AppendSampleBuffer(white.data(), 32, 32, 3));
    ASSERT_TRUE(recorder.CloseRecorder());
    const std::string rgb = firstFrame(dir / "fit.mov");
    expectNear(rgb, 24 * 64 + 3, 0, 0, 0);  // left bar: 48 x 48 picture centred
    expectNear(rgb, 24 * 64 + 60, 0, 0, 0);
    for (int pixel : {1 * 64 + 32, 24 * 64 + 12, 46 * 64 + 51}) expectNear(rgb, pixel, 255, 255, 255);
}

TEST_F(Recorder, StampsFrameNumbersOverTheRate) {
    const auto frame = solid(16, 16, {1, 2, 3});
    ASSERT_TRUE(record(dir / "t.mov", 16, 16, 3, MovieFrameRate(400), 3, frame));
    EXPECT_EQ(recorder.FrameCount(), 4);
    std::string times = run("ffprobe -v error -show_entries packet=pts_time -of csv=p=0 '" +
                            (dir / "t.mov").string() + "' | sort");
    EXPECT_EQ(times, "0.040000\n0.080000\n0.120000\n");
}

TEST_F(Recorder, BadArgumentsFailAndLeaveNothingBehind) {
    const fs::path movie = dir / "bad.mov";
    EXPECT_FALSE(recorder.OpenRecorder(dir / "missing" / "m.mov", 64, 48, 3, 10));
    EXPECT_NE(logged.find("Init With URL Failed"), std::string::npos);
    EXPECT_FALSE(recorder.OpenRecorder(movie, 0, 48, 3, 10));
    EXPECT_FALSE(recorder.OpenRecorder(movie, 64, -2, 3, 10));
    EXPECT_FALSE(recorder.OpenRecorder(movie, kMaxMovieSide + 1, 48, 3, 10));
    EXPECT_FALSE(recorder.OpenRecorder(movie, 64, 48, 2, 10));
    EXPECT_FALSE(recorder.OpenRecorder(movie, 64, 48, 3, 0));
    EXPECT_FALSE(recorder.OpenRecorder(movie, 64, 48, 3, kMaxMovieFps + 1));
    EXPECT_FALSE(fs::exists(movie));
    // An existing file is never replaced.
    std::ofstream(dir / "old.mov") << "keep";
    EXPECT_FALSE(recorder.OpenRecorder(dir / "old.mov", 64, 48, 3, 10));
    EXPECT_EQ(fs::file_size(dir / "old.mov"), 4u);
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_FALSE(recorder.LastError().empty());
    EXPECT_EQ(logged.find("Write Started"), std::string::npos);
}

TEST_F(Recorder, LifecycleIsSafeInAnyOrder) {
    const auto frame = solid(32, 32, {9, 9, 9});
    EXPECT_FALSE(recorder.AppendSampleBuffer(frame.data(), 32, 32, 3));
    EXPECT_TRUE(recorder.CloseRecorder());
    ASSERT_TRUE(recorder.OpenRecorder(dir / "a.mov", 32, 32, 3, 10));
    EXPECT_FALSE(recorder.OpenRecorder(dir / "b.mov", 32, 32, 3, 10));
    EXPECT_TRUE(recorder.IsRecording());
    // Frames that cannot be taken are not counted.
    EXPECT_FALSE(recorder.AppendSampleBuffer(nullptr, 32, 32, 3));
    EXPECT_FALSE(recorder.AppendSampleBuffer(frame.data(), 32, 32, 4));
    EXPECT_FALSE(recorder.AppendSampleBuffer(frame.data(), 0, 32, 3));
    EXPECT_EQ(recorder.FrameCount(), 1);
    EXPECT_TRUE(recorder.AppendSampleBuffer(frame.data(), 32, 32, 3));
    EXPECT_TRUE(recorder.AppendSampleBuffer(frame.data(), 32, 32, 3));
    EXPECT_TRUE(recorder.CloseRecorder());
    EXPECT_TRUE(recorder.CloseRecorder());
    EXPECT_FALSE(recorder.AppendSampleBuffer(frame.data(), 32, 32, 3));
    EXPECT_EQ(probe(dir / "a.mov")["nb_read_frames"], "2");
    EXPECT_FALSE(fs::exists(dir / "b.mov"));
    EXPECT_NE(logged.find("Write Started\nadaptor:0x"), std::string::npos);
    EXPECT_NE(logged.find("Write Ended"), std::string::npos);

    // A movie without frames is removed; one left open is finished on destruction.
    ASSERT_TRUE(recorder.OpenRecorder(dir / "empty.mov", 32, 32, 3, 10));
    EXPECT_TRUE(recorder.CloseRecorder());
    EXPECT_FALSE(fs::exists(dir / "empty.mov"));
    {
        ezRecorder dropped;
        ASSERT_TRUE(dropped.OpenRecorder(dir / "dropped.mov", 32, 32, 1, 10));
        EXPECT_TRUE(dropped.AppendSampleBuffer(frame.data(), 32, 32, 1));
    }
    EXPECT_EQ(probe(dir / "dropped.mov")["nb_read_frames"], "1");
}

TEST_F(Recorder, CloseWhileAnotherThreadAppends) {
    ASSERT_TRUE(recorder.OpenRecorder(dir / "race.mov", 64, 48, 3, 30));
    const auto frame = solid(64, 48, {50, 60, 70});
    std::atomic<int> written = 0;
    std::thread show([&] {
        while (recorder.AppendSampleBuffer(frame.data(), 64, 48, 3)) ++written;
    });
    while (written < 5) std::this_thread::yield();
    EXPECT_TRUE(recorder.CloseRecorder());
    show.join();
    EXPECT_EQ(probe(dir / "race.mov")["nb_read_frames"], std::to_string(written.load()));
}

TEST_F(Recorder, WriteFailuresAreReported) {
    // A file-size limit makes the disk "full" after 8 KiB.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    auto previous = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 8192;
    setrlimit(RLIMIT_FSIZE, &small);
    std::vector<unsigned char> noise(320 * 240 * 3);
    ASSERT_TRUE(recorder.OpenRecorder(dir / "full.mov", 320, 240, 3, 10));
    bool allAppended = true;
    for (int i = 0; i < 10; ++i) {
        for (auto& byte : noise) byte = static_cast<unsigned char>(std::rand());
        allAppended = recorder.AppendSampleBuffer(noise.data(), 320, 240, 3) && allAppended;
    }
    const bool closed = recorder.CloseRecorder();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(allAppended && closed);
    EXPECT_FALSE(recorder.LastError().empty());
    EXPECT_FALSE(recorder.IsRecording());
}
