#include "frame_header.h"

#include <gtest/gtest.h>

#include <vector>

namespace plumo {
namespace {

int Parse(std::vector<uint8_t> bytes, FrameHeader& h, int available = 0) {
  bytes.resize(std::max<size_t>(bytes.size(), 4));
  return ParseFrameHeader(bytes.data(), available, h);
}

TEST(FrameHeader, Mpeg1Layer3FieldsLengthAndBitrate) {
  const uint8_t bytes[4] = {0xFF, 0xFB, 0x90, 0x64};
  FrameHeader h;
  int bitrate = -1;
  EXPECT_EQ(ParseFrameHeaderAndBitrate(bytes, 0, h, bitrate), 417);
  EXPECT_EQ(bitrate, 128000);
  EXPECT_EQ(h.sync_kind, 1);
  EXPECT_EQ(h.id, 1);
  EXPECT_EQ(h.layer_code, 1);
  EXPECT_EQ(h.mode, 1);
  EXPECT_EQ(h.mode_extension, 2);
  EXPECT_EQ(h.protection_bit, 1);
  // The padding slot is never part of the length.
  EXPECT_EQ(Parse({0xFF, 0xFB, 0x92, 0x64}, h), 417);
  EXPECT_EQ(h.padding_bit, 1);
  EXPECT_EQ(PaddedFrameLength(h, 417), 418);
}

TEST(FrameHeader, LengthsAcrossLayersAndVersions) {
  FrameHeader h;
  // MPEG-1 Layer I, 32 kbit/s, 44.1 kHz: 4 * floor(7680 / 882).
  EXPECT_EQ(Parse({0xFF, 0xFF, 0x10, 0x00}, h), 32);
  EXPECT_EQ(PaddedFrameLength(FrameHeader{.layer_code = 3, .padding_bit = 1}, 32), 36);
  // MPEG-2 Layer III, 8 kbit/s, 22.05 kHz, and the same with the MPEG-2.5 sync (11.025 kHz).
  EXPECT_EQ(Parse({0xFF, 0xF3, 0x10, 0x00}, h), 26);
  EXPECT_EQ(Parse({0xFF, 0xE3, 0x10, 0x00}, h), 52);
  EXPECT_EQ(h.sync_kind, 2);
  EXPECT_EQ(SampleRateHz(h), 11025);
  // MPEG-1 Layer II, 384 kbit/s, 48 kHz: 2880 * 384 / 960.
  EXPECT_EQ(Parse({0xFF, 0xFD, 0xE4, 0x00}, h), 1152);
}

TEST(FrameHeader, Mpeg25SyncAcceptedWhateverItsIdBit) {
  FrameHeader h;
  // 0xEB: MPEG-2.5 sync with id 1 selects the MPEG-1 tables.
  const int length = Parse({0xFF, 0xEB, 0x90, 0x00}, h);
  EXPECT_EQ(h.sync_kind, 2);
  EXPECT_EQ(h.id, 1);
  EXPECT_EQ(length, 2880 * 128 / 882);
}

TEST(FrameHeader, InvalidHeadersKeepTheirFields) {
  FrameHeader h;
  EXPECT_EQ(Parse({0xFF, 0xF9, 0x90, 0x00}, h), 0);  // layer_code 0
  EXPECT_EQ(h.sync_kind, 1);
  EXPECT_EQ(h.layer_code, 0);
  EXPECT_EQ(Parse({0xFF, 0xFB, 0xF0, 0x00}, h), 0);  // bitrate_index 15
  EXPECT_EQ(h.bitrate_index, 15);
  EXPECT_LE(Parse({0xFF, 0xFB, 0x9C, 0x00}, h), 0);  // sampling_frequency 3
  EXPECT_EQ(h.sampling_frequency, 3);
  EXPECT_EQ(Parse({0xFF, 0xDB, 0x90, 0x00}, h), 0);  // no sync
  EXPECT_EQ(h.sync_kind, 0);
  EXPECT_EQ(Parse({0xFE, 0xFB, 0x90, 0x00}, h), 0);
  // Free format needs bytes to measure.
  EXPECT_EQ(Parse({0xFF, 0xFB, 0x00, 0x00}, h, 0), 0);
}

TEST(FrameHeader, FindOnlyExaminesTheFirstSync) {
  std::vector<uint8_t> buf = {0x00, 0x12, 0xFF, 0xF9, 0x90, 0x00, 0xFF, 0xFB, 0x90, 0x64};
  FrameHeader h;
  int bitrate = 0, offset = -1;
  EXPECT_LE(FindFrameHeader(buf.data(), static_cast<int>(buf.size()), h, bitrate, offset), 0);
  EXPECT_EQ(offset, 2);
  buf[3] = 0x00;  // no false sync any more
  EXPECT_EQ(FindFrameHeader(buf.data(), static_cast<int>(buf.size()), h, bitrate, offset), 417);
  EXPECT_EQ(offset, 6);
  std::vector<uint8_t> none(100, 0x55);
  offset = 77;
  EXPECT_EQ(FindFrameHeader(none.data(), 100, h, bitrate, offset), 0);
  EXPECT_EQ(offset, 77);
  // A sync pair in the last bytes has no room for a header.
  std::vector<uint8_t> tail = {0x00, 0x00, 0xFF, 0xFB};
  EXPECT_EQ(FindFrameHeader(tail.data(), 4, h, bitrate, offset), 0);
}

// Builds a free-format stream: frames of `length` bytes (plus padding where set).
std::vector<uint8_t> FreeFormatStream(int length, int frames, bool padded_first = false) {
  std::vector<uint8_t> s;
  for (int f = 0; f < frames; ++f) {
    const bool pad = padded_first && f == 0;
    const size_t start = s.size();
    s.resize(start + length + (pad ? 1 : 0), 0x11);
    s[start] = 0xFF;
    s[start + 1] = 0xFB;
    s[start + 2] = pad ? 0x02 : 0x00;
    s[start + 3] = 0x44;
  }
  return s;
}

TEST(FrameHeader, FreeFormatLengthMeasured) {
  const std::vector<uint8_t> s = FreeFormatStream(1306, 6);
  FrameHeader h;
  int bitrate = 0;
  EXPECT_EQ(ParseFrameHeaderAndBitrate(s.data(), static_cast<int>(s.size()), h, bitrate), 1306);
  EXPECT_EQ(bitrate, 882 * 1306 * 1000 / 2880);
  // With a padded first frame the padding is taken off the measured distance.
  const std::vector<uint8_t> p = FreeFormatStream(600, 6, true);
  EXPECT_EQ(FindFreeFormatLength(p.data(), static_cast<int>(p.size())), 600);
}

TEST(FrameHeader, FreeFormatNeedsAFurtherMatchingHeader) {
  // Only one frame in the window: nothing confirms the distance.
  const std::vector<uint8_t> one = FreeFormatStream(400, 1);
  EXPECT_EQ(FindFreeFormatLength(one.data(), static_cast<int>(one.size())), 0);
  // A false match below 24 bytes is never accepted.
  std::vector<uint8_t> s = FreeFormatStream(400, 5);
  s[10] = 0xFF;
  s[11] = 0xFB;
  EXPECT_EQ(FindFreeFormatLength(s.data(), static_cast<int>(s.size())), 400);
}

TEST(FrameHeader, SameStreamMask) {
  const uint8_t a[4] = {0xFF, 0xFB, 0x90, 0x64};
  const uint8_t b[4] = {0xFF, 0xFA, 0xB2, 0xC0};  // CRC, bit rate, padding and mode differ
  const uint8_t c[4] = {0xFF, 0xFB, 0x94, 0x64};  // sampling frequency differs
  const uint8_t d[4] = {0xFF, 0xF3, 0x90, 0x64};  // version differs
  EXPECT_TRUE(SameStream(a, b));
  EXPECT_FALSE(SameStream(a, c));
  EXPECT_FALSE(SameStream(a, d));
}

}  // namespace
}  // namespace plumo
