// Layer III stereo processing of mixed blocks, checked on frames built bit by bit: an intensity- or
// MS-coded frame must decode exactly as the plain stereo frame that codes the same spectrum.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bit_writer.h"
#include "cpu.h"
#include "decoder.h"
#include "frame_header.h"

namespace plumo {
namespace {

using test::BitWriter;

// One granule of one channel: no big values, every line in the count1 region (values -1, 0, 1,
// table B), scale factors given as their bits.
struct Granule {
  int global_gain = 190;
  int scalefac_compress = 0;
  int block_type = 0;
  bool mixed = false;
  std::vector<int> part2;  // scale-factor bits, 0 or 1
  std::vector<int> lines;

  BitWriter MainData() const {
    BitWriter w;
    for (int bit : part2) w.Put(static_cast<uint32_t>(bit), 1);
    size_t n = lines.size();
    while (n > 0 && lines[n - 1] == 0) --n;
    auto line = [&](size_t i) { return i < n ? lines[i] : 0; };
    for (size_t q = 0; q < n; q += 4) {
      uint32_t vwxy = 0;
      for (size_t j = 0; j < 4; ++j) vwxy = vwxy << 1 | (line(q + j) != 0 ? 1u : 0u);
      w.Put(vwxy ^ 15u, 4);
      for (size_t j = 0; j < 4; ++j)
        if (line(q + j) != 0) w.Put(line(q + j) < 0 ? 1u : 0u, 1);
    }
    return w;
  }

