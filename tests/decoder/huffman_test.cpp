#include "huffman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bit_reader.h"
#include "bit_writer.h"
#include "huffman_tables.h"
#include "layer3_tables.h"
#include "test_files.h"

namespace plumo {
namespace {

constexpr int kCodedTables[] = {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 24};
constexpr size_t kNoEnd = SIZE_MAX;

using test::BitWriter;

int ExpectedSize(int table) {
  switch (table) {
    case 1: return 2;
    case 2: case 3: return 3;
    case 5: case 6: return 4;
    case 7: case 8: case 9: return 6;
    case 10: case 11: case 12: return 8;
    default: return 16;
  }
}

// Writes one value's escape and sign as a big-values pair carries them.
void PutEscapeAndSign(BitWriter& w, int value, int linbits) {
  const int magnitude = value < 0 ? -value : value;
  if (linbits != 0 && magnitude >= 15) w.Put(static_cast<uint32_t>(magnitude - 15), linbits);
  if (magnitude != 0) w.Put(value < 0 ? 1 : 0, 1);
}

void PutPair(BitWriter& w, int table_select, int x, int y) {
  const HuffmanCodeTable codes = BigValuesCodeTable(table_select);
  const int linbits = BigValuesDirectory()[table_select].linbits;
  const int cx = std::min(std::abs(x), 15);
  const int cy = std::min(std::abs(y), 15);
  const int i = cx * codes.size + cy;
  w.Put(codes.codes[i], codes.lengths[i]);
  PutEscapeAndSign(w, x, linbits);
  PutEscapeAndSign(w, y, linbits);
}

void PutQuadruple(BitWriter& w, int table, const int (&q)[4]) {
  const Count1CodeTable codes = table == 0 ? Count1CodeTableA() : Count1CodeTableB();
  const int value_bits = (q[0] != 0) * 8 + (q[1] != 0) * 4 + (q[2] != 0) * 2 + (q[3] != 0);
  w.Put(codes.codes[value_bits], codes.lengths[value_bits]);
  for (int v : q) {
    if (v != 0) w.Put(v < 0 ? 1 : 0, 1);
  }
}

// Follows the bits of one code through a lookup structure; returns {x, y, bits used}.
struct Walk {
  int x = -1;
  int y = -1;
  int bits = 0;
};
Walk WalkCode(const uint8_t* level, uint32_t code, int length) {
  Walk walk;
  for (int depth = 0; depth < 8; ++depth) {
    const int k = level[0];
    // The next k bits of the code, zero-padded past its end.
    const int remaining = length - walk.bits;
    const uint32_t next = remaining >= k ? (code >> (remaining - k)) & ((1u << k) - 1u)
                                         : (code & ((1u << remaining) - 1u)) << (k - remaining);
    const uint8_t* entry = level + kHuffmanLevelHeaderBytes + next * kHuffmanEntryBytes;
    if (entry[3] != 0) {
      walk.x = entry[1];
      walk.y = entry[2];
      walk.bits += entry[3];
      return walk;
    }
    walk.bits += k;
    const uint32_t distance = entry[0] | (entry[1] << 8) | (entry[2] << 16);
    level += distance * 4;
  }
  return walk;
}

TEST(HuffmanTablesTest, BigValuesCodesAreCompletePrefixCodes) {
  for (int table : kCodedTables) {
    SCOPED_TRACE(testing::Message() << "table " << table);
    const HuffmanCodeTable codes = BigValuesCodeTable(table);
    ASSERT_EQ(codes.size, ExpectedSize(table));
    const int n = codes.size * codes.size;
    uint64_t kraft = 0;  // in units of 2^-32
    for (int i = 0; i < n; ++i) {
      ASSERT_GE(codes.lengths[i], 1);
      ASSERT_LE(codes.lengths[i], 19);
      EXPECT_LT(uint32_t{codes.codes[i]}, 1u << codes.lengths[i]) << i;
      kraft += uint64_t{1} << (32 - codes.lengths[i]);
    }
    EXPECT_EQ(kraft, uint64_t{1} << 32);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        if (i == j || codes.lengths[i] > codes.lengths[j]) continue;
        EXPECT_NE(codes.codes[j] >> (codes.lengths[j] - codes.lengths[i]), codes.codes[i])
            << "code of (" << i / codes.size << "," << i % codes.size << ") is a prefix of ("
            << j / codes.size << "," << j % codes.size << ")";
      }
    }
  }
}

