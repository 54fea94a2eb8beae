// Byte streams and the format registry: block flushing and refilling,
// little-endian access, misuse, extension matching and signature probing.
#include <gtest/gtest.h>

#include <thread>

#include "ezImage/grfmt_raw.h"
#include "ezImage/registry.h"
#include "image_files_support.h"

namespace {

TEST(ByteStreams, WritesFlushAtEveryFullBlockInLittleEndian) {
    ScratchDir dir;
    WBaseStream out;
    ASSERT_TRUE(out.open(dir.file("w").c_str()));
    const Bytes block(32768, 0xab);
    out.putBytes(block.data(), 32767);
    EXPECT_EQ(out.written(), 0);
    out.putByte(1);  // the block's last byte flushes it at once
    EXPECT_EQ(out.buffered(), 0);
    EXPECT_EQ(out.written(), 32768);
    out.putBytes(block.data(), 32766);
    out.putDWord(0x04030201);  // straddles the next flush
    out.putWord(0x1234);
    out.putBytes(nullptr, 0);  // nothing, and not a failure
    EXPECT_EQ(out.getPos(), 65540);
    ASSERT_TRUE(out.close());
    const Bytes b = readBytes(dir.file("w"));
    ASSERT_EQ(b.size(), 65540u);
    EXPECT_EQ(b[32767], 1);
    EXPECT_EQ(le32(b, 65534), 0x04030201u);
    EXPECT_EQ(b[65538], 0x34);
    EXPECT_EQ(b[65539], 0x12);
}

TEST(ByteStreams, ReadsRefillAcrossBlocksAndStopAtTheEnd) {
    ScratchDir dir;
    Bytes bytes(70000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + i / 300);
    for (int at : {32766, 65535, 100}) std::copy_n("\1\2\3\4", 4, bytes.begin() + at);
    writeBytes(dir.file("r"), bytes);
    RBaseStream file, memory;
    ASSERT_TRUE(file.open(dir.file("r").c_str()));
    ASSERT_TRUE(memory.open(bytes.data(), bytes.size()));
    for (RBaseStream* in : {&file, &memory}) {
        for (int at : {32766, 65535, 100}) {  // across both block boundaries, then back
            ASSERT_TRUE(in->setPos(at));
            EXPECT_EQ(in->getDWord(), 67305985u) << at;
        }
        ASSERT_TRUE(in->setPos(40000));  // the middle of a block not held
        EXPECT_EQ(in->getByte(), bytes[40000]);
        ASSERT_TRUE(in->skip(20000));  // into yet another block
        EXPECT_EQ(in->getWord(), bytes[60001] | bytes[60002] << 8);
        Bytes all(bytes.size() + 10);
        ASSERT_TRUE(in->setPos(0));
        EXPECT_FALSE(in->eof());
        EXPECT_EQ(in->getBytes(all.data(), all.size()), 70000);  // short at the end, no loop
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), all.begin()));
        EXPECT_TRUE(in->eof());
        EXPECT_EQ(in->getDWord(), 0u);
    }
}

TEST(ByteStreams, MisuseAndFailedWritesAreRefusedNotFatal) {
    ScratchDir dir;
    RBaseStream in;
    EXPECT_EQ(in.getByte(), 0);
    EXPECT_FALSE(in.setPos(0));
    EXPECT_EQ(in.getPos(), -1);
    EXPECT_FALSE(in.open(dir.file("missing").c_str()));
    writeBytes(dir.file("r"), {1, 2, 3});
    ASSERT_TRUE(in.open(dir.file("r").c_str()));
    EXPECT_FALSE(in.setPos(-1));
    EXPECT_FALSE(in.skip(-1));
    EXPECT_EQ(in.getBytes(nullptr, 2), 0);
    EXPECT_EQ(in.getWord(), 0x0201);
    EXPECT_EQ(in.getWord(), 3);  // the byte past the end reads as 0

    WBaseStream out;
    out.putByte(1);
    out.putDWord(3);
    EXPECT_FALSE(out.writeBlock());
    EXPECT_FALSE(out.close());
    EXPECT_FALSE(out.open(dir.file("no/dir").c_str()));
    ASSERT_TRUE(out.open(dir.file("w").c_str()));
    out.putBytes(nullptr, 4);
    EXPECT_FALSE(out.close());  // a refused call makes the file incomplete
}

