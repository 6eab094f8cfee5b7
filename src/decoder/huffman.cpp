#include "huffman.h"

#include <array>

#include "huffman_tables.h"

namespace plumo {
namespace {

// Reads an escape (when the table has linbits and the code gave 15) and the sign of one value.
int32_t FinishValue(BitReader& br, int32_t value, int linbits) {
  if (linbits != 0 && value == 15) value += static_cast<int32_t>(br.ReadEscapeBits(linbits));
  if (value != 0 && br.ReadBits(1) != 0) value = -value;
  return value;
}

}  // namespace

void DecodeBigValues(BitReader& reader, size_t end_byte, int32_t* lines, int count, int table_select) {
  if (count <= 0) return;
  const int pairs = count / 2;
  const BigValuesTable& table = BigValuesDirectory()[static_cast<size_t>(table_select & 31)];
  if (table.method == kHuffmanMethodNone) {
    for (int i = 0; i < 2 * pairs; ++i) lines[i] = 0;
    return;
  }
  const int linbits = table.method == kHuffmanMethodEscape ? table.linbits : 0;

  // A local copy of the reader stays in registers (stores to lines cannot touch it).
  BitReader br = reader;
  for (int p = 0; p < pairs; ++p) {
    // Walk the levels: every link consumes its level's bits, a leaf consumes the bits it uses.
    const uint8_t* level = table.lookup;
    const uint8_t* entry;
    for (;;) {
      const int k = level[0];
      entry = level + kHuffmanLevelHeaderBytes +
              static_cast<size_t>(br.PeekBits(k) & ((1u << k) - 1u)) * kHuffmanEntryBytes;
      if (entry[3] != 0) break;
      br.SkipBits(k);
      const uint32_t distance = uint32_t{entry[0]} | (uint32_t{entry[1]} << 8) |
                                (uint32_t{entry[2]} << 16) | (uint32_t{entry[3]} << 24);
      level += static_cast<size_t>(distance) * 4;
    }
    br.SkipBits(entry[3]);

    const int32_t x = entry[1], y = entry[2];
    if (linbits == 0 || (x != 15 && y != 15)) {
      // No escape: the signs of the nonzero values follow each other.
      const int has_y = y != 0;
      const uint32_t signs = br.ReadSingleBits((x != 0) + has_y);
      const int32_t sign_y = static_cast<int32_t>(signs & static_cast<uint32_t>(has_y));
      const int32_t sign_x = static_cast<int32_t>((signs >> has_y) & 1u) & (x != 0);
      lines[2 * p] = sign_x ? -x : x;
      lines[2 * p + 1] = sign_y ? -y : y;
    } else {
      lines[2 * p] = FinishValue(br, x, linbits);
      lines[2 * p + 1] = FinishValue(br, y, linbits);
    }
    if (br.BytePosition() > end_byte) break;
  }
  reader = br;
}

int DecodeCount1(BitReader& reader, size_t end_byte, int32_t* lines, int count, int bits,
                 int count1table_select) {
  // A local copy of the reader stays in registers (stores to lines cannot touch it).
  BitReader br = reader;
  const bool table_a = count1table_select == 0;
  const int min_bits = table_a ? 0 : 3;
  const int quadruples = count > 0 ? count / 4 : 0;
  const std::array<uint8_t, 128>& a = Count1TableA();

  int last = -1;
  int last_value_bits = 15;
  int stored = 0;
  while (stored < quadruples && bits > min_bits) {
    int value_bits;
    if (table_a) {
      const size_t index = br.PeekBits(6) & 63u;
      const int length = a[2 * index];
      value_bits = a[2 * index + 1];
      br.SkipBits(length);
      bits -= length;
    } else {
      value_bits = static_cast<int>(br.ReadBits(4)) ^ 15;
      bits -= 4;
    }
    if (value_bits != 0) {
      last = stored;
      last_value_bits = value_bits;
    }
    // The signs of the nonzero values, one bit each in order.
    int32_t* out = lines + 4 * stored;
    int remaining = ((value_bits >> 3) & 1) + ((value_bits >> 2) & 1) + ((value_bits >> 1) & 1) + (value_bits & 1);
    const uint32_t signs = br.ReadSingleBits(remaining);
    bits -= remaining;
    for (int j = 0; j < 4; ++j) {
      const int32_t value = (value_bits >> (3 - j)) & 1;
      remaining -= value;
      const int32_t negative = static_cast<int32_t>(signs >> remaining) & value;
      out[j] = value - 2 * negative;
    }
    ++stored;
    if (br.BytePosition() > end_byte) break;
  }
  reader = br;

  if (bits < 0 && stored > 0) {
    int32_t* out = lines + 4 * (stored - 1);
    out[0] = out[1] = out[2] = out[3] = 0;
  }
  if (last < 0) return 0;
  return (last_value_bits & 3) != 0 ? (last + 1) * 4 : last * 4 + 2;
}

}  // namespace plumo