TEST(HuffmanTablesTest, SharedAndEmptyCodeTables) {
  for (int t : {0, 4, 14}) EXPECT_EQ(BigValuesCodeTable(t).size, 0) << t;
  for (int t = 17; t <= 23; ++t) {
    EXPECT_EQ(BigValuesCodeTable(t).codes, BigValuesCodeTable(16).codes);
  }
  for (int t = 25; t <= 31; ++t) {
    EXPECT_EQ(BigValuesCodeTable(t).codes, BigValuesCodeTable(24).codes);
  }
  EXPECT_EQ(BigValuesCodeTable(-1).size, 0);
  EXPECT_EQ(BigValuesCodeTable(32).size, 0);
}

TEST(HuffmanTablesTest, Count1CodesAreCompletePrefixCodes) {
  for (const Count1CodeTable codes : {Count1CodeTableA(), Count1CodeTableB()}) {
    uint32_t kraft = 0;
    for (int i = 0; i < 16; ++i) {
      EXPECT_LT(uint32_t{codes.codes[i]}, 1u << codes.lengths[i]);
      kraft += 1u << (16 - codes.lengths[i]);
      for (int j = 0; j < 16; ++j) {
        if (i == j || codes.lengths[i] > codes.lengths[j]) continue;
        EXPECT_NE(codes.codes[j] >> (codes.lengths[j] - codes.lengths[i]), codes.codes[i]);
      }
    }
    EXPECT_EQ(kraft, 1u << 16);
  }
}

// A few codes as ISO/IEC 11172-3 Table B.7 prints them.
TEST(HuffmanTablesTest, KnownCodes) {
  const HuffmanCodeTable t1 = BigValuesCodeTable(1);
  // (0,0) "1", (0,1) "001", (1,0) "01", (1,1) "000" as (length, code).
  const std::pair<int, int> expected1[4] = {{1, 1}, {3, 1}, {2, 1}, {3, 0}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(t1.lengths[i], expected1[i].first) << i;
    EXPECT_EQ(t1.codes[i], expected1[i].second) << i;
  }
  const HuffmanCodeTable t2 = BigValuesCodeTable(2);
  EXPECT_EQ(t2.lengths[0], 1);  // (0,0) "1"
  EXPECT_EQ(t2.lengths[8], 6);  // (2,2) "000000"
  EXPECT_EQ(t2.codes[8], 0);
  const HuffmanCodeTable t24 = BigValuesCodeTable(24);
  EXPECT_EQ(t24.lengths[255], 4);  // (15,15) "0011"
  EXPECT_EQ(t24.codes[255], 3);
  EXPECT_EQ(Count1CodeTableA().lengths[0], 1);  // (0,0,0,0) "1"
  EXPECT_EQ(Count1CodeTableA().codes[0], 1);
  EXPECT_EQ(Count1CodeTableA().lengths[15], 6);  // (1,1,1,1) "000001"
  EXPECT_EQ(Count1CodeTableA().codes[15], 1);
}

TEST(HuffmanTablesTest, Directory) {
  const auto& dir = BigValuesDirectory();
  struct Row {
    int method;
    int first_bits;
    int linbits;
  };
  const Row rows[32] = {{0, 0, 0}, {1, 3, 0},  {1, 6, 0},  {1, 6, 0},  {0, 0, 0},  {1, 8, 0},
                        {1, 7, 0}, {2, 6, 0},  {2, 8, 0},  {2, 6, 0},  {2, 8, 0},  {2, 8, 0},
                        {2, 7, 0}, {2, 6, 0},  {0, 0, 0},  {2, 8, 0},  {3, 8, 1},  {3, 8, 2},
                        {3, 8, 3}, {3, 8, 4},  {3, 8, 6},  {3, 8, 8},  {3, 8, 10}, {3, 8, 13},
                        {3, 9, 4}, {3, 9, 5},  {3, 9, 6},  {3, 9, 7},  {3, 9, 8},  {3, 9, 9},
                        {3, 9, 11}, {3, 9, 13}};
  for (int t = 0; t < 32; ++t) {
    SCOPED_TRACE(t);
    EXPECT_EQ(dir[t].method, rows[t].method);
    EXPECT_EQ(dir[t].linbits, rows[t].linbits);
    if (rows[t].method == 0) {
      EXPECT_EQ(dir[t].lookup, nullptr);
    } else {
      ASSERT_NE(dir[t].lookup, nullptr);
      EXPECT_EQ(dir[t].lookup[0], rows[t].first_bits);
    }
  }
  for (int t = 17; t <= 23; ++t) EXPECT_EQ(dir[t].lookup, dir[16].lookup);
  for (int t = 25; t <= 31; ++t) EXPECT_EQ(dir[t].lookup, dir[24].lookup);
  EXPECT_EQ(&BigValuesDirectory(), &dir);  // built once
}

