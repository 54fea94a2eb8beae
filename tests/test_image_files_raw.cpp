// The RAW format: the header as the record lies in memory, the file size, the
// round trip through RawDecoder, and refusal of truncated or corrupted files.
#include <gtest/gtest.h>

#include <random>

#include "ezImage/grfmt_raw.h"
#include "image_files_support.h"

namespace {

// Decodes as ezLoadImage does, from memory or (when bytes is null) a file.
ImagePtr decode(const Bytes* bytes, const std::string& path = "") {
    RawDecoder decoder;
    bytes ? decoder.setSource(bytes->data(), bytes->size()) : decoder.setSource(path.c_str());
    RBaseStream stream;
    if (!decoder.readHeader(stream)) return nullptr;
    ImagePtr image(ezCreateImage(decoder.width(), decoder.height(), decoder.depth(),
                                 decoder.channels(), decoder.dataOffset(), 1));
    return image && decoder.readData(image.get(), stream) ? std::move(image) : nullptr;
}

Bytes rawFile(const _ezImage* image, const ScratchDir& dir) {
    RawEncoder encoder;
    encoder.setDestination(dir.file("a.raw").c_str());
    EXPECT_TRUE(encoder.write(image));
    return readBytes(dir.file("a.raw"));
}

TEST(RawFormat, FramesKeepTheirWholeHeaderAreaAndReadBack) {
    ScratchDir dir;
    // A camera frame: the record, the rest of a 512-byte header, the pixels.
    Bytes frame(512 + 1600 * 1200);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<unsigned char>(i * 31 + i / 977);
    auto* record = reinterpret_cast<_ezImage*>(frame.data());
    ezInitImageHeader(record, 1600, 1200, 1, 8, 512, frame.data() + 512, 3, 0);
    const Bytes bytes = rawFile(record, dir);
    ASSERT_EQ(bytes.size(), 512u + 1'920'000);
    for (size_t i = 0; i < bytes.size(); ++i)  // byte for byte, except the two pointers
        ASSERT_EQ(bytes[i], i >= 16 && i < 32 ? 0 : frame[i]) << i;
    ImagePtr back = decode(nullptr, dir.file("a.raw"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->header_size, 512);
    EXPECT_EQ(0, std::memcmp(back->data, frame.data() + 512, 1600 * 1200));

    // Records apart from their pixels: header bytes the buffer lacks are zeros.
    for (int depth : {8, 16}) {
        ImagePtr image = testImage(13, 7, depth, 1);
        image->header_size = 100;
        const Bytes file = rawFile(image.get(), dir);
        ASSERT_EQ(file.size(), 100u + 7 * image->stride);
        EXPECT_TRUE(
            std::all_of(file.begin() + 56, file.begin() + 100, [](int b) { return b == 0; }));
        ImagePtr again = decode(&file);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->depth, depth);
        EXPECT_EQ(0, std::memcmp(again->data, image->data, 7 * image->stride));
    }
    ImagePtr tooShort = testImage(4, 4, 8, 1);
    tooShort->header_size = 40;  // cannot hold the record
    RawEncoder encoder;
    encoder.setDestination(dir.file("b.raw").c_str());
    EXPECT_FALSE(encoder.write(tooShort.get()));
}

TEST(RawFormat, TruncatedAndCorruptedFilesAreRefused) {
    ScratchDir dir;
    ImagePtr image = testImage(5, 4, 16, 1);
    const Bytes good = rawFile(image.get(), dir);
    ASSERT_EQ(good.size(), 56u + 40);
    for (size_t length = 0; length < good.size(); ++length) {
        const Bytes cut(good.begin(), good.begin() + length);
        writeBytes(dir.file("cut"), cut);
        EXPECT_FALSE(decode(&cut)) << length;
        EXPECT_FALSE(decode(nullptr, dir.file("cut"))) << length;
    }
    // Signature, width 0, height 0, depth 12, 3 channels, header shorter than
    // the record, stride shorter than a row, more rows than the file holds.
    const std::pair<size_t, int> damage[] = {{0, 'X'}, {4, 0},   {6, 0},  {8, 12},
                                             {9, 3},   {12, 55}, {14, 9}, {6, 5}};
    for (auto [at, value] : damage) {
        Bytes bad = good;
        bad[at] = static_cast<unsigned char>(value);
        if (at == 4 || at == 6 || at >= 12) bad[at + 1] = 0;  // the 16-bit fields
        RawDecoder decoder;
        decoder.setSource(bad.data(), bad.size());
        RBaseStream stream;
        EXPECT_FALSE(decoder.readHeader(stream)) << at;
        EXPECT_EQ(decoder.dataOffset(), -1);
        EXPECT_FALSE(stream.isOpened());
        EXPECT_FALSE(decoder.readData(image.get(), stream));
    }
    // Only an image of the header's measures takes the rows.
    RawDecoder decoder;
    decoder.setSource(good.data(), good.size());
    RBaseStream stream;
    ImagePtr other = testImage(4, 4, 16, 1);
    ASSERT_TRUE(decoder.readHeader(stream));
    EXPECT_FALSE(decoder.readData(other.get(), stream));
    stream.close();
    EXPECT_FALSE(decoder.readData(image.get(), stream));
}

TEST(RawFormat, RandomDamageNeverLeavesTheBuffers) {
    ScratchDir dir;
    ImagePtr image = testImage(9, 6, 8, 1);
    const Bytes good = rawFile(image.get(), dir);
    std::mt19937 random(12345);
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        Bytes bad = good;  // exact size, so the sanitizers see any overrun
        for (int flips = 1 + random() % 4; flips > 0; --flips)
            bad[random() % 20] = static_cast<unsigned char>(random());
        if (random() % 3 == 0) bad.resize(random() % bad.size());
        if (ImagePtr back = decode(&bad)) {
            ++accepted;
            ASSERT_LE(back->header_size + size_t{back->height} * back->stride, bad.size());
        }
    }
    EXPECT_GT(accepted, 0);  // damage to bayer, resolution or a smaller size still reads
}

}  // namespace