class Registry : public testing::Test {
  protected:
    void SetUp() override { ezInitGrfmt(); }
    void TearDown() override { exExitGrfmt(); }
    ScratchDir dir;
};

TEST_F(Registry, ChoosesTheEncoderByTheWholeExtensionIgnoringCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"a.JPG", "jpg"},  {"a.jpe", "jpg"},  {"d/a.JpEg", "jpg"}, {"a.TIF", "tif"},
        {"a.tiff", "tif"}, {"a.dib", "bmp"},  {"a.raw", "raw"},    {"a.png!", "png"},
        {"a", ""},         {"a.", ""},        {".", ""},           {"a.ti", ""},
        {"a.pngx", ""},    {"dir.old/a", ""}, {"a.tif.bak", ""}};
    for (auto [name, format] : cases) {
        BaseImageEncoder* expected =
            *format ? findEncoder((std::string("x.") + format).c_str()) : nullptr;
        EXPECT_EQ(findEncoder(name), expected) << name;
    }
    EXPECT_NE(findEncoder("x.jpg"), findEncoder("x.tif"));
    EXPECT_EQ(findEncoder("x.tif")->getDescription(), "TIFF Files (*.tiff;*.tif)");
    exExitGrfmt();
    EXPECT_EQ(findEncoder("a.png"), nullptr);
}

TEST_F(Registry, RefusedSavesLeaveNoFile) {
    ImagePtr two = testImage(4, 4, 8, 2), five = testImage(4, 4, 8, 5), rgb = testImage(4, 4, 8, 3);
    EXPECT_FALSE(ezSaveImage(dir.file("a.png").c_str(), two.get()));
    EXPECT_FALSE(ezSaveImage(dir.file("b.png").c_str(), five.get()));
    EXPECT_FALSE(ezSaveImage(dir.file("c.gif").c_str(), rgb.get()));
    EXPECT_FALSE(ezSaveImage(dir.file("d.png").c_str(), nullptr));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path));
    exExitGrfmt();
    EXPECT_FALSE(ezSaveImage(dir.file("e.png").c_str(), rgb.get()));
}

TEST_F(Registry, LoadsOnlyThroughADecoderThatAcceptsTheSignature) {
    ImagePtr image = testImage(7, 3, 16, 1);
    const std::string raw = dir.file("a.raw"), shortFile = dir.file("short");
    ASSERT_TRUE(ezSaveImage(raw.c_str(), image.get()));
    writeBytes(shortFile, {'K', 'V'});
    EXPECT_EQ(ezLoadImage(raw.c_str()), nullptr);  // none registered
    ezAddDecoder(std::make_unique<RawDecoder>());
    EXPECT_NE(findDecoder(raw.c_str()), nullptr);
    for (const std::string& name : {shortFile, dir.file("missing")}) {
        EXPECT_EQ(findDecoder(name.c_str()), nullptr) << name;
        EXPECT_EQ(ezLoadImage(name.c_str()), nullptr) << name;
    }
    ImagePtr loaded(ezLoadImage(raw.c_str()));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->depth, 16);
    EXPECT_EQ(0, std::memcmp(loaded->data, image->data, 7 * 3 * 2));
}

TEST_F(Registry, ConcurrentSavesKeepTheirOwnDestinations) {
    ImagePtr grey = testImage(64, 64, 8, 1), rgb = testImage(64, 64, 8, 3);
    auto save = [&](const _ezImage* image, std::string prefix) {
        for (int i = 0; i < 20; ++i)
            EXPECT_TRUE(ezSaveImage(dir.file(prefix + std::to_string(i) + ".png").c_str(), image));
    };
    std::thread one(save, grey.get(), "g"), two(save, rgb.get(), "c");
    one.join();
    two.join();
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(readPng(dir.file("g" + std::to_string(i) + ".png")).channels, 1);
        EXPECT_EQ(readPng(dir.file("c" + std::to_string(i) + ".png")).channels, 3);
    }
}

}  // namespace
