#include "huffman.h"

#include <array>
#include <bit>
#include <vector>

#include "huffman_tables.h"

namespace plumo {
namespace {

// Derived look-ups that resolve a whole pair or quadruple, signs included, from one peek. They
// peek two bits (pairs) or four bits (quadruples) more than the first level of the code and
// consume what the codes and signs use, so the reader loads exactly when and what the level-wise
// decoding would load; entries whose code needs a deeper level or an escape send the decoder
// that way.
struct PairEntry {
  int8_t x, y;     // signed values
  uint8_t bits;    // code and sign bits; 0: decode level by level
  uint8_t unused;
};

struct QuadrupleEntry {
  int8_t v[4];         // signed values
  uint8_t bits;        // code and sign bits
  uint8_t value_bits;  // v in bit 3 .. y in bit 0
  uint8_t unused[2];
};

struct WideLookups {
  std::vector<PairEntry> pairs[32];  // per table_select, indexed by first-level bits + 2
  std::array<QuadrupleEntry, 1024> count1_a{};  // by the next 10 bits

  WideLookups() {
    const auto& dir = BigValuesDirectory();
    for (int t = 0; t < 32; ++t) {
      const BigValuesTable& table = dir[static_cast<size_t>(t)];
      if (table.method == kHuffmanMethodNone) continue;
      const int k = table.lookup[0];
      const int width = k + 2;
      std::vector<PairEntry>& out = pairs[t];
      out.assign(size_t{1} << width, PairEntry{0, 0, 0, 0});
      for (uint32_t i = 0; i < out.size(); ++i) {
        const uint8_t* entry = table.lookup + kHuffmanLevelHeaderBytes + (i >> 2) * kHuffmanEntryBytes;
        const int length = entry[3];
        if (length == 0) continue;  // a link: deeper levels
        const int x = entry[1], y = entry[2];
        if (table.method == kHuffmanMethodEscape && (x == 15 || y == 15)) continue;
        const int signs = (x != 0) + (y != 0);
        const uint32_t sign_bits = (i >> (width - length - signs)) & ((1u << signs) - 1u);
        const int sign_x = x != 0 ? static_cast<int>((sign_bits >> (signs - 1)) & 1u) : 0;
        const int sign_y = y != 0 ? static_cast<int>(sign_bits & 1u) : 0;
        out[i] = PairEntry{static_cast<int8_t>(sign_x ? -x : x), static_cast<int8_t>(sign_y ? -y : y),
                           static_cast<uint8_t>(length + signs), 0};
      }
    }
    const std::array<uint8_t, 128>& a = Count1TableA();
    for (uint32_t i = 0; i < count1_a.size(); ++i) {
      const uint32_t code = i >> 4;
      const int length = a[2 * code];
      const int value_bits = a[2 * code + 1];
      int remaining = std::popcount(static_cast<unsigned>(value_bits));
      const uint32_t signs = (i >> (10 - length - remaining)) & ((1u << remaining) - 1u);
      QuadrupleEntry& e = count1_a[i];
      e.bits = static_cast<uint8_t>(length + remaining);
      e.value_bits = static_cast<uint8_t>(value_bits);
      for (int j = 0; j < 4; ++j) {
        const int value = (value_bits >> (3 - j)) & 1;
        remaining -= value;
        const int negative = static_cast<int>(signs >> remaining) & value;
        e.v[j] = static_cast<int8_t>(value - 2 * negative);
      }
    }
  }
};

const WideLookups& Wide() {
  static const WideLookups lookups;
  return lookups;
}

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
  const PairEntry* wide = Wide().pairs[table_select & 31].data();
  const int wide_bits = table.lookup[0] + 2;
  for (int p = 0; p < pairs; ++p) {
    // The first level's peek (at most 11 bits) refills exactly when a peek of its k bits would.
    const PairEntry& fast = wide[br.PeekBits(wide_bits)];
    if (fast.bits != 0) {
      br.Consume(fast.bits);
      lines[2 * p] = fast.x;
      lines[2 * p + 1] = fast.y;
      if (br.BytePosition() > end_byte) break;
      continue;
    }
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
  const QuadrupleEntry* wide_a = Wide().count1_a.data();

  int last = -1;
  int last_value_bits = 15;
  int stored = 0;
  if (table_a) {
    while (stored < quadruples && bits > 0) {
      // Code and signs from one peek: a peek of 10 bits refills exactly when one of 6 would, and
      // the signs then never need a refill of their own.
      const QuadrupleEntry& e = wide_a[br.PeekBits(10)];
      br.Consume(e.bits);
      bits -= e.bits;
      int32_t* out = lines + 4 * stored;
      for (int j = 0; j < 4; ++j) out[j] = e.v[j];
      if (e.value_bits != 0) {
        last = stored;
        last_value_bits = e.value_bits;
      }
      ++stored;
      if (br.BytePosition() > end_byte) break;
    }
  }
  while (!table_a && stored < quadruples && bits > min_bits) {
    const int value_bits = static_cast<int>(br.ReadBits(4)) ^ 15;
    bits -= 4;
    int32_t* out = lines + 4 * stored;
    if (value_bits != 0) {
      last = stored;
      last_value_bits = value_bits;
    }
    // The signs of the nonzero values, one bit each in order.
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
