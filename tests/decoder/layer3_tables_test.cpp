#include "layer3_tables.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace plumo {
namespace {

template <size_t N>
std::vector<int> Widths(const std::array<int16_t, N>& ends) {
  std::vector<int> widths;
  int previous = 0;
  for (const int16_t end : ends) {
    widths.push_back(end - previous);
    previous = end;
  }
  return widths;
}

TEST(Layer3TablesTest, BandEndsRiseStrictlyToTheGranuleEnd) {
  for (int version = 0; version < 3; ++version) {
    for (int sf = 0; sf < 3; ++sf) {
      SCOPED_TRACE(testing::Message() << "version " << version << " sampling_frequency " << sf);
      const LongBandEnds& longs = LongBandEndsFor(version, sf);
      const ShortBandEnds& shorts = ShortBandEndsFor(version, sf);
      for (int w : Widths(longs)) EXPECT_GT(w, 0);
      for (int w : Widths(shorts)) EXPECT_GT(w, 0);
      for (int w : Widths(longs)) EXPECT_EQ(w % 2, 0);
      EXPECT_EQ(longs.back(), 576);
      EXPECT_EQ(shorts.back(), 192);
    }
  }
}

// Band widths as ISO/IEC 11172-3 Table B.8 lists them.
TEST(Layer3TablesTest, Mpeg1WidthsMatchTableB8) {
  EXPECT_EQ(Widths(kLongBandEnds[0][0]),
            (std::vector<int>{4, 4, 4, 4, 4, 4, 6, 6, 8, 8, 10, 12, 16, 20, 24, 28, 34, 42, 50, 54,
                              76, 158}));
  EXPECT_EQ(Widths(kLongBandEnds[0][1]),
            (std::vector<int>{4, 4, 4, 4, 4, 4, 6, 6, 6, 8, 10, 12, 16, 18, 22, 28, 34, 40, 46, 54,
                              54, 192}));
  EXPECT_EQ(Widths(kLongBandEnds[0][2]),
            (std::vector<int>{4, 4, 4, 4, 4, 4, 6, 6, 8, 10, 12, 16, 20, 24, 30, 38, 46, 56, 68, 84,
                              102, 26}));
  EXPECT_EQ(Widths(kShortBandEnds[0][0]),
            (std::vector<int>{4, 4, 4, 4, 6, 8, 10, 12, 14, 18, 22, 30, 56}));
  EXPECT_EQ(Widths(kShortBandEnds[0][1]),
            (std::vector<int>{4, 4, 4, 4, 6, 6, 10, 12, 14, 16, 20, 26, 66}));
  EXPECT_EQ(Widths(kShortBandEnds[0][2]),
            (std::vector<int>{4, 4, 4, 4, 6, 8, 12, 16, 20, 26, 34, 42, 12}));
}

// Band widths as ISO/IEC 13818-3 Table B.2 lists them.
TEST(Layer3TablesTest, Mpeg2WidthsMatchTableB2) {
  const std::vector<int> long_22k = {6, 6, 6, 6, 6, 6, 8, 10, 12, 14, 16,
                                     20, 24, 28, 32, 38, 46, 52, 60, 68, 58, 54};
  EXPECT_EQ(Widths(kLongBandEnds[1][0]), long_22k);
  EXPECT_EQ(Widths(kLongBandEnds[1][1]),
            (std::vector<int>{6, 6, 6, 6, 6, 6, 8, 10, 12, 14, 16, 18, 22, 26, 32, 38, 46, 54, 62,
                              70, 76, 36}));
  EXPECT_EQ(Widths(kLongBandEnds[1][2]), long_22k);
  EXPECT_EQ(Widths(kShortBandEnds[1][0]),
            (std::vector<int>{4, 4, 4, 6, 6, 8, 10, 14, 18, 26, 32, 42, 18}));
  EXPECT_EQ(Widths(kShortBandEnds[1][1]),
            (std::vector<int>{4, 4, 4, 6, 8, 10, 12, 14, 18, 24, 32, 44, 12}));
  EXPECT_EQ(Widths(kShortBandEnds[1][2]),
            (std::vector<int>{4, 4, 4, 6, 8, 10, 12, 14, 18, 24, 30, 40, 18}));
  // Long band 21 of 22.05 kHz starts at line 522.
  EXPECT_EQ(kLongBandEnds[1][0][20], 522);
}

TEST(Layer3TablesTest, Mpeg25Bands) {
  EXPECT_EQ(LongBandEndsFor(2, 0), LongBandEndsFor(1, 0));
  EXPECT_EQ(LongBandEndsFor(2, 1), LongBandEndsFor(1, 0));
  // 11.025 and 12 kHz short blocks use the 16 kHz bands, not the 22.05 kHz ones: streams from
  // real encoders are written that way.
  EXPECT_EQ(ShortBandEndsFor(2, 0), ShortBandEndsFor(1, 2));
  EXPECT_EQ(ShortBandEndsFor(2, 1), ShortBandEndsFor(1, 2));
  EXPECT_EQ(LongBandEndsFor(2, 2),
            (LongBandEnds{12, 24, 36, 48, 60, 72, 88, 108, 132, 160, 192, 232, 280, 336, 400, 476,
                          566, 568, 570, 572, 574, 576}));
  EXPECT_EQ(ShortBandEndsFor(2, 2),
            (ShortBandEnds{8, 16, 24, 36, 52, 72, 96, 124, 160, 162, 164, 166, 192}));
}

TEST(Layer3TablesTest, AccessorsClampOutOfRangeArguments) {
  EXPECT_EQ(&LongBandEndsFor(-1, 7), &kLongBandEnds[0][2]);
  EXPECT_EQ(&ShortBandEndsFor(5, -3), &kShortBandEnds[2][0]);
  EXPECT_EQ(&LongBandEndsFor(1, 1), &kLongBandEnds[1][1]);
}

TEST(Layer3TablesTest, Pretab) {
  EXPECT_EQ(kPretab, (std::array<uint8_t, 22>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3,
                                              3, 3, 2, 0}));
}