TEST(HuffmanTablesTest, LookupStructuresDecodeEveryCodeOnce) {
  const auto& dir = BigValuesDirectory();
  for (int table : kCodedTables) {
    SCOPED_TRACE(testing::Message() << "table " << table);
    const HuffmanCodeTable codes = BigValuesCodeTable(table);
    std::set<std::pair<int, int>> seen;
    for (int x = 0; x < codes.size; ++x) {
      for (int y = 0; y < codes.size; ++y) {
        const int i = x * codes.size + y;
        const Walk walk = WalkCode(dir[table].lookup, codes.codes[i], codes.lengths[i]);
        EXPECT_EQ(walk.x, x);
        EXPECT_EQ(walk.y, y);
        EXPECT_EQ(walk.bits, codes.lengths[i]);
        seen.insert({walk.x, walk.y});
      }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(codes.size * codes.size));
    // Single-level tables never link.
    if (dir[table].method == kHuffmanMethodSingleLevel) {
      const int k = dir[table].lookup[0];
      for (int i = 0; i < (1 << k); ++i) {
        EXPECT_NE(dir[table].lookup[kHuffmanLevelHeaderBytes + 4 * i + 3], 0) << i;
      }
    }
  }
}

TEST(HuffmanTablesTest, Count1TableA) {
  const auto& a = Count1TableA();
  const Count1CodeTable codes = Count1CodeTableA();
  for (int index = 0; index < 64; ++index) {
    const int length = a[2 * index];
    const int value = a[2 * index + 1];
    ASSERT_GE(length, 1);
    ASSERT_LE(length, 6);
    ASSERT_LT(value, 16);
    EXPECT_EQ(codes.lengths[value], length);
    EXPECT_EQ(codes.codes[value], index >> (6 - length)) << index;
  }
}

// Encodes random pairs with the code lists and decodes them back, for every table_select.
TEST(HuffmanBigValuesTest, RoundTripEveryTableSelect) {
  std::mt19937 rng(1234);
  for (int table_select = 0; table_select < 32; ++table_select) {
    SCOPED_TRACE(testing::Message() << "table_select " << table_select);
    const BigValuesTable& table = BigValuesDirectory()[table_select];
    const int size = BigValuesCodeTable(table_select).size;
    const int max_value =
        table.method == kHuffmanMethodEscape ? 15 + (1 << table.linbits) - 1 : size - 1;
    for (int round = 0; round < 20; ++round) {
      const int count = 2 + static_cast<int>(rng() % 575);
      std::vector<int32_t> expected(static_cast<size_t>(count) & ~size_t{1});
      BitWriter w;
      for (size_t i = 0; i < expected.size(); i += 2) {
        for (int j = 0; j < 2; ++j) {
          int v = 0;
          if (size > 0) {
            switch (rng() % 4) {
              case 0: v = 0; break;
              case 1: v = std::min(max_value, 15); break;  // the escape boundary
              case 2: v = max_value; break;
              default: v = static_cast<int>(rng() % static_cast<uint32_t>(max_value + 1)); break;
            }
            if (rng() % 2) v = -v;
          }
          expected[i + j] = v;
        }
        if (size > 0) PutPair(w, table_select, expected[i], expected[i + 1]);
      }
      const std::vector<uint8_t> bytes = w.Bytes();
      std::vector<int32_t> lines(static_cast<size_t>(count) + 1, 12345);
      BitReader br;
      br.Start(bytes.data(), bytes.size());
      DecodeBigValues(br, kNoEnd, lines.data(), count, table_select);
      EXPECT_EQ(br.BitPosition(), static_cast<int>(w.bits()));
      for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(lines[i], expected[i]) << i;
      for (size_t i = expected.size(); i < lines.size(); ++i) EXPECT_EQ(lines[i], 12345);
    }
  }
}

