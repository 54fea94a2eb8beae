// Byte streams and the format registry: block flushing and refilling,
// little-endian access, misuse, extension matching and signature probing.
#include <gtest/gtest.h>

#include <thread>

#include "ezImage/bitstrm.h"
#include "ezImage/grfmt_raw.h"
#include "ezImage/registry.h"
#include "image_files_support.h"

namespace {

TEST(WriteStream, FlushesExactlyWhenTheBlockFillsAndWritesLittleEndian) {
    ScratchDir dir;
    const std::string path = dir.file("w.bin");
    WBaseStream stream;
    ASSERT_TRUE(stream.open(path.c_str()));
    std::vector<unsigned char> block(32768, 0xab);
    stream.putBytes(block.data(), 32767);
    EXPECT_EQ(stream.written(), 0);
    stream.putByte(1);  // the last byte of the block flushes at once
    EXPECT_EQ(stream.buffered(), 0);
    EXPECT_EQ(stream.written(), 32768);
    stream.putBytes(block.data(), 32768);
    EXPECT_EQ(stream.buffered(), 0);
    EXPECT_EQ(stream.written(), 65536);
    stream.putBytes(block.data(), 32766);
    stream.putDWord(0x04030201);  // straddles the block boundary
    stream.putWord(0x1234);
    stream.putBytes(nullptr, 0);  // nothing, and no failure
    EXPECT_EQ(stream.getPos(), 65536 + 32766 + 6);
    ASSERT_TRUE(stream.close());
    const auto bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 65536u + 32766 + 6);
    EXPECT_EQ(bytes[32767], 1);
    EXPECT_EQ(le32(bytes, 65536 + 32766), 0x04030201u);
    EXPECT_EQ(bytes[65536 + 32766 + 4], 0x34);
    EXPECT_EQ(bytes[65536 + 32766 + 5], 0x12);
}

TEST(WriteStream, MisuseAndWriteErrorsAreReportedNotFatal) {
    WBaseStream closed;
    closed.putByte(1);
    closed.putWord(2);
    closed.putDWord(3);
    closed.putBytes("x", 1);
    EXPECT_FALSE(closed.writeBlock());
    EXPECT_EQ(closed.getPos(), -1);
    EXPECT_FALSE(closed.close());

    ScratchDir dir;
    WBaseStream stream;
    ASSERT_TRUE(stream.open(dir.file("a").c_str()));
    stream.putBytes(nullptr, 4);
    stream.putBytes("abc", -1);
    EXPECT_FALSE(stream.close());  // the refused calls count as failures
    EXPECT_FALSE(stream.open(dir.file("missing/a").c_str()));

    // A full device: the write stream must not claim success.
    ASSERT_TRUE(stream.open("/dev/full"));
    std::vector<unsigned char> block(100000, 7);
    stream.putBytes(block.data(), static_cast<int64_t>(block.size()));
    EXPECT_FALSE(stream.close());
}

