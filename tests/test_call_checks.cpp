// Bad input through the call surface, one row per call and argument: every
// call answers with its status, and none writes a file or sends a transfer.
// A new call of ezcam.h gets its row here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "processing/image_record.h"
#include "sim_session.h"

using simsession::Session;
namespace fs = std::filesystem;

namespace {

class BadInput : public Session {
  protected:
    void SetUp() override {
        Session::SetUp();
        char pattern[] = "/tmp/ezcam-checks-XXXXXX";
        root = mkdtemp(pattern);
        fs::create_directory(root / "sets");
        fs::create_directory(root / "cwd");
        std::ofstream(root / "file.txt") << "not a directory";
        previous = fs::current_path();
        fs::current_path(root / "cwd");  // files written without a path land here
        useDirectory((root / "sets").string() + "/");
    }
    void TearDown() override {
        fs::current_path(previous);
        Session::TearDown();
        fs::remove_all(root);
    }
    // Starts again with this parameter-set directory; the camera arrives anew.
    void useDirectory(const std::string& directory) {
        InitDevice(&Session::hotPlug, this, directory.c_str());
        if (id == 0) {
            name = plug(0xc005, 0xa100);
            id = lastId;
        } else {
            name = events.back().name;
        }
    }
    std::set<std::string> files() const {
        std::set<std::string> out;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            out.insert(entry.path().string() + ":" +
                       std::to_string(entry.is_regular_file() ? entry.file_size() : 0));
        return out;
    }

    fs::path root, previous;
    std::string name;
    int id = 0;
};

// An image record of w x h 8-bit samples, pixels at 512, in a buffer of
// exactly its size.
std::vector<unsigned char> record(int w, int h, int channels, int decoded) {
    std::vector<unsigned char> buffer(512 + size_t(w) * h * channels);
    ezInitImageHeader(reinterpret_cast<_ezImage*>(buffer.data()), w, h, channels, 8, 512,
                      buffer.data() + 512, 0, decoded);
    return buffer;
}

}  // namespace

