#include "huffman.h"

#include <array>
#include <bit>
#include <cstdlib>
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
  int8_t x, y;    // signed values (resolved), unsigned ones (escape), the next level (link, see Next)
  uint8_t bits;   // code and sign bits (resolved), code bits (escape), the next level's peek width (link)
  uint8_t kind;   // kPairResolved, kPairEscape or kPairLink
};
// Four bytes an entry keep the tables a granule walks small enough to stay in the first-level cache.
static_assert(sizeof(PairEntry) == 4);
constexpr uint8_t kPairResolved = 0;  // values and signs complete
constexpr uint8_t kPairEscape = 1;    // a leaf whose linbits escapes and signs follow
constexpr uint8_t kPairLink = 2;      // consume this level's bits and go on to the next level

// A link to the table at `index` in WideLookups::pairs, peeked `width` bits wide.
PairEntry Link(uint32_t index, int width) {
  return PairEntry{static_cast<int8_t>(static_cast<uint8_t>(index & 0xFF)),
                   static_cast<int8_t>(static_cast<uint8_t>(index >> 8)), static_cast<uint8_t>(width), kPairLink};
}
// The index of a link's table.
inline uint32_t Next(const PairEntry& e) {
  return uint32_t{static_cast<uint8_t>(e.x)} | (uint32_t{static_cast<uint8_t>(e.y)} << 8);
}

struct QuadrupleEntry {
  int8_t v[4];         // signed values
  uint8_t bits;        // code and sign bits
  uint8_t value_bits;  // v in bit 3 .. y in bit 0
  uint8_t unused[2];
};

struct WideLookups {
  // Every level of every code, widened by two bits: a peek of the level's k bits plus two resolves
  // a code and its signs (at most two) together. first[table_select] indexes the first level's
  // table in `pairs` (index << 8 | peek width).
  std::vector<PairEntry> pairs;
  uint32_t first[32] = {};
  std::array<QuadrupleEntry, 1024> count1_a{};  // by the next 10 bits

  // The entries of the widened table of one level and of the levels it links to.
  static size_t WidenedEntries(const uint8_t* level) {
    const int k = level[0];
    size_t entries = size_t{1} << (k + 2);
    for (uint32_t i = 0; i < (1u << k); ++i) {
      const uint8_t* entry = level + kHuffmanLevelHeaderBytes + i * kHuffmanEntryBytes;
      if (entry[3] != 0) continue;
      entries += WidenedEntries(level + 4 * (uint32_t{entry[0]} | (uint32_t{entry[1]} << 8) | (uint32_t{entry[2]} << 16)));
    }
    return entries;
  }

  // Appends the widened table of one level (and, first, those of the levels it links to);
  // returns its index << 8 | its peek width.
  uint32_t AddLevel(const uint8_t* level, bool escapes) {
    const int k = level[0];
    const int width = k + 2;
    std::vector<PairEntry> table(size_t{1} << width);
    for (uint32_t i = 0; i < table.size(); ++i) {
      const uint8_t* entry = level + kHuffmanLevelHeaderBytes + (i >> 2) * kHuffmanEntryBytes;
      const int length = entry[3];
      if (length == 0) {
        const uint32_t distance = uint32_t{entry[0]} | (uint32_t{entry[1]} << 8) | (uint32_t{entry[2]} << 16);
        // Entries of one link share the next level.
        const bool same = i > 0 && (i & 3) != 0;
        if (same) {
          table[i] = table[i - 1];
        } else {
          const uint32_t next = AddLevel(level + 4 * distance, escapes);
          // The levels of every code together hold far fewer than 65536 entries.
          if ((next >> 8) > 0xFFFF) std::abort();
          table[i] = Link(next >> 8, static_cast<int>(next & 0xFF));
        }
        continue;
      }
      const int x = entry[1], y = entry[2];
      if (escapes && (x == 15 || y == 15)) {
        table[i] = PairEntry{static_cast<int8_t>(x), static_cast<int8_t>(y), static_cast<uint8_t>(length), kPairEscape};
        continue;
      }
      const int signs = (x != 0) + (y != 0);
      const uint32_t sign_bits = (i >> (width - length - signs)) & ((1u << signs) - 1u);
      const int sign_x = x != 0 ? static_cast<int>((sign_bits >> (signs - 1)) & 1u) : 0;
      const int sign_y = y != 0 ? static_cast<int>(sign_bits & 1u) : 0;
      table[i] = PairEntry{static_cast<int8_t>(sign_x ? -x : x), static_cast<int8_t>(sign_y ? -y : y),
                           static_cast<uint8_t>(length + signs), kPairResolved};
    }
    const uint32_t at = static_cast<uint32_t>(pairs.size());
    pairs.insert(pairs.end(), table.begin(), table.end());
    return (at << 8) | static_cast<uint32_t>(width);
  }

