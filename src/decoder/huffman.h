// Layer III Huffman decoding of the big-values and count1 regions of one granule and channel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bit_reader.h"

namespace plumo {

// Builds the shared decoding tables now, so that no decode allocates or pays for them.
void PrepareHuffmanTables();

// Decodes count / 2 pairs (x, y) with the table of table_select into lines[0 .. 2 * (count / 2)).
// Order of bits per pair: code, x escape (linbits), x sign, y escape, y sign. Tables 0, 4 and 14
// write zeros and read nothing. Stops after the pair during which br.BytePosition() passes
// end_byte, leaving the remaining lines untouched.
void DecodeBigValues(BitReader& br, size_t end_byte, int32_t* lines, int count, int table_select);

// Decodes quadruples (v, w, x, y) with count1 table A (count1table_select 0) or B (otherwise) into
// lines, at most count / 4 of them, while bits (the granule's unread Huffman-data bits) remain
// (more than 0 for table A, more than 3 for table B). Stops after the quadruple during which
// br.BytePosition() passes end_byte. A last quadruple that overran bits is set back to zeros.
// Returns the number of lines up to and including the last nonzero value (rounded up to the end
// of its pair), 0 when every quadruple was zero.
int DecodeCount1(BitReader& br, size_t end_byte, int32_t* lines, int count, int bits,
                 int count1table_select);

}  // namespace plumo