TEST_F(BadInput, EveryCallAnswersWithAStatusAndLeavesNoTrace) {
    const auto c = [this] { return name.c_str(); };
    // Buffers that are not image records: four bytes that begin like one (a
    // read of a whole record from them overflows), and a record whose header
    // is shorter than the record itself.
    std::unique_ptr<unsigned char[]> four(new unsigned char[4]{'K', 'V', 0, 0});
    std::vector<unsigned char> shortHeader = record(64, 48, 1, 0);
    reinterpret_cast<_ezImage*>(shortHeader.data())->header_size = 8;
    std::vector<unsigned char> raw = record(64, 48, 1, 0), image = record(64, 48, 3, 1);
    std::vector<unsigned char> out(512 + 64 * 48 * 6 + kStatisticsBytes);
    std::vector<unsigned char> frame(1 << 24);
    char text[16] = "keep";
    int i1 = 0, i2 = 0, i3 = 0;
    bool b = false;
    float f[5];
    __IMG_RECT rect{0, 0, 8, 8};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const auto null = [](const char* text) { return text ? 0 : -2; };
    const std::string missing = (root / "missing").string() + "/";
    const std::string notADirectory = (root / "file.txt").string() + "/";

    struct Row {
        const char* call;
        int expected;
        std::function<int()> run;
        std::function<void()> prepare = [] {};  // may send and write; not judged
    };
    const std::vector<Row> rows = {
        // Indexes and sizes.
        {"SetResolution -1", -2, [&] { return SetResolution(-1, c()); }},
        {"SetResolution past the table", -2, [&] { return SetResolution(99, c()); }},
        {"GetResItemName -1", -2, [&] { return null(GetResItemName(-1, c())); }},
        {"GetResWidth past the table", -2, [&] { return GetResWidth(99, c()); }},
        {"GetResHeight -1", -2, [&] { return GetResHeight(-1, c()); }},
        {"SetPixelclock past the table", -2, [&] { return SetPixelclock(99, c()); }},
        {"GetPixclkItemName -1", -2, [&] { return null(GetPixclkItemName(-1, c())); }},
        {"GetRawDepthState -1", -2, [&] { return GetRawDepthState(-1, c()); }},
        {"SetRawDepth 12", -2, [&] { return SetRawDepth(12, c()); }},
        {"SetBlacklevel -1", -2, [&] { return SetBlacklevel(-1, c()); }},
        {"GetRawData null", -2, [&] { return GetRawData(nullptr, 1 << 24, c()); }},
        {"GetRawData size 0", -2, [&] { return GetRawData(frame.data(), 0, c()); }},
        {"GetRawData size -1", -2, [&] { return GetRawData(frame.data(), -1, c()); }},
        {"GetRawData too small", -2, [&] { return GetRawData(frame.data(), 4096, c()); }},
        {"GetRawDataEx null", -2, [&] { return GetRawDataEx(nullptr, nullptr, 1 << 24, c()); }},
        {"WriteInf null", -2, [&] { return WriteInf(nullptr, 4, c()); }},
        {"WriteInf length -1", -2, [&] { return WriteInf(text, -1, c()); }},
        {"ReadInf null", -2, [&] { return ReadInf(nullptr, 4, c()); }},
        {"ReadInf length -1", -2, [&] { return ReadInf(text, -1, c()); }},
        {"GetGammaEx channel 3", -2, [&] { return GetGammaEx(3, c()); }},
        {"GetGammaRangeEx channel -1", -2, [&] { return GetGammaRangeEx(&i1, &i2, &i3, -1, c()); }},
        {"SetStretchEx channel 3", -2, [&] { return SetStretchEx(0, 255, false, 3, c()); }},
        {"GetStretchEx channel -1", -2, [&] { return GetStretchEx(&i1, &i2, &b, -1, c()); }},
        {"GetStretchRangeEx channel 7", -2, [&] { return GetStretchRangeEx(&i1, &i2, &i3, 7, c()); }},
        {"SetStretch low above high", -2, [&] { return SetStretch(200, 100, false, c()); }},
        {"FluorescenceGuide type 3", -2, [&] { return FluorescenceGuide(3, 0, c()); }},
        {"SaveConfiguration -1", -2, [&] { return SaveConfiguration(-1, c()); }},
        {"SaveConfiguration 26", -2, [&] { return SaveConfiguration(26, c()); }},
        {"LoadConfiguration -1", -2, [&] { return LoadConfiguration(-1, c()); }},
        {"LoadConfiguration 26", -2, [&] { return LoadConfiguration(26, c()); }},
        {"SimPlugCamera vendor -1", -2, [&] { return SimPlugCamera(-1, 0xc004, 0); }},
        {"SimUnplugCamera unknown", -1, [&] { return SimUnplugCamera(999); }},
        {"SimPressCapture unknown", -1, [&] { return SimPressCapture(999); }},
        // Numbers that are no exposure.
        {"SetExposure NaN", -2, [&] { return SetExposure(nan, c()); }},
        {"SetExposure +inf", -2, [&] { return SetExposure(inf, c()); }},
        {"SetExposure -inf", -2, [&] { return SetExposure(-inf, c()); }},
        {"SetExposure -1", -2, [&] { return SetExposure(-1.0f, c()); }},
        // Paths without a name.
        {"SaveFile null path", -2, [&] { return SaveFile(image.data(), nullptr, 31, c()); }},
        {"SaveFile empty path", -2, [&] { return SaveFile(raw.data(), "", 31, c()); }},
        {"SaveImage null path", -2, [&] { return SaveImage(nullptr, 0, c()); }},
        {"SaveImage empty path", -2, [&] { return SaveImage("", 1, c()); }},
        {"SaveImageEx null path", -2, [&] { return SaveImageEx(nullptr, 0, nullptr, c()); }},
        {"UpdateFirmware null path", -2, [&] { return UpdateFirmware(nullptr, c()); }},
        {"UpdateFirmware empty path", -2, [&] { return UpdateFirmware("", c()); }},
        // Buffers that are not image records.
        {"GetPointIntensity four bytes", -1, [&] { return GetPointIntensity(0, 0, four.get()); }},
        {"GetPointIntensity short header", -1, [&] { return GetPointIntensity(0, 0, shortHeader.data()); }},
        {"GetImageIntensity four bytes", -4, [&] { return GetImageIntensity(four.get(), 0, 0, 8, 8, f, f + 1, f + 2, f + 3, f + 4); }},
        {"GetImageIntensity short header", -4, [&] { return GetImageIntensity(shortHeader.data(), 0, 0, 8, 8, f, f + 1, f + 2, f + 3, f + 4); }},
        {"CalcAverage four bytes", -4, [&] { return CalcAverage(four.get()); }},
        {"ShiftOperation four bytes", -4, [&] { return ShiftOperation(four.get(), 1); }},
        {"ResizeImage four bytes", -4, [&] { return ResizeImage(four.get(), out.data(), 8, 8); }},
        {"ResizeImage short header", -4, [&] { return ResizeImage(shortHeader.data(), out.data(), 8, 8); }},
        {"ResizeImage width 0", -2, [&] { return ResizeImage(image.data(), out.data(), 0, 8); }},
        {"DecodeRaw2Image four bytes", -2, [&] { return DecodeRaw2Image(four.get(), out.data(), c()); }},
        {"DecodeRaw2Image short header", -2, [&] { return DecodeRaw2Image(shortHeader.data(), out.data(), c()); }},
        {"CalcFlatfield four bytes", -2, [&] { return CalcFlatfield(four.get(), false, c()); }},
        {"CalcWhiteBalance four bytes", -2, [&] { return CalcWhiteBalance(four.get(), &rect, c()); }},
        {"SaveFile four bytes", -4, [&] { return SaveFile(four.get(), "shot", 31, c()); }},
        {"SaveFile short header", -4, [&] { return SaveFile(shortHeader.data(), "shot", 31, c()); }},
        // Parameter-set directories that cannot hold sets.
        {"SaveConfiguration, missing directory", -3, [&] { return SaveConfiguration(0, c()); },
         [&] { useDirectory(missing); }},
        {"LoadConfiguration, missing directory", -3, [&] { return LoadConfiguration(0, c()); }},
        {"SaveConfiguration, a file as directory", -3, [&] { return SaveConfiguration(1, c()); },
         [&] { useDirectory(notADirectory); }},
        {"LoadConfiguration, a file as directory", -3, [&] { return LoadConfiguration(1, c()); }},
        {"SaveConfiguration, no directory", -3, [&] { return SaveConfiguration(2, c()); },
         [&] { useDirectory(""); }},
        // Suspended cameras give no frame and are not asked for one.
        {"GetRawData after SuspendDevice", -3, [&] { return GetRawData(frame.data(), 1 << 24, c()); },
         [&] { SuspendDevice(c()); }},
        {"GetRawData, suspended while streaming", -3, [&] { return GetRawData(frame.data(), 1 << 24, c()); },
         [&] { ResumeDevice(c()); SuspendDevice(c()); }},
    };

    for (const Row& row : rows) {
        row.prepare();
        camera(id).clearTrace();
        const std::set<std::string> before = files();
        EXPECT_EQ(row.run(), row.expected) << row.call;
        EXPECT_TRUE(transfers(id).empty()) << row.call << ": sent " << transfers(id).size();
        EXPECT_EQ(files(), before) << row.call << ": wrote a file";
    }
    EXPECT_STREQ(text, "keep");

    // Resumed, the camera gives frames again.
    ResumeDevice(c());
    EXPECT_EQ(GetRawData(frame.data(), 1 << 24, c()), 0);
}