  void PutSideInfo(BitWriter& w, bool lsf) const {
    w.Put(static_cast<uint32_t>(MainData().bits()), 12);  // part2_3_length
    w.Put(0, 9);                                          // big_values
    w.Put(static_cast<uint32_t>(global_gain), 8);
    w.Put(static_cast<uint32_t>(scalefac_compress), lsf ? 9 : 4);
    const bool switching = block_type != 0;
    w.Put(switching, 1);
    if (switching) {
      w.Put(static_cast<uint32_t>(block_type), 2);
      w.Put(mixed, 1);
      w.Put(0, 10);  // table_select[0], [1]
      w.Put(0, 9);   // subblock_gain
    } else {
      w.Put(0, 15);  // table_select
      w.Put(0, 7);   // region0_count, region1_count
    }
    if (!lsf) w.Put(0, 1);  // preflag
    w.Put(0, 1);            // scalefac_scale
    w.Put(1, 1);            // count1table_select: table B
  }
};

constexpr int kModeStereo = 0, kModeJoint = 1, kModeMono = 3;

// An MPEG-1 frame, 44.1 kHz, 128 kbit/s, no CRC; both granules carry the same data.
std::vector<uint8_t> Mpeg1Frame(int mode, int mode_extension, const std::vector<Granule>& channels) {
  BitWriter w;
  w.Put(0xFFFB90, 24);
  w.Put(static_cast<uint32_t>(mode << 6 | mode_extension << 4), 8);
  w.Put(0, 9);                           // main_data_begin
  w.Put(0, channels.size() == 1 ? 5 : 3);  // private bits
  w.Put(0, 4 * static_cast<int>(channels.size()));  // scfsi
  for (int g = 0; g < 2; ++g)
    for (const Granule& c : channels) c.PutSideInfo(w, false);
  for (int g = 0; g < 2; ++g)
    for (const Granule& c : channels) w.Append(c.MainData());
  EXPECT_LE(w.bits(), 417u * 8);
  return w.Sized(417);
}

// An MPEG-2 frame, 22.05 kHz, 64 kbit/s, no CRC, one granule.
std::vector<uint8_t> Mpeg2Frame(int mode, int mode_extension, const std::vector<Granule>& channels) {
  BitWriter w;
  w.Put(0xFFF380, 24);
  w.Put(static_cast<uint32_t>(mode << 6 | mode_extension << 4), 8);
  w.Put(0, 8);                           // main_data_begin
  w.Put(0, channels.size() == 1 ? 1 : 2);  // private bits
  for (const Granule& c : channels) c.PutSideInfo(w, true);
  for (const Granule& c : channels) w.Append(c.MainData());
  EXPECT_LE(w.bits(), 208u * 8);
  return w.Sized(208);
}

// Decodes the frames in order with the x87 kernels, both channels.
std::vector<int16_t> Decode(const std::vector<std::vector<uint8_t>>& frames) {
  Decoder d;
  d.SelectKernels(cpu_flags::kFpu | cpu_flags::kOtherVendor | cpu_flags::kFamily6OrOther);
  FrameHeader h;
  const int length = ParseFrameHeader(frames.at(0).data(), 0, h);
  EXPECT_EQ(static_cast<size_t>(length), frames[0].size());
  EXPECT_EQ(d.Setup(h, length, 0, 0, 0, 24000), 1);
  std::vector<int16_t> pcm;
  std::vector<int16_t> frame(static_cast<size_t>(d.PcmBytesPerFrame() / 2));
  for (const std::vector<uint8_t>& f : frames) {
    const DecodeResult r = d.DecodeFrame(f.data(), f.size(), reinterpret_cast<uint8_t*>(frame.data()));
    EXPECT_EQ(r.consumed, static_cast<int32_t>(f.size()));
    EXPECT_EQ(r.produced, d.PcmBytesPerFrame());
    pcm.insert(pcm.end(), frame.begin(), frame.end());
  }
  return pcm;
}

std::vector<std::vector<uint8_t>> Repeat(const std::vector<uint8_t>& frame, int n) {
  return std::vector<std::vector<uint8_t>>(static_cast<size_t>(n), frame);
}

// A spectrum of values -1, 0, 1 over the first n lines.
std::vector<int> Pattern(size_t n) {
  static constexpr int kValues[7] = {1, -1, 0, 1, 1, 0, -1};
  std::vector<int> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = kValues[(3 * i + i / 7) % 7];
  return v;
}

std::vector<int> Slice(const std::vector<int>& v, size_t from, size_t to) {
  std::vector<int> out(to, 0);
  for (size_t i = from; i < to && i < v.size(); ++i) out[i] = v[i];
  return out;
}

std::vector<int> Plus(std::vector<int> a, const std::vector<int>& b) {
  if (a.size() < b.size()) a.resize(b.size(), 0);
  for (size_t i = 0; i < b.size(); ++i) a[i] += b[i];
  return a;
}

Granule Mixed(std::vector<int> lines, std::vector<int> part2 = {}, int scalefac_compress = 0) {
  Granule g;
  g.block_type = 2;
  g.mixed = true;
  g.lines = std::move(lines);
  g.part2 = std::move(part2);
  g.scalefac_compress = scalefac_compress;
  return g;
}

int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  EXPECT_EQ(a.size(), b.size());
  int worst = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

bool Audible(const std::vector<int16_t>& pcm) {
  int peak = 0;
  for (int16_t s : pcm) peak = std::max(peak, std::abs(static_cast<int>(s)));
  return peak > 100;
}

constexpr size_t kLeftLines = 120;

// The right channel of an intensity-coded mixed block holds a line in long band 0 only: the
// intensity region starts at long band 1, inside the long part. With position 0 (ratio 0 : 1) the
// left lines there move to the right channel, in the long part as in the short part.
TEST(Layer3MixedBlockStereo, Mpeg1IntensityRegionStartingInTheLongPart) {
  const std::vector<int> left = Pattern(kLeftLines);
  const std::vector<int> right = {1, 0, 0, 0};
  const std::vector<uint8_t> intensity = Mpeg1Frame(kModeJoint, 1, {Mixed(left), Mixed(right)});
  // Long band 0 is lines 0 .. 3 at 44.1 kHz.
  const std::vector<uint8_t> plain =
      Mpeg1Frame(kModeStereo, 0, {Mixed(Slice(left, 0, 4)), Mixed(Plus(right, Slice(left, 4, kLeftLines)))});
  const std::vector<int16_t> want = Decode(Repeat(plain, 4));
  ASSERT_TRUE(Audible(want));
  EXPECT_EQ(MaxDifference(Decode(Repeat(intensity, 4)), want), 0);
}

// MS and intensity stereo together: MS covers the lines up to the end of the right channel's last
// nonzero band, which lies in the long part of the mixed block.
TEST(Layer3MixedBlockStereo, Mpeg1MsUpToTheRightChannelsLastLongBand) {
  const std::vector<int> mid = Plus({0, 1, -1, 1}, Slice(Pattern(kLeftLines), 4, kLeftLines));
  const std::vector<int> side = {1, 0, 0, 0};
  const std::vector<uint8_t> coded = Mpeg1Frame(kModeJoint, 3, {Mixed(mid), Mixed(side)});
  // MS frames have their gain lowered by 1/sqrt(2) (two global_gain steps); the intensity ratios
  // with MS carry the sqrt(2). In plain stereo, scale factor 1 of long band 0 (slen1 = 1 by
  // scalefac_compress 5, 35 scale-factor bits) lowers that band the same two steps.
  std::vector<int> sf(35, 0);
  sf[0] = 1;
  const std::vector<int> left_band0 = {1, 1, -1, 1};    // mid + side
  const std::vector<int> right_band0 = {-1, 1, -1, 1};  // mid - side
  const std::vector<uint8_t> plain = Mpeg1Frame(
      kModeStereo, 0, {Mixed(left_band0, sf, 5), Mixed(Plus(right_band0, Slice(mid, 4, kLeftLines)), sf, 5)});
  const std::vector<int16_t> want = Decode(Repeat(plain, 4));
  ASSERT_TRUE(Audible(want));
  EXPECT_LE(MaxDifference(Decode(Repeat(coded, 4)), want), 1);
}

// LSF intensity stereo: scalefac_compress 86 of the right channel gives partition table 3 with
// slen 1 in every partition (6 + 15 + 12 bits), so position 0 is legal (ratio 1 : 1).
TEST(Layer3MixedBlockStereo, LsfIntensityRegionStartingInTheLongPart) {
  const std::vector<int> left = Pattern(kLeftLines);
  const std::vector<int> right = {1, 0, 0, 0};
  const std::vector<uint8_t> intensity =
      Mpeg2Frame(kModeJoint, 1, {Mixed(left), Mixed(right, std::vector<int>(33, 0), 86)});
  // Long band 0 is lines 0 .. 5 at 22.05 kHz.
  const std::vector<uint8_t> plain =
      Mpeg2Frame(kModeStereo, 0, {Mixed(left), Mixed(Plus(right, Slice(left, 6, kLeftLines)))});
  const std::vector<int16_t> want = Decode(Repeat(plain, 6));
  ASSERT_TRUE(Audible(want));
  EXPECT_EQ(MaxDifference(Decode(Repeat(intensity, 6)), want), 0);
}

// LSF partition table 4 (scalefac_compress 402: slen 1, 1, 1 and 0) gives long bands 18 .. 20 a
// partition of slen 0, whose only position, 0, is the illegal one: those bands stay uncoded by
// intensity while bands 1 .. 17 (position 0, ratio 1 : 1) are.
TEST(Layer3IntensityStereo, LsfBandsOfAPartitionWithoutBitsAreNotIntensityCoded) {
  const std::vector<int> left = Pattern(522);  // up to the end of long band 20 at 22.05 kHz
  const std::vector<int> right = {1, 0, 0, 0};
  Granule left_long, right_long, right_plain;
  left_long.lines = left;
  right_long.lines = right;
  right_long.scalefac_compress = 402;
  right_long.part2 = std::vector<int>(18, 0);
  // Long band 18 starts at line 336.
  right_plain.lines = Plus(right, Slice(left, 6, 336));
  const std::vector<int16_t> want = Decode(Repeat(Mpeg2Frame(kModeStereo, 0, {left_long, right_plain}), 6));
  ASSERT_TRUE(Audible(want));
  EXPECT_EQ(MaxDifference(Decode(Repeat(Mpeg2Frame(kModeJoint, 1, {left_long, right_long}), 6)), want), 0);
}

// The top band (long 21, short 12) has no position of its own and takes that of the band below:
// with every position 0 (ratio 0 : 1) all left lines above band 0, the top band's included, move
// to the right channel. The left lines lie in long bands 20 and 21 (from line 342 at 44.1 kHz),
// in short bands 11 and 12.
TEST(Layer3IntensityStereo, Mpeg1TopBandTakesThePositionOfTheBandBelow) {
  for (const int block_type : {0, 2}) {
    SCOPED_TRACE(block_type);
    Granule left, right, none, right_plain;
    left.lines = Slice(Pattern(576), 342, 576);
    right.lines = {1, 0, 0, 0};
    right_plain.lines = Plus(right.lines, left.lines);
    for (Granule* g : {&left, &right, &none, &right_plain}) g->block_type = block_type;
    const std::vector<int16_t> want = Decode(Repeat(Mpeg1Frame(kModeStereo, 0, {none, right_plain}), 4));
    ASSERT_TRUE(Audible(want));
    EXPECT_EQ(MaxDifference(Decode(Repeat(Mpeg1Frame(kModeJoint, 1, {left, right}), 4)), want), 0);
  }
}

// A mixed block whose lines end early in its long part: the rest of the long part is silent, not
// what the buffer held from an earlier granule.
TEST(Layer3MixedBlockStereo, AnEmptyMixedBlockAfterMusicIsSilent) {
  Granule music;
  music.lines = Pattern(kLeftLines);
  std::vector<std::vector<uint8_t>> frames = Repeat(Mpeg1Frame(kModeMono, 0, {music}), 3);
  for (int i = 0; i < 4; ++i) frames.push_back(Mpeg1Frame(kModeMono, 0, {Mixed({})}));
  for (int i = 0; i < 2; ++i) frames.push_back(Mpeg1Frame(kModeMono, 0, {Mixed({1, 0, 0, 0})}));
  const std::vector<int16_t> pcm = Decode(frames);
  ASSERT_EQ(pcm.size(), 9u * 1152);
  ASSERT_TRUE(Audible(std::vector<int16_t>(pcm.begin(), pcm.begin() + 3 * 1152)));
  // The first granule after the music carries its overlap, the next one the synthesis memory of
  // it; from then on all is silence.
  for (size_t i = 4 * 1152; i < 7 * 1152; ++i) ASSERT_EQ(pcm[i], 0) << i;
  // One line in long band 0: a quiet, steady tone, the same in every granule once settled.
  for (size_t i = 8 * 1152 + 576; i < 9 * 1152; ++i) ASSERT_EQ(pcm[i], pcm[i - 576]) << i;
}

}  // namespace
}  // namespace plumo
