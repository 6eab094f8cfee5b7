// The Layer III Huffman decoder on its own: big-values pairs with any table, then count1
// quadruples, read from the input's bits.
//
// Input: byte 0 the big-values table (low five bits) and the count1 table (bit 5); bytes 1-2 the
// number of big-values lines (0 .. 576); bytes 3-4 the part 3 length in bits; byte 5 how far the
// end position lies past the data (0 .. 255 bytes); the rest are the coded bits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bit_reader.h"
#include "huffman.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const int table = data[0] & 31;
  const int count1_table = (data[0] >> 5) & 1;
  const int big = (data[1] | data[2] << 8) % 577;
  const int bits = data[3] | data[4] << 8;
  const std::vector<uint8_t> coded(data + 6, data + size);
  const size_t end_byte = coded.size() + data[5];

  // Each region in a block of its exact size: a write past it is seen by AddressSanitizer.
  std::vector<int32_t> pairs(static_cast<size_t>(big));
  const int rest = 576 - big;
  std::vector<int32_t> quadruples(static_cast<size_t>(rest));
  plumo::BitReader br;
  br.Start(coded.data(), coded.size());
  plumo::DecodeBigValues(br, end_byte, pairs.data(), big, table);
  for (int32_t v : pairs)
    if (std::abs(v) > 8206) __builtin_trap();  // 15 plus 13 escape bits at most
  const int used = br.BitPosition();
  const int count = plumo::DecodeCount1(br, end_byte, quadruples.data(), rest, bits - used, count1_table);
  if (count < 0 || count > rest) __builtin_trap();
  for (int32_t v : quadruples)
    if (v < -1 || v > 1) __builtin_trap();
  return 0;
}