TEST(HuffmanBigValuesTest, TablesWithoutCodesWriteZerosAndReadNothing) {
  const std::vector<uint8_t> bytes(16, 0xA5);
  for (int table_select : {0, 4, 14}) {
    std::vector<int32_t> lines(10, 7);
    BitReader br;
    br.Start(bytes.data(), bytes.size());
    DecodeBigValues(br, kNoEnd, lines.data(), 9, table_select);
    EXPECT_EQ(br.BitPosition(), 0);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(lines[i], 0);
    EXPECT_EQ(lines[8], 7);  // odd count: the last line is not written
    EXPECT_EQ(lines[9], 7);
  }
}

TEST(HuffmanBigValuesTest, OddCountDecodesOneLineLess) {
  BitWriter w;
  PutPair(w, 1, 1, -1);
  PutPair(w, 1, 0, 1);
  PutPair(w, 1, 1, 1);  // not reached
  const std::vector<uint8_t> bytes = w.Bytes();
  std::vector<int32_t> lines(6, 99);
  BitReader br;
  br.Start(bytes.data(), bytes.size());
  DecodeBigValues(br, kNoEnd, lines.data(), 5, 1);
  EXPECT_EQ(lines, (std::vector<int32_t>{1, -1, 0, 1, 99, 99}));
  EXPECT_EQ(br.BitPosition(), 5 + 4);
}

TEST(HuffmanBigValuesTest, NonPositiveCountDoesNothing) {
  const std::vector<uint8_t> bytes(8, 0);
  std::vector<int32_t> lines(4, 5);
  BitReader br;
  br.Start(bytes.data(), bytes.size());
  DecodeBigValues(br, kNoEnd, lines.data(), 0, 0);
  DecodeBigValues(br, kNoEnd, lines.data(), -4, 15);
  DecodeBigValues(br, kNoEnd, lines.data(), 1, 15);
  EXPECT_EQ(lines, (std::vector<int32_t>{5, 5, 5, 5}));
  EXPECT_EQ(br.BitPosition(), 0);
}

TEST(HuffmanBigValuesTest, Table16EscapeGivesMinus16) {
  const HuffmanCodeTable codes = BigValuesCodeTable(16);
  BitWriter w;
  w.Put(codes.codes[15 * 16 + 0], codes.lengths[15 * 16 + 0]);  // (15, 0)
  w.Put(1, 1);                                                   // escape bit (linbits 1)
  w.Put(1, 1);                                                   // sign
  const std::vector<uint8_t> bytes = w.Bytes();
  int32_t lines[2] = {7, 7};
  BitReader br;
  br.Start(bytes.data(), bytes.size());
  DecodeBigValues(br, kNoEnd, lines, 2, 16);
  EXPECT_EQ(lines[0], -16);
  EXPECT_EQ(lines[1], 0);
  EXPECT_EQ(br.BitPosition(), static_cast<int>(w.bits()));
}

TEST(HuffmanBigValuesTest, Table1KnownBits) {
  // "1" (0,0); "01" (1,0) sign 1; "001" (0,1) sign 0; "000" (1,1) signs 0 1.
  const uint8_t bytes[8] = {0b10110010, 0b00001000, 0, 0, 0, 0, 0, 0};
  int32_t lines[8] = {};
  BitReader br;
  br.Start(bytes, sizeof bytes);
  DecodeBigValues(br, kNoEnd, lines, 8, 1);
  EXPECT_EQ(std::vector<int32_t>(lines, lines + 8),
            (std::vector<int32_t>{0, 0, -1, 0, 0, 1, 1, -1}));
  EXPECT_EQ(br.BitPosition(), 1 + 3 + 4 + 5);
}

