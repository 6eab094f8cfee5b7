// Layer III Huffman code tables (ISO/IEC 11172-3 Annex B, Table B.7 and the count1 tables A and B)
// and the lookup structures the Huffman decoder walks.
#pragma once

#include <array>
#include <cstdint>

namespace plumo {

// One big-values code table as the standard lists it: entries in (x, y) order, x major, so entry
// x * size + y describes the pair (x, y). Each entry is a code length in bits and the code value,
// right-aligned (the code's first bit in the stream is bit length - 1 of the value).
struct HuffmanCodeTable {
  int size = 0;  // x and y each range over 0 .. size - 1; 0 for a table without codes
  const uint8_t* lengths = nullptr;
  const uint16_t* codes = nullptr;
};

// The code table of a Table B.7 table number (0 .. 31). Tables 16 .. 23 share the codes of 16 and
// 24 .. 31 those of 24; tables 0, 4 and 14 carry no codes (size 0).
HuffmanCodeTable BigValuesCodeTable(int table_number);

// Count1 code tables, 16 entries each, indexed by the value bits v * 8 + w * 4 + x * 2 + y.
struct Count1CodeTable {
  const uint8_t* lengths = nullptr;
  const uint8_t* codes = nullptr;
};
Count1CodeTable Count1CodeTableA();
Count1CodeTable Count1CodeTableB();

// Decode methods of a big-values table.
inline constexpr int kHuffmanMethodNone = 0;         // no codes: the lines are zero
inline constexpr int kHuffmanMethodSingleLevel = 1;  // one lookup, no escape
inline constexpr int kHuffmanMethodMultiLevel = 2;   // linked lookups, no escape
inline constexpr int kHuffmanMethodEscape = 3;       // linked lookups with the linbits escape

// Lookup structure layout. A level is a 4-byte header (byte 0 = k, the number of stream bits that
// index it) followed by 2^k entries of 4 bytes, entry i for the next k bits i, most significant
// first. A leaf entry has byte 1 = x, byte 2 = y, byte 3 = the bits of this level the code uses
// (1 .. k); a link entry has byte 3 = 0 and, read as a little-endian 32-bit word, gives the
// distance in 4-byte units from the start of its level to the start of the next level.
inline constexpr int kHuffmanLevelHeaderBytes = 4;
inline constexpr int kHuffmanEntryBytes = 4;

// One descriptor of the big-values directory, indexed by table_select.
struct BigValuesTable {
  const uint8_t* lookup = nullptr;  // first level of the lookup structure; null for method 0
  int linbits = 0;
  int method = kHuffmanMethodNone;
};

// The directory for table_select 0 .. 31. Built on first use (thread-safe), then constant.
const std::array<BigValuesTable, 32>& BigValuesDirectory();

// Count1 table A for decoding: 64 entries of 2 bytes indexed by the next 6 stream bits;
// byte 0 = the code length (1 .. 6), byte 1 = the value bits (v in bit 3 .. y in bit 0).
// Table B needs no storage: its 4-bit code, inverted, is the value bits.
const std::array<uint8_t, 128>& Count1TableA();

}  // namespace plumo
