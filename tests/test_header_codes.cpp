// The codes ezcam.h names, against what the SDK does with them on simulated
// cameras: the Bayer code each model reports, the geometry a flip or
// rotation code gives a finished image, the files each format bit writes,
// and the codes of the hot-plug events and the fluorescence guide.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim_session.h"

using simsession::Session;
namespace fs = std::filesystem;

namespace {

class HeaderCodes : public Session {
  protected:
    // A raw frame of the camera at its smallest resolution.
    std::vector<unsigned char> rawFrame(const std::string& name) {
        SetResolution(GetResolutionCount(name.c_str()) - 1, name.c_str());
        EXPECT_EQ(ResumeDevice(name.c_str()), EZ_OK);
        std::vector<unsigned char> raw(RecvMemSize(name.c_str()));
        int result = EZ_EIO;
        for (int attempt = 0; attempt < 10 && result != EZ_OK; ++attempt)
            result = GetRawData(raw.data(), static_cast<int>(raw.size()), name.c_str());
        EXPECT_EQ(result, EZ_OK);
        return raw;
    }
    // The finished image of `raw` with the geometry in force.
    std::vector<unsigned char> finish(std::vector<unsigned char>& raw, const std::string& name) {
        std::vector<unsigned char> image(raw.size() * 3 + 8192);
        EXPECT_EQ(DecodeRaw2Image(raw.data(), image.data(), name.c_str()), EZ_OK);
        return image;
    }
    static const _ezImage& record(const std::vector<unsigned char>& buffer) {
        return *reinterpret_cast<const _ezImage*>(buffer.data());
    }
    // The three samples of pixel (x, y) of a finished 8-bit colour image.
    static std::vector<unsigned char> pixel(const std::vector<unsigned char>& image, int x, int y) {
        const _ezImage& r = record(image);
        const unsigned char* p = image.data() + r.header_size + size_t(y) * r.stride + size_t(x) * 3;
        return {p[0], p[1], p[2]};
    }
};

TEST_F(HeaderCodes, EachModelReportsTheNamedBayerCodeOfItsSensor) {
    struct Row {
        int product;
        int code;
        const char* pattern;
    };
    const Row rows[] = {
        {0xc004, EZ_BAYER_RGGB, "RGGB"},  // colour, 5 megapixels
        {0xc005, EZ_BAYER_GBRG, "GBRG"},
        {0xc003, EZ_BAYER_GRBG, "GRBG"},
        {0xc006, EZ_BAYER_MONO, ""},  // monochrome
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.product);
        const std::string name = plug(row.product);
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(GetRawBayernPattern(name.c_str()), row.code);
        EXPECT_STREQ(BayerPatternName(row.code), row.pattern);
        EXPECT_EQ(GetImageChannles(name.c_str()), row.code == EZ_BAYER_MONO ? 1 : 3);
        EzFrameInfo info{};
        SetResolution(GetResolutionCount(name.c_str()) - 1, name.c_str());
        ASSERT_EQ(ResumeDevice(name.c_str()), EZ_OK);
        std::vector<unsigned char> raw(RecvMemSize(name.c_str()));
        int result = EZ_EIO;
        for (int attempt = 0; attempt < 10 && result != EZ_OK; ++attempt)
            result = GetRawDataInfo(raw.data(), static_cast<int>(raw.size()), &info, name.c_str());
        ASSERT_EQ(result, EZ_OK);
        EXPECT_EQ(info.bayer, row.code);
        SuspendDevice(name.c_str());
    }
    EXPECT_STREQ(BayerPatternName(EZ_BAYER_RGGB), "RGGB");
    EXPECT_STREQ(BayerPatternName(EZ_BAYER_GRBG + 1), "");
}