TEST(HuffmanBigValuesTest, StopsAfterThePairThatPassesTheEnd) {
  BitWriter w;
  for (int i = 0; i < 20; ++i) PutPair(w, 1, 1, 1);
  const std::vector<uint8_t> bytes = w.Bytes();
  std::vector<int32_t> lines(40, 99);
  BitReader br;
  br.Start(bytes.data(), bytes.size());
  // The first look-up loads four bytes, so the byte position is 4 after the first pair.
  DecodeBigValues(br, 3, lines.data(), 40, 1);
  EXPECT_EQ(lines[0], 1);
  EXPECT_EQ(lines[1], 1);
  for (size_t i = 2; i < lines.size(); ++i) EXPECT_EQ(lines[i], 99) << i;
}

TEST(HuffmanBigValuesTest, CorruptDataStaysInRange) {
  std::mt19937 rng(99);
  std::vector<uint8_t> bytes(4096);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  for (int table_select = 0; table_select < 32; ++table_select) {
    const BigValuesTable& table = BigValuesDirectory()[table_select];
    const int limit = table.method == kHuffmanMethodEscape ? 15 + (1 << table.linbits) - 1 : 15;
    BitReader br;
    br.Start(bytes.data(), 600);  // bytes past 600 read as zero
    std::vector<int32_t> lines(576);
    DecodeBigValues(br, 700, lines.data(), 576, table_select);
    for (int32_t v : lines) {
      ASSERT_LE(v, limit);
      ASSERT_GE(v, -limit);
    }
  }
}

int Count1Expected(const std::vector<std::array<int, 4>>& quads) {
  int result = 0;
  for (size_t i = 0; i < quads.size(); ++i) {
    const auto& q = quads[i];
    if (q[2] != 0 || q[3] != 0) {
      result = static_cast<int>(4 * (i + 1));
    } else if (q[0] != 0 || q[1] != 0) {
      result = static_cast<int>(4 * i + 2);
    }
  }
  return result;
}

TEST(HuffmanCount1Test, RoundTripTablesAAndB) {
  std::mt19937 rng(77);
  for (int table = 0; table < 2; ++table) {
    for (int round = 0; round < 200; ++round) {
      const int quadruples = 1 + static_cast<int>(rng() % 144);
      std::vector<std::array<int, 4>> quads(static_cast<size_t>(quadruples));
      BitWriter w;
      for (auto& q : quads) {
        for (int& v : q) v = (rng() % 3 == 0) ? ((rng() % 2) ? -1 : 1) : 0;
        const int arr[4] = {q[0], q[1], q[2], q[3]};
        PutQuadruple(w, table, arr);
      }
      const std::vector<uint8_t> bytes = w.Bytes();
      std::vector<int32_t> lines(static_cast<size_t>(4 * quadruples + 3), 55);
      BitReader br;
      br.Start(bytes.data(), bytes.size());
      const int result = DecodeCount1(br, kNoEnd, lines.data(), 4 * quadruples + 3,
                                      static_cast<int>(w.bits()), table);
      EXPECT_EQ(result, Count1Expected(quads));
      EXPECT_EQ(br.BitPosition(), static_cast<int>(w.bits()));
      for (int i = 0; i < quadruples; ++i) {
        for (int j = 0; j < 4; ++j) ASSERT_EQ(lines[4 * i + j], quads[i][j]) << i << " " << j;
      }
      for (size_t i = 4 * quadruples; i < lines.size(); ++i) EXPECT_EQ(lines[i], 55);
    }
  }
}

TEST(HuffmanCount1Test, QuadrupleCountLimitsDecoding) {
  BitWriter w;
  for (int i = 0; i < 10; ++i) PutQuadruple(w, 1, {0, 0, 0, 1});
  const std::vector<uint8_t> bytes = w.Bytes();
  std::vector<int32_t> lines(12, 8);
  BitReader br;
  br.Start(bytes.data(), bytes.size());
  EXPECT_EQ(DecodeCount1(br, kNoEnd, lines.data(), 11, 1000, 1), 8);  // two quadruples
  EXPECT_EQ(lines[8], 8);
  EXPECT_EQ(br.BitPosition(), 10);
}

