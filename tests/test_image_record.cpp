// The image record: sizes, strides and ownership of its operations.
#include <gtest/gtest.h>

#include <cstring>

#include "processing/image_record.h"

TEST(ImageRecord, CreateComputesStrideAndPixelBlock) {
    _ezImage* image = ezCreateImage(640, 480, 16, 3, 56, 2);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(0, std::memcmp(image->signature, "KVEZ", 4));
    EXPECT_EQ(image->stride, 3840);
    EXPECT_EQ(image->extra - image->data, 1843200);
    EXPECT_EQ(image->header_size, 56);
    EXPECT_EQ(image->resolution, 2);
    EXPECT_EQ(image->decoded, 0);
    // The whole pixel block and the statistics area behind it are writable.
    std::memset(image->data, 0xab, 1843200 + kStatisticsBytes);
    ezReleaseImage(&image);
    EXPECT_EQ(image, nullptr);
    ezReleaseImage(&image);  // safe on null
    ezReleaseImage(nullptr);
}

TEST(ImageRecord, InitHeaderKeepsCameraFields) {
    unsigned char buffer[64 + 5 * 3];
    _ezImage image{};
    image.bayer = 3;
    image.channel_mean[1] = 77;
    image.analog_gain = 500;
    ezInitImageHeader(&image, 5, 3, 1, 8, 56, buffer + 56, 4, 1);
    EXPECT_EQ(image.stride, 5);
    EXPECT_EQ(image.extra, buffer + 56 + 15);
    EXPECT_EQ(image.bayer, 3);
    EXPECT_EQ(image.channel_mean[1], 77);
    EXPECT_EQ(image.analog_gain, 500);
    EXPECT_EQ(image.decoded, 1);
    EXPECT_EQ(image.resolution, 4);
}

TEST(ImageRecord, CopyCarriesMeansBayerAndPixels) {
    ImagePtr source = makeImage(4, 2, 8, 3);
    ImagePtr destination = makeImage(4, 2, 8, 3);
    ASSERT_TRUE(source && destination);
    for (int i = 0; i < 24; ++i) source->data[i] = static_cast<unsigned char>(i);
    source->bayer = 2;
    source->channel_mean[0] = 1;
    source->channel_mean[2] = 9;
    ezCopyImage(destination.get(), source.get());
    EXPECT_EQ(0, std::memcmp(destination->data, source->data, 24));
    EXPECT_EQ(destination->bayer, 2);
    EXPECT_EQ(destination->channel_mean[2], 9);
    ezCopyImage(nullptr, source.get());
    ezCopyImage(destination.get(), nullptr);
}
