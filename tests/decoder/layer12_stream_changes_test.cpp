// Layer II streams whose frames change mode or allocation table part-way: two shipped files
// joined into one decode as their parts do, the output keeping the format of the first frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "decoded_stream.h"
#include "test_files.h"

namespace plumo {
namespace {

using test::Decoded;
using test::DecodeBytes;

std::vector<uint8_t> Read(const std::string& relative) { return test::ReadFile(test::DataPath(relative)); }

std::vector<uint8_t> Join(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  std::vector<uint8_t> joined = a;
  joined.insert(joined.end(), b.begin(), b.end());
  return joined;
}

// Sample frames of the second part after which the synthesis holds none of the first part's
// history: one Layer II frame.
constexpr size_t kSettle = 1152;

// The joined decode is the first part's decode followed by the second part's, the second part's
// channel c taken from channel source_channel[c] of its own decode.
void ExpectJoinedDecodesAsParts(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const Decoded da = DecodeBytes(a), db = DecodeBytes(b), joined = DecodeBytes(Join(a, b));
  ASSERT_GT(da.frames, 0);
  ASSERT_GT(db.frames, 0);
  EXPECT_EQ(joined.frames, da.frames + db.frames);
  const int out_ch = joined.info.format.channels;
  const int b_ch = db.info.format.channels;
  ASSERT_EQ(out_ch, da.info.format.channels);
  ASSERT_EQ(joined.pcm.size(), da.pcm.size() + db.pcm.size() / b_ch * out_ch);

  // The first part is unchanged.
  for (size_t i = 0; i < da.pcm.size(); ++i) ASSERT_EQ(joined.pcm[i], da.pcm[i]) << "first part, sample " << i;

  // The second part: a one-channel part plays on both channels, a two-channel part in a
  // one-channel stream plays its channels mixed at half amplitude each.
  const size_t frames_b = db.pcm.size() / b_ch;
  int worst = 0;
  for (size_t t = kSettle; t < frames_b; ++t) {
    for (int c = 0; c < out_ch; ++c) {
      const int ours = joined.pcm[da.pcm.size() + t * out_ch + c];
      const int16_t* part = &db.pcm[t * b_ch];
      const int want = b_ch == 1 ? part[0] : out_ch == 2 ? part[c] : static_cast<int>(std::lround((part[0] + part[1]) / 2.0));
      worst = std::max(worst, std::abs(ours - want));
    }
  }
  EXPECT_LE(worst, 1) << "second part";
}

void ExpectJoinedDecodesAsParts(const std::string& first, const std::string& second) {
  SCOPED_TRACE(first + " + " + second);
  ExpectJoinedDecodesAsParts(Read(first), Read(second));
}

// A silent one-channel frame (no sub-band allocated) of the stream that begins at `stereo`.
std::vector<uint8_t> SilentMonoFrame(const std::vector<uint8_t>& stereo) {
  std::vector<uint8_t> frame{stereo[0], static_cast<uint8_t>(stereo[1] | 1),
                             static_cast<uint8_t>(0x10 | (stereo[2] & 0x0C)), 0xC0};
  FrameHeader h;
  frame.resize(static_cast<size_t>(ParseFrameHeader(frame.data(), 0, h)));
  return frame;
}

TEST(Layer2StreamChanges, StereoThenMonoPlaysTheMonoPartOnBothChannels) {
  // 32 kHz: 192 kbit/s stereo (allocation table B.2b), then 64 kbit/s mono (table B.2a).
  ExpectJoinedDecodesAsParts("conformance/l2-fl10.bit", "samples/l2_m1_32k_64_mono.mp2");
}

TEST(Layer12StreamChanges, MonoThenStereoMixesTheChannels) {
  ExpectJoinedDecodesAsParts("samples/l2_m1_32k_64_mono.mp2", "conformance/l2-fl10.bit");
  // Streams whose channels differ, behind one silent mono frame.
  for (const char* name : {"conformance/l1-fl6.bit", "samples/l2_m1_44k_112_joint.mp2"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> stereo = Read(name);
    ExpectJoinedDecodesAsParts(SilentMonoFrame(stereo), stereo);
  }
}

TEST(Layer2StreamChanges, BitRateCrossingAnAllocationTableBoundary) {
  // 44.1 kHz stereo: 192 kbit/s (table B.2b, 30 sub-bands), then 112 kbit/s joint stereo (B.2a, 27).
  ExpectJoinedDecodesAsParts("conformance/l2-fl11.bit", "samples/l2_m1_44k_112_joint.mp2");
  ExpectJoinedDecodesAsParts("samples/l2_m1_44k_112_joint.mp2", "conformance/l2-fl11.bit");
}

TEST(Layer12StreamChanges, AFrameWithTheForbiddenBitRateIsRejected) {
  for (const char* name : {"conformance/l1-fl1.bit", "conformance/l2-fl10.bit"}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> bytes = Read(name);
    FrameHeader h;
    const int length = ParseFrameHeader(bytes.data(), static_cast<int>(bytes.size()), h);
    ASSERT_GT(length, 0);
    Decoder decoder;
    ASSERT_EQ(decoder.Setup(h, length, 0, 0, 0, 24000), 1);
    std::vector<uint8_t> pcm(static_cast<size_t>(decoder.PcmBytesPerFrame()));
    const size_t padded = static_cast<size_t>(PaddedFrameLength(h, length));
    EXPECT_GT(decoder.DecodeFrame(bytes.data(), padded, pcm.data()).consumed, 0);
    bytes[2] |= 0xF0;  // bit-rate index 15
    const DecodeResult r = decoder.DecodeFrame(bytes.data(), padded, pcm.data());
    EXPECT_EQ(r.consumed, 0);
    EXPECT_EQ(r.produced, 0);
  }
}

}  // namespace
}  // namespace plumo