TEST(HuffmanCount1Test, TableBWithThreeBitsLeftDecodesNothing) {
  const std::vector<uint8_t> bytes(8, 0);  // "0000" would be (1,1,1,1)
  std::vector<int32_t> lines(8, 3);
  BitReader br;
  br.Start(bytes.data(), bytes.size());
  EXPECT_EQ(DecodeCount1(br, kNoEnd, lines.data(), 8, 3, 1), 0);
  EXPECT_EQ(lines, std::vector<int32_t>(8, 3));
  EXPECT_EQ(br.BitPosition(), 0);
  EXPECT_EQ(DecodeCount1(br, kNoEnd, lines.data(), 8, 0, 0), 0);
  EXPECT_EQ(br.BitPosition(), 0);
}

TEST(HuffmanCount1Test, ResultCoversTheLastNonzeroValue) {
  for (int table = 0; table < 2; ++table) {
    {
      BitWriter w;
      PutQuadruple(w, table, {0, 0, 0, -1});
      PutQuadruple(w, table, {1, 0, 0, 0});
      PutQuadruple(w, table, {0, 0, 0, 0});
      const std::vector<uint8_t> bytes = w.Bytes();
      int32_t lines[12];
      BitReader br;
      br.Start(bytes.data(), bytes.size());
      EXPECT_EQ(DecodeCount1(br, kNoEnd, lines, 12, static_cast<int>(w.bits()), table), 4 * 1 + 2);
    }
    {
      BitWriter w;
      PutQuadruple(w, table, {1, 1, 0, 0});
      PutQuadruple(w, table, {0, 0, 0, 1});
      const std::vector<uint8_t> bytes = w.Bytes();
      int32_t lines[8];
      BitReader br;
      br.Start(bytes.data(), bytes.size());
      EXPECT_EQ(DecodeCount1(br, kNoEnd, lines, 8, static_cast<int>(w.bits()), table), 4 * 2);
      EXPECT_EQ(lines[7], 1);
    }
  }
}

TEST(HuffmanCount1Test, OverrunZeroesTheLastQuadrupleButCountsIt) {
  BitWriter w;
  PutQuadruple(w, 1, {-1, 0, 0, 0});  // 5 bits
  PutQuadruple(w, 1, {0, 1, 1, 0});   // 6 bits
  PutQuadruple(w, 1, {1, 1, 1, 1});   // beyond the budget
  const std::vector<uint8_t> bytes = w.Bytes();
  std::vector<int32_t> lines(12, 4);
  BitReader br;
  br.Start(bytes.data(), bytes.size());
  EXPECT_EQ(DecodeCount1(br, kNoEnd, lines.data(), 12, 9, 1), 8);  // 2 bits past the budget
  EXPECT_EQ(lines, (std::vector<int32_t>{-1, 0, 0, 0, 0, 0, 0, 0, 4, 4, 4, 4}));
  EXPECT_EQ(br.BitPosition(), 11);
}

TEST(HuffmanCount1Test, StopsAfterTheQuadrupleThatPassesTheEnd) {
  BitWriter w;
  for (int i = 0; i < 30; ++i) PutQuadruple(w, 0, {1, 0, 0, 1});
  const std::vector<uint8_t> bytes = w.Bytes();
  std::vector<int32_t> lines(120, 6);
  BitReader br;
  br.Start(bytes.data(), bytes.size());
  EXPECT_EQ(DecodeCount1(br, 3, lines.data(), 120, 10000, 0), 4);
  EXPECT_EQ(lines[0], 1);
  EXPECT_EQ(lines[3], 1);
  EXPECT_EQ(lines[4], 6);
}

// Real Layer III streams: with the right code tables every granule's Huffman data ends exactly at
// its part2_3_length. This parses just enough of each frame to check that.
struct GranuleSide {
  int part2_3_length, big_values, scalefac_compress, block_type, mixed_block_flag;
  int table_select[3], region0_count, region1_count, count1table_select;
};