  WideLookups() {
    const auto& dir = BigValuesDirectory();
    // Room for every table at once: growing the vector would copy it and touch twice the pages.
    size_t entries = 0;
    for (int t = 0; t < 32; ++t) {
      const BigValuesTable& table = dir[static_cast<size_t>(t)];
      bool seen = table.method == kHuffmanMethodNone;
      for (int u = 0; u < t && !seen; ++u) seen = dir[static_cast<size_t>(u)].lookup == table.lookup;
      if (!seen) entries += WidenedEntries(table.lookup);
    }
    pairs.reserve(entries);
    for (int t = 0; t < 32; ++t) {
      const BigValuesTable& table = dir[static_cast<size_t>(t)];
      if (table.method == kHuffmanMethodNone) continue;
      // Tables sharing a code share its widened tables.
      int same = -1;
      for (int u = 0; u < t && same < 0; ++u)
        if (dir[static_cast<size_t>(u)].lookup == table.lookup) same = u;
      first[t] = same >= 0 ? first[same] : AddLevel(table.lookup, table.method == kHuffmanMethodEscape);
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

}  // namespace

void PrepareHuffmanTables() { Wide(); }

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
  const WideLookups& wide = Wide();
  const PairEntry* pairs_table = wide.pairs.data();
  const uint32_t first = wide.first[table_select & 31];
  const PairEntry* first_table = pairs_table + (first >> 8);
  const int first_width = static_cast<int>(first & 0xFF);
  const int first_shift = 32 - first_width;
  // The held bits left-aligned, shifted along as a pair's code and signs are consumed: the first
  // peek is then a shift by a constant, and a pair's look-up waits only for the previous pair's
  // bit count.
  uint32_t aligned = br.Aligned();
  for (int p = 0; p < pairs; ++p) {
    // Level by level: a peek of k + 2 bits (at most 11) refills exactly when one of the level's
    // k bits would; a link consumes the level's k bits, a leaf the bits of its code and signs.
    if (br.HeldBits() < 11) aligned = br.PrepareAligned();
    const PairEntry* e = &first_table[aligned >> first_shift];
    if (e->kind == kPairResolved) {  // most pairs
      br.Consume(e->bits);
      aligned <<= e->bits;
      lines[2 * p] = e->x;
      lines[2 * p + 1] = e->y;
      if (br.BytePosition() > end_byte) break;
      continue;
    }
    int width = first_width;
    while (e->kind == kPairLink) {
      br.Consume(width - 2);
      width = e->bits;
      e = &pairs_table[Next(*e) + br.PeekBits(width)];
    }
    br.Consume(e->bits);
    if (e->kind == kPairResolved) {
      lines[2 * p] = e->x;
      lines[2 * p + 1] = e->y;
    } else {
      lines[2 * p] = FinishValue(br, e->x, linbits);
      lines[2 * p + 1] = FinishValue(br, e->y, linbits);
    }
    aligned = br.Aligned();
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

  int stored = 0;
  if (table_a) {
    // As for the big values: the held bits left-aligned, shifted along.
    uint32_t aligned = br.Aligned();
    while (stored < quadruples && bits > 0) {
      // Code and signs from one peek: a peek of 10 bits refills exactly when one of 6 would, and
      // the signs then never need a refill of their own.
      if (br.HeldBits() < 11) aligned = br.PrepareAligned();
      const QuadrupleEntry& e = wide_a[aligned >> 22];
      br.Consume(e.bits);
      aligned <<= e.bits;
      bits -= e.bits;
      int32_t* out = lines + 4 * stored;
      for (int j = 0; j < 4; ++j) out[j] = e.v[j];
      ++stored;
      if (br.BytePosition() > end_byte) break;
    }
  }
  while (!table_a && stored < quadruples && bits > min_bits) {
    const int value_bits = static_cast<int>(br.ReadBits(4)) ^ 15;
    bits -= 4;
    int32_t* out = lines + 4 * stored;
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

  // The last quadruple with a nonzero value, found afterwards rather than tracked in the loops
  // (whose every quadruple would otherwise take a branch that data decides): its third or fourth
  // value nonzero ends the nonzero lines after it, else after its second.
  int last = stored - 1;
  while (last >= 0 && (lines[4 * last] | lines[4 * last + 1] | lines[4 * last + 2] | lines[4 * last + 3]) == 0) --last;
  const bool upper_pair = last >= 0 && (lines[4 * last + 2] | lines[4 * last + 3]) != 0;

  if (bits < 0 && stored > 0) {
    int32_t* out = lines + 4 * (stored - 1);
    out[0] = out[1] = out[2] = out[3] = 0;
  }
  if (last < 0) return 0;
  return upper_pair ? (last + 1) * 4 : last * 4 + 2;
}

}  // namespace plumo