TEST(ReadStream, DeliversLittleEndianValuesAcrossBlockBoundaries) {
    ScratchDir dir;
    const std::string path = dir.file("r.bin");
    std::vector<unsigned char> bytes(70000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    for (int at : {32766, 65535, 100}) {
        bytes[at] = 1, bytes[at + 1] = 2, bytes[at + 2] = 3, bytes[at + 3] = 4;
    }
    writeBytes(path, bytes);

    RBaseStream stream;
    ASSERT_TRUE(stream.open(path.c_str()));
    for (int at : {32766, 65535, 100}) {  // across both boundaries, then back into block 0
        ASSERT_TRUE(stream.setPos(at));
        EXPECT_EQ(stream.getDWord(), 67305985u) << at;
        EXPECT_EQ(stream.getPos(), at + 4);
    }
    ASSERT_TRUE(stream.setPos(32767));
    EXPECT_EQ(stream.getWord(), 0x0302);
    // Jumping into the middle of another block delivers that block's bytes there.
    ASSERT_TRUE(stream.setPos(40000));
    EXPECT_EQ(stream.getByte(), bytes[40000]);
    ASSERT_TRUE(stream.setPos(5));
    EXPECT_EQ(stream.getByte(), bytes[5]);
    ASSERT_TRUE(stream.skip(50000));
    EXPECT_EQ(stream.getByte(), bytes[50006]);

    std::vector<unsigned char> all(bytes.size());
    ASSERT_TRUE(stream.setPos(0));
    EXPECT_EQ(stream.getBytes(all.data(), 70000), 70000);
    EXPECT_EQ(all, bytes);
    EXPECT_FALSE(stream.eof());

    // The same from memory.
    RBaseStream memory;
    ASSERT_TRUE(memory.open(bytes.data(), bytes.size()));
    ASSERT_TRUE(memory.setPos(65535));
    EXPECT_EQ(memory.getDWord(), 67305985u);
}

TEST(ReadStream, EndOfDataAndMisuseStopCleanly) {
    ScratchDir dir;
    const std::string path = dir.file("short.bin");
    writeBytes(path, {1, 2, 3});
    RBaseStream stream;
    ASSERT_TRUE(stream.open(path.c_str()));
    unsigned char out[10] = {};
    EXPECT_EQ(stream.getBytes(out, 10), 3);  // stops at the end, does not loop
    EXPECT_TRUE(stream.eof());
    EXPECT_EQ(stream.getByte(), 0);
    EXPECT_EQ(stream.getDWord(), 0u);
    ASSERT_TRUE(stream.setPos(1'000'000));
    EXPECT_EQ(stream.getWord(), 0);
    EXPECT_FALSE(stream.setPos(-1));
    EXPECT_FALSE(stream.skip(-1));
    EXPECT_EQ(stream.getBytes(out, -1), 0);

    const unsigned char two[2] = {9, 8};
    RBaseStream memory;
    ASSERT_TRUE(memory.open(two, 2));
    EXPECT_EQ(memory.getDWord(), 0x0809u);  // the missing bytes read as 0
    EXPECT_TRUE(memory.eof());

    stream.close();
    EXPECT_EQ(stream.getPos(), -1);
    EXPECT_FALSE(stream.setPos(0));
    EXPECT_EQ(stream.getByte(), 0);
    EXPECT_FALSE(stream.open(dir.file("missing").c_str()));
    ASSERT_TRUE(stream.open(path.c_str()));  // a stream can be reopened
    EXPECT_EQ(stream.getByte(), 1);
}

class Registry : public testing::Test {
  protected:
    void SetUp() override { ezInitGrfmt(); }
    void TearDown() override { exExitGrfmt(); }
    static std::string chosen(const char* name) {
        BaseImageEncoder* encoder = findEncoder(name);
        return encoder ? encoder->getDescription() : "none";
    }
};

TEST_F(Registry, ChoosesTheEncoderByWholeExtensionIgnoringCase) {
    const std::string tiff = "TIFF Files (*.tiff;*.tif)", jpeg = "JPEG files (*.jpeg;*.jpg;*.jpe)";
    EXPECT_EQ(chosen("a.JPG"), jpeg);
    EXPECT_EQ(chosen("a.jpe"), jpeg);
    EXPECT_EQ(chosen("x/a.JpEg"), jpeg);
    EXPECT_EQ(chosen("a.TIF"), tiff);
    EXPECT_EQ(chosen("a.tiff"), tiff);
    EXPECT_EQ(chosen("a.dib"), "Windows bitmap (*.bmp;*.dib)");
    EXPECT_EQ(chosen("a.raw"), "(*.raw)");
    EXPECT_EQ(chosen("b.png"), "Portable Network Graphics files (*.png)");
    for (const char* none :
         {"a", "a.", ".", "x", "a.ti", "a.pngx", "a.jp", "dir.old/a", "a.tif.bak", "a.t-if"})
        EXPECT_EQ(chosen(none), "none") << none;
    EXPECT_EQ(chosen("a.png!"), "Portable Network Graphics files (*.png)");  // the run stops at '!'
    EXPECT_EQ(findEncoder(nullptr), nullptr);
    exExitGrfmt();
    EXPECT_EQ(chosen("a.png"), "none");
}

TEST_F(Registry, SaveRefusesWithoutTouchingTheFileSystem) {
    ScratchDir dir;
    ImagePtr two = makeImage(4, 4, 8, 2), five = makeImage(4, 4, 8, 5),
             good = makeImage(4, 4, 8, 3);
    std::fill(good->data, good->data + good->stride * 4, 9);
    EXPECT_FALSE(ezSaveImage(dir.file("a.png").c_str(), two.get()));
    EXPECT_FALSE(ezSaveImage(dir.file("b.png").c_str(), five.get()));
    EXPECT_FALSE(ezSaveImage(dir.file("c.gif").c_str(), good.get()));
    EXPECT_FALSE(ezSaveImage(dir.file("d.png").c_str(), nullptr));
    for (const char* name : {"a.png", "b.png", "c.gif"})
        EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;
    EXPECT_TRUE(ezSaveImage(dir.file("e.png").c_str(), good.get()));
    exExitGrfmt();
    EXPECT_FALSE(ezSaveImage(dir.file("f.png").c_str(), good.get()));
}

TEST_F(Registry, LoadFindsDecodersBySignatureOnly) {
    ScratchDir dir;
    ImagePtr image = patternImage(7, 3, 16, 1);
    const std::string raw = dir.file("a.raw"), shortFile = dir.file("short"),
                      empty = dir.file("empty");
    ASSERT_TRUE(ezSaveImage(raw.c_str(), image.get()));
    writeBytes(shortFile, {'K', 'V'});
    writeBytes(empty, {});
    // Nothing is registered to read: every load fails.
    EXPECT_EQ(findDecoder(raw.c_str()), nullptr);
    EXPECT_EQ(ezLoadImage(raw.c_str()), nullptr);

    ezAddDecoder(std::make_unique<RawDecoder>());
    EXPECT_NE(findDecoder(raw.c_str()), nullptr);
    for (const std::string& name : {shortFile, empty, dir.file("missing")}) {
        EXPECT_EQ(findDecoder(name.c_str()), nullptr) << name;
        EXPECT_EQ(ezLoadImage(name.c_str()), nullptr) << name;
    }
    _ezImage* loaded = ezLoadImage(raw.c_str());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->width, 7);
    EXPECT_EQ(loaded->depth, 16);
    EXPECT_EQ(0, std::memcmp(loaded->data, image->data, 7 * 3 * 2));
    ezReleaseImage(&loaded);
}

TEST_F(Registry, ConcurrentSavesKeepTheirOwnDestinations) {
    ScratchDir dir;
    ImagePtr a = patternImage(64, 64, 8, 1), b = patternImage(64, 64, 8, 3);
    auto save = [&](const _ezImage* image, const char* prefix) {
        for (int i = 0; i < 20; ++i) {
            const std::string name = dir.file(prefix + std::to_string(i) + ".png");
            EXPECT_TRUE(ezSaveImage(name.c_str(), image));
        }
    };
    std::thread one(save, a.get(), "a"), two(save, b.get(), "b");
    one.join();
    two.join();
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(readPng(dir.file("a" + std::to_string(i) + ".png")).channels, 1);
        EXPECT_EQ(readPng(dir.file("b" + std::to_string(i) + ".png")).channels, 3);
    }
}

}  // namespace
