// The host simulator's image files: PGM, PPM and PFM in and out, with the
// 16-bit host range and the PFM row order and byte order.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tools/hostsim/image_files.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& header, std::initializer_list<uint8_t> samples) {
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), samples);
    return bytes;
}

void AppendFloat(std::vector<uint8_t>& bytes, float v, bool bigEndian) {
    uint8_t b[4];
    std::memcpy(b, &v, 4);  // the machine is little-endian
    if (bigEndian) std::swap(b[0], b[3]), std::swap(b[1], b[2]);
    bytes.insert(bytes.end(), b, b + 4);
}

TEST(ImageFiles, Reads8BitGreyWithACommentInTheHeader) {
    SimDocument d;
    std::string error;
    ASSERT_TRUE(DecodeImageFile(Bytes("P5\n# made by hand\n3 2\n255\n", {0, 10, 20, 30, 40, 255}), d, &error))
        << error;
    EXPECT_EQ(d.mode, plugInModeGrayScale);
    EXPECT_EQ(d.width, 3);
    EXPECT_EQ(d.height, 2);
    EXPECT_EQ(d.Get(0, 1, 0), 10);
    EXPECT_EQ(d.Get(0, 0, 1), 30);
    EXPECT_EQ(d.Get(0, 2, 1), 255);
}

TEST(ImageFiles, Reads16BitColourIntoTheHostRange) {
    SimDocument d;
    std::string error;
    // Two pixels: white, and mid grey 0x8000 in red only; samples are big-endian.
    ASSERT_TRUE(DecodeImageFile(Bytes("P6 2 1 65535\n", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0, 0, 0, 0}),
                                d, &error))
        << error;
    EXPECT_EQ(d.mode, plugInModeRGB48);
    EXPECT_EQ(d.Get(0, 0, 0), 32768);
    EXPECT_EQ(d.Get(2, 0, 0), 32768);
    EXPECT_EQ(d.Get(0, 1, 0), 16384);
    EXPECT_EQ(d.Get(1, 1, 0), 0);
}

TEST(ImageFiles, ScalesASmallMaxvalToTheFullEightBitRange) {
    SimDocument d;
    ASSERT_TRUE(DecodeImageFile(Bytes("P5 2 1 15\n", {15, 5}), d, nullptr));
    EXPECT_EQ(d.Get(0, 0, 0), 255);
    EXPECT_EQ(d.Get(0, 1, 0), 85);
}

TEST(ImageFiles, ReadsPfmBottomRowFirstInEitherByteOrder) {
    for (bool bigEndian : {false, true}) {
        std::vector<uint8_t> bytes;
        const std::string header = std::string("Pf\n2 2\n") + (bigEndian ? "1.0\n" : "-1.0\n");
        bytes.assign(header.begin(), header.end());
        for (float v : {0.5f, 0.25f, 2.0f, -1.0f}) AppendFloat(bytes, v, bigEndian);  // bottom row, then top row
        SimDocument d;
        std::string error;
        ASSERT_TRUE(DecodeImageFile(bytes, d, &error)) << error;
        EXPECT_EQ(d.mode, plugInModeGray32);
        EXPECT_EQ(d.Get(0, 0, 1), 0.5);
        EXPECT_EQ(d.Get(0, 1, 1), 0.25);
        EXPECT_EQ(d.Get(0, 0, 0), 2.0);
        EXPECT_EQ(d.Get(0, 1, 0), -1.0);
    }
}

TEST(ImageFiles, RejectsWhatItCannotRead) {
    SimDocument d;
    std::string error;
    EXPECT_FALSE(DecodeImageFile(Bytes("P2 1 1 255\n", {'7'}), d, &error));  // text PGM
    EXPECT_NE(error.find("binary"), std::string::npos) << error;
    EXPECT_FALSE(DecodeImageFile(Bytes("P5 4 4 255\n", {1, 2, 3}), d, &error));
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;
    EXPECT_FALSE(DecodeImageFile(Bytes("P5 4 0 255\n", {}), d, &error));
    EXPECT_FALSE(DecodeImageFile(Bytes("P6 1 1 70000\n", {0, 0, 0, 0, 0, 0}), d, &error));
    EXPECT_FALSE(DecodeImageFile(Bytes("PF 1 1 0\n", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), d, &error));
    EXPECT_FALSE(DecodeImageFile(Bytes("GIF89a", {}), d, &error));
}

class RoundTrip : public ::testing::TestWithParam<int16> {};

TEST_P(RoundTrip, EveryModeComesBackSampleForSample) {
    SimDocument original = MakeSimDocument(GetParam(), 23, 11);
    FillSkyPattern(original, 7);
    const std::string path = TestScratchFolder() + "/roundtrip-" + std::to_string(GetParam()) + ".img";
    std::string error;
    ASSERT_TRUE(WriteImageFile(path, original, &error)) << error;
    SimDocument back;
    ASSERT_TRUE(ReadImageFile(path, back, &error)) << error;
    EXPECT_EQ(back.mode, original.mode);
    EXPECT_EQ(back.width, 23);
    EXPECT_EQ(back.height, 11);
    EXPECT_TRUE(back.planes == original.planes);
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(ImageFiles, RoundTrip,
                         ::testing::Values(plugInModeGrayScale, plugInModeRGBColor, plugInModeGray16, plugInModeRGB48,
                                           plugInModeRGB96, plugInModeGray32));

TEST(ImageFiles, WritesSixteenBitWhiteAsTheFileMaximum) {
    SimDocument d = MakeSimDocument(plugInModeGray16, 2, 1);
    d.Set(0, 0, 0, 32768);
    d.Set(0, 1, 0, 16384);
    const std::vector<uint8_t> bytes = EncodeImageFile(d);
    const std::string header = "P5\n2 1\n65535\n";
    ASSERT_EQ(bytes.size(), header.size() + 4);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<long>(header.size())), header);
    EXPECT_EQ(bytes[header.size()], 0xFF);
    EXPECT_EQ(bytes[header.size() + 1], 0xFF);
    EXPECT_EQ(bytes[header.size() + 2] << 8 | bytes[header.size() + 3], 32768);
}

}  // namespace
