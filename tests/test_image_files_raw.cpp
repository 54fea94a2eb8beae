// The RAW format: the header as the record lies in memory, the file size, the
// round trip through RawDecoder, and refusal of truncated or corrupted files.
#include <gtest/gtest.h>

#include <random>

#include "ezImage/grfmt_raw.h"
#include "ezImage/registry.h"
#include "image_files_support.h"

namespace {

// Decodes a file or memory block the way ezLoadImage does; null on refusal.
ImagePtr decode(RawDecoder& decoder) {
    RBaseStream stream;
    if (!decoder.readHeader(stream)) return nullptr;
    ImagePtr image(ezCreateImage(decoder.width(), decoder.height(), decoder.depth(),
                                 decoder.channels(), decoder.dataOffset(), 1));
    if (!image || !decoder.readData(image.get(), stream)) return nullptr;
    return image;
}
ImagePtr decodeFile(const std::string& path) {
    RawDecoder decoder;
    decoder.setSource(path.c_str());
    return decode(decoder);
}
ImagePtr decodeBytes(const std::vector<unsigned char>& bytes) {
    RawDecoder decoder;
    decoder.setSource(bytes.data(), bytes.size());
    return decode(decoder);
}

TEST(RawFormat, CameraFrameKeepsItsWholeHeaderArea) {
    ScratchDir dir;
    // A camera frame buffer: record, the rest of a 512-byte header, pixels.
    const int width = 1600, height = 1200;
    std::vector<unsigned char> frame(512 + width * height);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<unsigned char>(i * 31 + i / 977);
    auto* record = reinterpret_cast<_ezImage*>(frame.data());
    ezInitImageHeader(record, width, height, 1, 8, 512, frame.data() + 512, 3, 0);
    record->bayer = 2;
    record->analog_gain = 0x1234;
    record->idproduct = 0xbeef;

    RawEncoder encoder;
    const std::string path = dir.file("frame.raw");
    ASSERT_TRUE(encoder.setDestination(path.c_str()));
    ASSERT_TRUE(encoder.write(record));
    const auto bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 512u + 1'920'000);
    // Byte for byte the frame, except that the two pointers are not stored.
    for (size_t i = 0; i < bytes.size(); ++i) {
        const bool pointer = i >= 16 && i < 32;
        ASSERT_EQ(bytes[i], pointer ? 0 : frame[i]) << i;
    }
    EXPECT_EQ(le16(bytes, 34), 0x1234);
    EXPECT_EQ(bytes[10], 2);

    ImagePtr back = decodeFile(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width, width);
    EXPECT_EQ(back->height, height);
    EXPECT_EQ(back->header_size, 512);
    EXPECT_EQ(0, std::memcmp(back->data, frame.data() + 512, width * height));
}

TEST(RawFormat, SeparateRecordsRoundTripAtBothDepths) {
    ScratchDir dir;
    ezInitGrfmt();
    for (int depth : {8, 16}) {
        for (int headerSize : {56, 100}) {
            SCOPED_TRACE(testing::Message() << depth << " " << headerSize);
            ImagePtr image = patternImage(13, 7, depth, 1);
            image->header_size = static_cast<uint16_t>(headerSize);
            const std::string path = dir.file("a.raw");
            ASSERT_TRUE(ezSaveImage(path.c_str(), image.get()));
            const auto bytes = readBytes(path);
            ASSERT_EQ(bytes.size(), headerSize + 7u * image->stride);
            // Header bytes beyond the record that the record's buffer lacks are zeros.
            for (int i = 56; i < headerSize; ++i) ASSERT_EQ(bytes[i], 0);
            ImagePtr back = decodeFile(path);
            ASSERT_TRUE(back);
            EXPECT_EQ(back->depth, depth);
            EXPECT_EQ(0, std::memcmp(back->data, image->data, 7 * image->stride));
        }
    }
    // A header that cannot even hold the record is refused.
    ImagePtr image = patternImage(4, 4, 8, 1);
    image->header_size = 40;
    EXPECT_FALSE(ezSaveImage(dir.file("b.raw").c_str(), image.get()));
    exExitGrfmt();
}

TEST(RawFormat, TruncatedAndCorruptedFilesAreRefused) {
    ImagePtr image = patternImage(5, 4, 16, 1);
    ScratchDir dir;
    const std::string path = dir.file("a.raw");
    RawEncoder encoder;
    encoder.setDestination(path.c_str());
    ASSERT_TRUE(encoder.write(image.get()));
    const auto good = readBytes(path);
    ASSERT_EQ(good.size(), 56u + 40);
    ASSERT_TRUE(decodeBytes(good));

    for (size_t length = 0; length < good.size(); ++length) {
        const std::vector<unsigned char> cut(good.begin(), good.begin() + length);
        EXPECT_FALSE(decodeBytes(cut)) << length;
        writeBytes(path, cut);
        EXPECT_FALSE(decodeFile(path)) << length;
    }

    struct Damage {
        size_t at;
        unsigned char value;
    };
    for (Damage d : {Damage{0, 'X'}, Damage{4, 0} /* width 0 */, Damage{6, 0} /* height 0 */,
                     Damage{8, 12} /* depth */, Damage{9, 3} /* channels */,
                     Damage{12, 55} /* header < record */, Damage{14, 9} /* stride < row */,
                     Damage{6, 5} /* more rows than the file */}) {
        auto bad = good;
        if (d.at == 4 || d.at == 6 || d.at == 12 || d.at == 14) bad[d.at + 1] = 0;
        bad[d.at] = d.value;
        RawDecoder decoder;
        decoder.setSource(bad.data(), bad.size());
        RBaseStream stream;
        EXPECT_FALSE(decoder.readHeader(stream)) << d.at;
        EXPECT_EQ(decoder.dataOffset(), -1);
        EXPECT_EQ(decoder.width(), -1);
        EXPECT_FALSE(stream.isOpened());
        EXPECT_FALSE(decoder.readData(image.get(), stream));
    }

    // readData only fills an image made to the header's measures.
    RawDecoder decoder;
    decoder.setSource(good.data(), good.size());
    RBaseStream stream;
    ImagePtr other = patternImage(4, 4, 16, 1);
    EXPECT_FALSE(decoder.readData(other.get(), stream));  // no header read yet
    ASSERT_TRUE(decoder.readHeader(stream));
    EXPECT_FALSE(decoder.readData(other.get(), stream));
    EXPECT_FALSE(decoder.readData(nullptr, stream));
    stream.close();
    EXPECT_FALSE(decoder.readData(image.get(), stream));
}

TEST(RawFormat, RandomDamageNeverReadsOutsideItsBuffers) {
    ImagePtr image = patternImage(9, 6, 8, 1);
    ScratchDir dir;
    RawEncoder encoder;
    encoder.setDestination(dir.file("a.raw").c_str());
    ASSERT_TRUE(encoder.write(image.get()));
    const auto good = readBytes(dir.file("a.raw"));
    std::mt19937 random(12345);
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        auto bad = good;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i) bad[random() % 20] = static_cast<unsigned char>(random());
        if (random() % 3 == 0) bad.resize(random() % bad.size());
        // Exact-size buffers, so that the sanitizers see any overrun.
        ImagePtr back = decodeBytes(bad);
        if (back) {
            ++accepted;
            ASSERT_EQ(back->channels, 1);
            ASSERT_LE(int64_t{back->header_size} + back->height * int64_t{back->stride},
                      static_cast<int64_t>(bad.size()));
        }
    }
    EXPECT_GT(accepted, 0);  // harmless damage (bayer, resolution, smaller sizes) still reads
}

}  // namespace