int ScaleFactorBits(bool lsf, const GranuleSide& g, int granule, int scfsi, bool intensity_right) {
  if (!lsf) {
    const int s1 = kSlen[g.scalefac_compress][0];
    const int s2 = kSlen[g.scalefac_compress][1];
    if (g.block_type == 2) return g.mixed_block_flag ? 17 * s1 + 18 * s2 : 18 * (s1 + s2);
    if (granule == 0) return 11 * s1 + 10 * s2;
    return ((scfsi & 8) ? 0 : 6 * s1) + ((scfsi & 4) ? 0 : 5 * s1) + ((scfsi & 2) ? 0 : 5 * s2) +
           ((scfsi & 1) ? 0 : 5 * s2);
  }
  int slen[4] = {0, 0, 0, 0};
  int table;
  const int s = g.scalefac_compress;
  if (!intensity_right) {
    if (s < 400) {
      slen[0] = (s >> 4) / 5, slen[1] = (s >> 4) % 5, slen[2] = (s % 16) >> 2, slen[3] = s % 4;
      table = 0;
    } else if (s < 500) {
      const int t = s - 400;
      slen[0] = (t >> 2) / 5, slen[1] = (t >> 2) % 5, slen[2] = t % 4;
      table = 1;
    } else {
      const int t = s - 500;
      slen[0] = t / 3, slen[1] = t % 3;
      if (g.block_type == 2 && g.mixed_block_flag) slen[1] = t / 3, slen[2] = t % 3;
      table = 2;
    }
  } else {
    const int i = s >> 1;
    if (i < 180) {
      slen[0] = i / 36, slen[1] = (i % 36) / 6, slen[2] = (i % 36) % 6;
      table = 3;
    } else if (i < 244) {
      const int t = i - 180;
      slen[0] = (t >> 4) % 4, slen[1] = (t >> 2) % 4, slen[2] = t % 4;
      table = 4;
    } else {
      const int t = i - 244;
      slen[0] = t / 3, slen[1] = t % 3;
      table = 5;
    }
  }
  const int kind = g.block_type != 2 ? 0 : (g.mixed_block_flag ? 2 : 1);
  int bits = 0;
  for (int p = 0; p < 4; ++p) {
    const int n = kLsfPartitionSizes[table][kind][p];
    bits += n * slen[p] * ((kind == 1 || (kind == 2 && p > 0)) ? 3 : 1);
  }
  return bits;
}