TEST_F(HeaderCodes, FlipAndRotationCodesTurnTheFinishedImageAsNamed) {
    const std::string name = plug(0xc004);
    ASSERT_FALSE(name.empty());
    std::vector<unsigned char> raw = rawFrame(name);
    const std::vector<unsigned char> plain = finish(raw, name);
    const int w = record(plain).width, h = record(plain).height;
    ASSERT_GT(w, 2);
    ASSERT_NE(w, h);  // a quarter turn must show in the size
    // The scene tells the pixels the rows follow apart.
    ASSERT_NE(pixel(plain, 0, 0), pixel(plain, 1, 0));
    ASSERT_NE(pixel(plain, 0, 0), pixel(plain, w - 1, h - 1));

    struct Row {
        int flip, rotate;
        int width, height;
        // Where the plain image's corner pixel (0, 0) and pixel (1, 0) land.
        int cornerX, cornerY, nextX, nextY;
    };
    const Row rows[] = {
        {EZ_FLIP_NONE, EZ_ROTATE_NONE, w, h, 0, 0, 1, 0},
        {EZ_FLIP_MIRROR, EZ_ROTATE_NONE, w, h, w - 1, 0, w - 2, 0},
        {EZ_FLIP_UPSIDE_DOWN, EZ_ROTATE_NONE, w, h, 0, h - 1, 1, h - 1},
        {EZ_FLIP_BOTH, EZ_ROTATE_NONE, w, h, w - 1, h - 1, w - 2, h - 1},
        {EZ_FLIP_NONE, EZ_ROTATE_RIGHT, h, w, h - 1, 0, h - 1, 1},
        {EZ_FLIP_NONE, EZ_ROTATE_LEFT, h, w, 0, w - 1, 0, w - 2},
        // Rotation first, then the flip.
        {EZ_FLIP_MIRROR, EZ_ROTATE_RIGHT, h, w, 0, 0, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.flip) + "/" + std::to_string(row.rotate));
        SetFlip(row.flip, name.c_str());
        SetRotate(row.rotate, name.c_str());
        EXPECT_EQ(GetFlip(name.c_str()), row.flip);
        EXPECT_EQ(GetRotate(name.c_str()), row.rotate);
        const std::vector<unsigned char> turned = finish(raw, name);
        ASSERT_EQ(record(turned).width, row.width);
        ASSERT_EQ(record(turned).height, row.height);
        EXPECT_EQ(pixel(turned, row.cornerX, row.cornerY), pixel(plain, 0, 0));
        EXPECT_EQ(pixel(turned, row.nextX, row.nextY), pixel(plain, 1, 0));
    }
}

TEST_F(HeaderCodes, EachFormatBitWritesItsFile) {
    const std::string name = plug(0xc004);
    ASSERT_FALSE(name.empty());
    int format = 0;
    ASSERT_EQ(GetImageFormat(&format, name.c_str()), EZ_OK);
    EXPECT_EQ(format, EZ_FORMAT_JPEG);  // the default

    std::vector<unsigned char> raw = rawFrame(name);
    char pattern[] = "/tmp/ezcam-codes-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    struct Row {
        int bit;
        const char* extension;
        std::string magic;
    };
    const Row rows[] = {
        {EZ_FORMAT_RAW, ".raw", "KVEZ"},
        {EZ_FORMAT_TIFF, ".tif", std::string("II*\0", 4)},
        {EZ_FORMAT_PNG, ".png", "\x89PNG"},
        {EZ_FORMAT_JPEG, ".jpg", "\xff\xd8\xff"},
        {EZ_FORMAT_BMP, ".bmp", "BM"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.extension);
        const fs::path base = dir / ("bit" + std::to_string(row.bit));
        ASSERT_EQ(SaveFile(raw.data(), base.c_str(), row.bit, name.c_str()), EZ_OK);
        std::vector<fs::path> written;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().stem() == base.filename()) written.push_back(entry.path());
        ASSERT_EQ(written.size(), 1u);
        EXPECT_EQ(written[0].extension(), row.extension);
        std::ifstream in(written[0], std::ios::binary);
        std::string head(row.magic.size(), '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        EXPECT_EQ(head, row.magic);
    }
    fs::remove_all(dir);
}

TEST_F(HeaderCodes, EventAndGuideCodesAreTheOnesTheCallsUse) {
    const std::string name = plug(0xc004);
    ASSERT_FALSE(name.empty());
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().event, EZ_DEVICE_ARRIVED);
    EXPECT_EQ(unplug(lastId), name);
    EXPECT_EQ(events.back().event, EZ_DEVICE_REMOVED);

    // 0xc005 has long exposures; 0xc004 has none and refuses the guide.
    const std::string guided = plug(0xc005);
    ASSERT_FALSE(guided.empty());
    EXPECT_EQ(FluorescenceGuide(EZ_FLUO_PARAMETER, 10, guided.c_str()), EZ_OK);
    EXPECT_EQ(FluorescenceGuide(EZ_FLUO_BEGIN, 0, guided.c_str()), EZ_OK);
    EXPECT_EQ(FluorescenceGuide(EZ_FLUO_END, 0, guided.c_str()), EZ_OK);
    EXPECT_EQ(FluorescenceGuide(EZ_FLUO_END + 1, 0, guided.c_str()), EZ_ERANGE);
    const std::string plain = plug(0xc004);
    EXPECT_EQ(FluorescenceGuide(EZ_FLUO_BEGIN, 0, plain.c_str()), EZ_ENOTSUP);

    // Three different texts, the date with its slashes, the number with its dots.
    const std::string date = VersionInf(EZ_VERSION_DATE);
    const std::string number = VersionInf(EZ_VERSION_NUMBER);
    const std::string tag = VersionInf(EZ_VERSION_TAG);
    EXPECT_EQ(std::count(date.begin(), date.end(), '/'), 2) << date;
    EXPECT_GE(std::count(number.begin(), number.end(), '.'), 1) << number;
    EXPECT_FALSE(tag.empty());
    EXPECT_NE(tag, number);
    EXPECT_EQ(VersionInf(EZ_VERSION_TAG + 1), tag);  // another kind: the text asked for before
}

}  // namespace
