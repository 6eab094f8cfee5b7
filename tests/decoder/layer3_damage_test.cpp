// Layer III frames built from raw side information and random main data: hostile part2_3_length
// values near the end of the reservoir, and channels of different block types in the mixing stage.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bit_writer.h"
#include "decoded_stream.h"
#include "decoder.h"
#include "frame_header.h"

namespace plumo {
namespace {

using test::BitWriter;

struct SideGranule {
  int part2_3_length = 0;
  int big_values = 0;
  int global_gain = 140;
  int block_type = 0;  // 0 long (no window switching), 1..3 switched
  int table_select[3] = {13, 13, 13};
  int region0_count = 7, region1_count = 7;
  int count1table_select = 1;
};

constexpr int kKbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

// An MPEG-1 Layer III frame at 32 kHz without CRC: header, side information of two granules of
// two channels (mode 0, stereo) and main data taken from `main` (zero-filled or cut to fit).
std::vector<uint8_t> Mpeg1StereoFrame(int bitrate_index, const SideGranule (&g)[2][2],
                                      const std::vector<uint8_t>& main, int main_data_begin = 0) {
  const int length = 144 * kKbps[bitrate_index] / 32;
  BitWriter w;
  w.Put(0xFFFB, 16);
  w.Put(static_cast<uint32_t>(bitrate_index), 4);
  w.Put(2, 2);  // 32 kHz
  w.Put(0, 2);  // padding, private
  w.Put(0, 8);  // stereo, no mode extension, flags
  w.Put(static_cast<uint32_t>(main_data_begin), 9);
  w.Put(0, 3);  // private bits
  w.Put(0, 8);  // scfsi
  for (int gr = 0; gr < 2; ++gr) {
    for (int ch = 0; ch < 2; ++ch) {
      const SideGranule& s = g[gr][ch];
      w.Put(static_cast<uint32_t>(s.part2_3_length), 12);
      w.Put(static_cast<uint32_t>(s.big_values), 9);
      w.Put(static_cast<uint32_t>(s.global_gain), 8);
      w.Put(0, 4);  // scalefac_compress: no scale-factor bits
      w.Put(s.block_type != 0, 1);
      if (s.block_type != 0) {
        w.Put(static_cast<uint32_t>(s.block_type), 2);
        w.Put(0, 1);  // not mixed
        w.Put(static_cast<uint32_t>(s.table_select[0]), 5);
        w.Put(static_cast<uint32_t>(s.table_select[1]), 5);
        w.Put(0, 9);  // subblock gains
      } else {
        for (int t : s.table_select) w.Put(static_cast<uint32_t>(t), 5);
        w.Put(static_cast<uint32_t>(s.region0_count), 4);
        w.Put(static_cast<uint32_t>(s.region1_count), 3);
      }
      w.Put(0, 2);  // preflag, scalefac_scale
      w.Put(static_cast<uint32_t>(s.count1table_select), 1);
    }
  }
  std::vector<uint8_t> frame = w.Bytes(0);
  EXPECT_EQ(frame.size(), 36u);
  frame.insert(frame.end(), main.begin(), main.end());
  frame.resize(static_cast<size_t>(length), 0);
  return frame;
}

std::vector<uint8_t> RandomBytes(uint32_t seed, size_t n) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

void Append(std::vector<uint8_t>& stream, const std::vector<uint8_t>& frame) {
  stream.insert(stream.end(), frame.begin(), frame.end());
}

// Decodes the frames of a stream one by one, set up from its first frame; the PCM of every frame.
std::vector<int16_t> DecodeFrames(Decoder& decoder, const std::vector<uint8_t>& stream, int output_mode = 0) {
  FrameHeader h;
  const int first = ParseFrameHeader(stream.data(), static_cast<int>(stream.size()), h);
  EXPECT_GT(first, 0);
  EXPECT_EQ(decoder.Setup(h, first, 0, 0, output_mode, 24000), 1);
  std::vector<int16_t> pcm;
  size_t pos = 0;
  while (pos + 4 <= stream.size()) {
    FrameHeader fh;
    const int length = ParseFrameHeader(stream.data() + pos, 0, fh);
    EXPECT_GT(length, 0);
    if (length <= 0) break;
    std::vector<int16_t> out(static_cast<size_t>(decoder.PcmBytesPerFrame() / 2), int16_t{-1});
    const DecodeResult r = decoder.DecodeFrame(stream.data() + pos, static_cast<size_t>(length),
                                               reinterpret_cast<uint8_t*>(out.data()));
    EXPECT_EQ(r.consumed, length);
    pcm.insert(pcm.end(), out.begin(), out.end());
    pos += static_cast<size_t>(length);
  }
  return pcm;
}

// Empty frames fill the reservoir to 6660 bytes, just below the point where it is compacted; the
// last frame's four granules then claim 4095 bits each, so the last granule starts past the 8064
// bytes the reservoir holds (and past its 8192-byte buffer).
std::vector<uint8_t> ReservoirOverrunStream() {
  const SideGranule empty[2][2] = {};
  std::vector<uint8_t> stream;
  for (int i = 0; i < 4; ++i) Append(stream, Mpeg1StereoFrame(14, empty, {}));  // 1404 main bytes each
  Append(stream, Mpeg1StereoFrame(11, empty, {}));                               // 828
  Append(stream, Mpeg1StereoFrame(4, empty, {}));                                // 216
  SideGranule big;
  big.part2_3_length = 4095;
  big.big_values = 288;
  big.table_select[0] = big.table_select[1] = big.table_select[2] = 24;  // with escapes
  big.global_gain = 120;
  const SideGranule hostile[2][2] = {{big, big}, {big, big}};
  Append(stream, Mpeg1StereoFrame(14, hostile, RandomBytes(1, 1404)));
  Append(stream, Mpeg1StereoFrame(14, empty, {}));
  return stream;
}

TEST(Layer3Reservoir, GranulesClaimingMoreThanTheReservoirHoldsReadNothingElse) {
  const std::vector<uint8_t> stream = ReservoirOverrunStream();
  Decoder a;
  const std::vector<int16_t> first = DecodeFrames(a, stream);
  // A decoder that has decoded the stream before decodes it the same way after a new set-up:
  // the reader saw the reservoir's bytes and nothing of the decoder's other state.
  Decoder b;
  DecodeFrames(b, stream);
  DecodeFrames(b, ReservoirOverrunStream());
  EXPECT_TRUE(DecodeFrames(b, stream) == first);
}

// Six frames of random Huffman data (values -1 .. 1) reaching the top lines, so alias reduction
// carries sound into the sub-band above the decode limit; in the first granule of the first frame
// the left channel has long blocks and the right one short blocks.
std::vector<uint8_t> DifferentBlockTypesStream() {
  SideGranule longs;
  longs.part2_3_length = 2000;
  longs.big_values = 100;
  longs.global_gain = 176;  // loud, but never clipped
  longs.table_select[0] = longs.table_select[1] = longs.table_select[2] = 1;  // values -1 .. 1
  SideGranule shorts = longs;
  shorts.block_type = 2;
  std::vector<uint8_t> stream;
  for (int f = 0; f < 6; ++f) {
    SideGranule g[2][2] = {{longs, longs}, {longs, longs}};
    if (f == 0) g[0][1] = shorts;
    Append(stream, Mpeg1StereoFrame(14, g, RandomBytes(10 + f, 1404)));
  }
  return stream;
}

TEST(Layer3MixStage, ChannelsOfDifferentBlockTypesMixToTheirMean) {
  // The mixed channel is the mean of left and right for the frame whose channels differ in block
  // type and for every frame after it (the overlap carries into them).
  test::ExpectMonoChoicesAreMeanLeftAndRight(DifferentBlockTypesStream(), 1.0);
}

}  // namespace
}  // namespace plumo