TEST(Layer3TablesTest, Mpeg1SlenTable) {
  const int expected[16][2] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {3, 0}, {1, 1}, {1, 2}, {1, 3},
                               {2, 1}, {2, 2}, {2, 3}, {3, 1}, {3, 2}, {3, 3}, {4, 2}, {4, 3}};
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(kSlen[i][0], expected[i][0]) << i;
    EXPECT_EQ(kSlen[i][1], expected[i][1]) << i;
  }
}

TEST(Layer3TablesTest, LsfPartitionsCoverEveryBand) {
  for (int table = 0; table < 6; ++table) {
    SCOPED_TRACE(table);
    const auto& rows = kLsfPartitionSizes[table];
    // Long blocks: 21 transmitted long factors. Short: 12 short bands. Mixed: six long factors,
    // then short bands 3 .. 11.
    EXPECT_EQ(std::accumulate(rows[0].begin(), rows[0].end(), 0), 21);
    EXPECT_EQ(std::accumulate(rows[1].begin(), rows[1].end(), 0), 12);
    EXPECT_EQ(rows[2][0], 6);
    EXPECT_EQ(rows[2][1] + rows[2][2] + rows[2][3], 9);
  }
  EXPECT_EQ(kLsfPartitionSizes[1][0], (std::array<uint8_t, 4>{6, 5, 7, 3}));
  EXPECT_EQ(kLsfPartitionSizes[2][2], (std::array<uint8_t, 4>{6, 3, 6, 0}));
  EXPECT_EQ(kLsfPartitionSizes[4][1], (std::array<uint8_t, 4>{4, 3, 3, 2}));
  EXPECT_EQ(kLsfPartitionSizes[5][2], (std::array<uint8_t, 4>{6, 6, 3, 0}));
}

}  // namespace
}  // namespace plumo