// Returns {granules checked, granules whose decoding did not end at part2_3_length}.
std::pair<int, int> CheckStream(const std::vector<uint8_t>& data) {
  static const int kBitrates[2][16] = {
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}};
  static const int kRates[3][3] = {
      {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  int checked = 0, failed = 0;
  std::vector<uint8_t> reservoir;
  size_t pos = 0;
  while (pos + 4 <= data.size()) {
    const uint8_t* h = &data[pos];
    const int id_bits = (h[1] >> 3) & 3;
    const int bitrate_index = h[2] >> 4, sf = (h[2] >> 2) & 3;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1 || id_bits == 1 ||
        bitrate_index == 0 || bitrate_index == 15 || sf == 3) {
      ++pos;
      continue;
    }
    const int version = id_bits == 3 ? 0 : (id_bits == 2 ? 1 : 2);
    const bool lsf = version != 0;
    const int kbps = kBitrates[lsf ? 0 : 1][bitrate_index];
    const int padding = (h[2] >> 1) & 1;
    const size_t length =
        static_cast<size_t>((lsf ? 72000 : 144000) * kbps / kRates[version][sf] + padding);
    if (pos + length > data.size()) break;
    const int mode = h[3] >> 6;
    const int mode_extension = mode == 1 ? (h[3] >> 4) & 3 : 0;
    const int channels = mode == 3 ? 1 : 2;
    const int crc = (h[1] & 1) ? 0 : 2;
    BitReader br;
    br.Start(h + 4 + crc, length - 4 - crc);
    const int main_data_begin = static_cast<int>(br.ReadBits(lsf ? 8 : 9));
    br.ReadBits(lsf ? channels : (channels == 1 ? 5 : 3));
    int scfsi[2] = {0, 0};
    if (!lsf) {
      for (int c = 0; c < channels; ++c) scfsi[c] = static_cast<int>(br.ReadBits(4));
    }
    const int granules = lsf ? 1 : 2;
    GranuleSide side[2][2] = {};
    for (int gr = 0; gr < granules; ++gr) {
      for (int c = 0; c < channels; ++c) {
        GranuleSide& g = side[gr][c];
        g.part2_3_length = static_cast<int>(br.ReadBits(12));
        g.big_values = static_cast<int>(br.ReadBits(9));
        br.ReadBits(8);
        g.scalefac_compress = static_cast<int>(br.ReadBits(lsf ? 9 : 4));
        if (br.ReadBits(1) != 0) {
          g.block_type = static_cast<int>(br.ReadBits(2));
          g.mixed_block_flag = static_cast<int>(br.ReadBits(1));
          g.table_select[0] = static_cast<int>(br.ReadBits(5));
          g.table_select[1] = static_cast<int>(br.ReadBits(5));
          br.ReadBits(9);
          g.region0_count = lsf && g.block_type == 2 ? 5 : 7;
          g.region1_count = lsf && g.block_type == 2 ? 15 : 13;
        } else {
          for (int& t : g.table_select) t = static_cast<int>(br.ReadBits(5));
          g.region0_count = static_cast<int>(br.ReadBits(4));
          g.region1_count = static_cast<int>(br.ReadBits(3));
        }
        br.ReadBits(lsf ? 1 : 2);
        g.count1table_select = static_cast<int>(br.ReadBits(1));
      }
    }
    const size_t side_bytes = lsf ? (channels == 1 ? 9 : 17) : (channels == 1 ? 17 : 32);
    const long frame_start = static_cast<long>(reservoir.size()) - main_data_begin;
    reservoir.insert(reservoir.end(), h + 4 + crc + side_bytes, h + length);
    if (frame_start >= 0) {
      long bit_position = frame_start * 8;
      for (int gr = 0; gr < granules; ++gr) {
        for (int c = 0; c < channels; ++c) {
          const GranuleSide& g = side[gr][c];
          const size_t base = static_cast<size_t>(bit_position / 8);
          const int skip = static_cast<int>(bit_position % 8);
          BitReader r;
          r.Start(reservoir.data() + base, reservoir.size() - base);
          r.SkipBits(skip);
          bit_position += g.part2_3_length;
          const size_t end_byte = static_cast<size_t>((bit_position + 39) / 8) - base;
          for (int n = ScaleFactorBits(lsf, g, gr, scfsi[c], c == 1 && (mode_extension & 1));
               n > 0; n -= 16) {
            r.ReadBits(std::min(n, 16));
          }
          const LongBandEnds& ends = LongBandEndsFor(version, sf);
          const int v = std::min(2 * g.big_values, 576);
          const int region2 = g.region0_count + g.region1_count + 1;
          const int r1 = std::min<int>(ends[static_cast<size_t>(g.region0_count)], v);
          const int r2 = std::min<int>(region2 < 22 ? ends[static_cast<size_t>(region2)] : 576, v);
          int32_t lines[576];
          DecodeBigValues(r, end_byte, lines, r1, g.table_select[0]);
          DecodeBigValues(r, end_byte, lines + r1, r2 - r1, g.table_select[1]);
          DecodeBigValues(r, end_byte, lines + r2, v - r2, g.table_select[2]);
          DecodeCount1(r, end_byte, lines + v, 576 - v,
                       g.part2_3_length - (r.BitPosition() - skip), g.count1table_select);
          ++checked;
          if (r.BitPosition() - skip != g.part2_3_length) ++failed;
        }
      }
    }
    pos += length;
  }
  return {checked, failed};
}

TEST(HuffmanSamplesTest, EveryGranuleEndsAtItsPart23Length) {
  const char* files[] = {
      "l3_m1_44k_128_joint_noinfo.mp3", "l3_m1_48k_320_stereo.mp3", "l3_m1_32k_64_stereo.mp3",
      "l3_m1_44k_32_mono.mp3",          "l3_m1_44k_192_1k0db.mp3",  "l3_m1_48k_192_dual.mp3",
      "l3_vbr_v2_xing.mp3",             "l3_crc_32k_80_mono_noinfo.mp3", "l3_m2_24k_160_joint.mp3",
      "l3_m2_22k_32_mono.mp3",          "l3_m2_16k_16_joint.mp3",   "l3_m25_8k_8_mono.mp3",
      "l3_m25_11k_32_joint.mp3",        "l3_m25_12k_24_stereo.mp3"};
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> data =
        test::ReadFile(test::DataPath(std::string("samples/") + name));
    ASSERT_FALSE(data.empty());
    const auto [checked, failed] = CheckStream(data);
    EXPECT_GT(checked, 20);
    EXPECT_EQ(failed, 0);
  }
}

}  // namespace
}  // namespace plumo
