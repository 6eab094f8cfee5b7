// Layer III constant tables: scale-factor band boundaries (ISO/IEC 11172-3 Table B.8,
// ISO/IEC 13818-3 Table B.2 and the MPEG-2.5 bands), pretab, and the scale-factor length tables.
#pragma once

#include <array>
#include <cstdint>

namespace plumo {

// Version index of the band tables: 0 = MPEG-1, 1 = MPEG-2 (LSF), 2 = MPEG-2.5.
inline constexpr int kLayer3VersionMpeg1 = 0;
inline constexpr int kLayer3VersionMpeg2 = 1;
inline constexpr int kLayer3VersionMpeg25 = 2;

inline constexpr int kLongBandCount = 22;
inline constexpr int kShortBandCount = 13;

using LongBandEnds = std::array<int16_t, kLongBandCount>;
using ShortBandEnds = std::array<int16_t, kShortBandCount>;

// Long-block band ends [version][sampling_frequency][band]: band b covers lines
// [end of band b - 1, end of band b); the last end is 576.
inline constexpr std::array<std::array<LongBandEnds, 3>, 3> kLongBandEnds = {{
    // MPEG-1: 44.1, 48, 32 kHz
    {{
        {4, 8, 12, 16, 20, 24, 30, 36, 44, 52, 62, 74, 90, 110, 134, 162, 196, 238, 288, 342, 418,
         576},
        {4, 8, 12, 16, 20, 24, 30, 36, 42, 50, 60, 72, 88, 106, 128, 156, 190, 230, 276, 330, 384,
         576},
        {4, 8, 12, 16, 20, 24, 30, 36, 44, 54, 66, 82, 102, 126, 156, 194, 240, 296, 364, 448, 550,
         576},
    }},
    // MPEG-2: 22.05, 24, 16 kHz
    {{
        {6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464,
         522, 576},
        {6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 114, 136, 162, 194, 232, 278, 332, 394, 464,
         540, 576},
        {6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464,
         522, 576},
    }},
    // MPEG-2.5: 11.025 and 12 kHz use the MPEG-2 22.05 kHz long bands; 8 kHz has its own.
    {{
        {6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464,
         522, 576},
        {6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464,
         522, 576},
        {12, 24, 36, 48, 60, 72, 88, 108, 132, 160, 192, 232, 280, 336, 400, 476, 566, 568, 570,
         572, 574, 576},
    }},
}};

// Short-block band ends [version][sampling_frequency][band], counted in lines of one window;
// the last end is 192.
inline constexpr std::array<std::array<ShortBandEnds, 3>, 3> kShortBandEnds = {{
    // MPEG-1: 44.1, 48, 32 kHz
    {{
        {4, 8, 12, 16, 22, 30, 40, 52, 66, 84, 106, 136, 192},
        {4, 8, 12, 16, 22, 28, 38, 50, 64, 80, 100, 126, 192},
        {4, 8, 12, 16, 22, 30, 42, 58, 78, 104, 138, 180, 192},
    }},
    // MPEG-2: 22.05, 24, 16 kHz
    {{
        {4, 8, 12, 18, 24, 32, 42, 56, 74, 100, 132, 174, 192},
        {4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 136, 180, 192},
        {4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192},
    }},
    // MPEG-2.5: 11.025 and 12 kHz use the MPEG-2 16 kHz short bands (as encoders write them);
    // 8 kHz has its own.
    {{
        {4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192},
        {4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192},
        {8, 16, 24, 36, 52, 72, 96, 124, 160, 162, 164, 166, 192},
    }},
}};

// Band tables by version index (0 .. 2) and sampling_frequency code (0 .. 2); out-of-range
// arguments are clamped.
const LongBandEnds& LongBandEndsFor(int version, int sampling_frequency);
const ShortBandEnds& ShortBandEndsFor(int version, int sampling_frequency);

// Scale-factor boost of the upper long bands when preflag is set (ISO/IEC 11172-3 Table B.6).
inline constexpr std::array<uint8_t, kLongBandCount> kPretab = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

// MPEG-1 scale-factor bit lengths (slen1, slen2) by scalefac_compress.
inline constexpr std::array<std::array<uint8_t, 2>, 16> kSlen = {{
    {0, 0}, {0, 1}, {0, 2}, {0, 3}, {3, 0}, {1, 1}, {1, 2}, {1, 3},
    {2, 1}, {2, 2}, {2, 3}, {3, 1}, {3, 2}, {3, 3}, {4, 2}, {4, 3},
}};

// LSF scale-factor partitions: the number of scale factors in each of the four partitions,
// [partition table 0 .. 5][block kind: 0 = long, 1 = short, 2 = mixed][partition]. Short and
// mixed counts are in short bands of three windows (the ISO/IEC 13818-3 counts divided by 3); a
// mixed row begins with the six long factors.
inline constexpr std::array<std::array<std::array<uint8_t, 4>, 3>, 6> kLsfPartitionSizes = {{
    {{{6, 5, 5, 5}, {3, 3, 3, 3}, {6, 3, 3, 3}}},
    {{{6, 5, 7, 3}, {3, 3, 4, 2}, {6, 3, 4, 2}}},
    {{{11, 10, 0, 0}, {6, 6, 0, 0}, {6, 3, 6, 0}}},
    {{{7, 7, 7, 0}, {4, 4, 4, 0}, {6, 5, 4, 0}}},
    {{{6, 6, 6, 3}, {4, 3, 3, 2}, {6, 4, 3, 2}}},
    {{{8, 8, 5, 0}, {5, 4, 3, 0}, {6, 6, 3, 0}}},
}};

}  // namespace plumo
