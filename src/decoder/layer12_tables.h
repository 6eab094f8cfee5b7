// Layer II allocation tables (ISO/IEC 11172-3 Tables 3-B.2a-d, ISO/IEC 13818-3 Table B.1) and
// the quantization classes (ISO/IEC 11172-3 Table 3-B.4).
#pragma once

#include <cstdint>

namespace plumo {

// Quantization classes are numbered 1..17; steps of class c at index c - 1.
constexpr int kQuantSteps[17] = {3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};
// Bits per sample of class c at index c (grouped classes 1, 2 and 4: bits per three-sample code).
constexpr int kQuantBits[18] = {0, 5, 7, 3, 10, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

struct LayerTwoRow {
  int nbal;
  const int8_t* classes;  // class for each allocation value; 0 = nothing transmitted
};

struct LayerTwoTable {
  int sblimit;
  LayerTwoRow rows[32];
};

namespace layer2_detail {
inline constexpr int8_t kA0[16] = {0, 1, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
inline constexpr int8_t kA1[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 17};
inline constexpr int8_t kA2[8] = {0, 1, 2, 3, 4, 5, 6, 17};
inline constexpr int8_t kA3[4] = {0, 1, 2, 17};
inline constexpr int8_t kC0[16] = {0, 1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
inline constexpr int8_t kC1[8] = {0, 1, 2, 4, 5, 6, 7, 8};
inline constexpr int8_t kL0[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
inline constexpr int8_t kL2[4] = {0, 1, 2, 4};
inline constexpr LayerTwoRow A0{4, kA0}, A1{4, kA1}, A2{3, kA2}, A3{2, kA3}, C0{4, kC0}, C1{3, kC1}, L0{4, kL0},
    L2{2, kL2};
inline constexpr LayerTwoRow Z{0, kA3};  // beyond sblimit, never read
}  // namespace layer2_detail

// Table numbers: 0 = 3-B.2a (27 sub-bands), 1 = 3-B.2b (30), 2 = 3-B.2c (8), 3 = 3-B.2d (12),
// 4 = the low-sampling-frequency table (30).
inline constexpr LayerTwoTable kLayer2Tables[5] = {
    {27,
     {layer2_detail::A0, layer2_detail::A0, layer2_detail::A0, layer2_detail::A1, layer2_detail::A1,
      layer2_detail::A1, layer2_detail::A1, layer2_detail::A1, layer2_detail::A1, layer2_detail::A1,
      layer2_detail::A1, layer2_detail::A2, layer2_detail::A2, layer2_detail::A2, layer2_detail::A2,
      layer2_detail::A2, layer2_detail::A2, layer2_detail::A2, layer2_detail::A2, layer2_detail::A2,
      layer2_detail::A2, layer2_detail::A2, layer2_detail::A2, layer2_detail::A3, layer2_detail::A3,
      layer2_detail::A3, layer2_detail::A3, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z,
      layer2_detail::Z}},
    {30,
     {layer2_detail::A0, layer2_detail::A0, layer2_detail::A0, layer2_detail::A1, layer2_detail::A1,
      layer2_detail::A1, layer2_detail::A1, layer2_detail::A1, layer2_detail::A1, layer2_detail::A1,
      layer2_detail::A1, layer2_detail::A2, layer2_detail::A2, layer2_detail::A2, layer2_detail::A2,
      layer2_detail::A2, layer2_detail::A2, layer2_detail::A2, layer2_detail::A2, layer2_detail::A2,
      layer2_detail::A2, layer2_detail::A2, layer2_detail::A2, layer2_detail::A3, layer2_detail::A3,
      layer2_detail::A3, layer2_detail::A3, layer2_detail::A3, layer2_detail::A3, layer2_detail::A3, layer2_detail::Z,
      layer2_detail::Z}},
    {8,
     {layer2_detail::C0, layer2_detail::C0, layer2_detail::C1, layer2_detail::C1, layer2_detail::C1,
      layer2_detail::C1, layer2_detail::C1, layer2_detail::C1, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z,
      layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z,
      layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z,
      layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z,
      layer2_detail::Z, layer2_detail::Z, layer2_detail::Z}},
    {12,
     {layer2_detail::C0, layer2_detail::C0, layer2_detail::C1, layer2_detail::C1, layer2_detail::C1,
      layer2_detail::C1, layer2_detail::C1, layer2_detail::C1, layer2_detail::C1, layer2_detail::C1,
      layer2_detail::C1, layer2_detail::C1, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z,
      layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z,
      layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z,
      layer2_detail::Z, layer2_detail::Z, layer2_detail::Z, layer2_detail::Z}},
    {30,
     {layer2_detail::L0, layer2_detail::L0, layer2_detail::L0, layer2_detail::L0, layer2_detail::C1,
      layer2_detail::C1, layer2_detail::C1, layer2_detail::C1, layer2_detail::C1, layer2_detail::C1,
      layer2_detail::C1, layer2_detail::L2, layer2_detail::L2, layer2_detail::L2, layer2_detail::L2,
      layer2_detail::L2, layer2_detail::L2, layer2_detail::L2, layer2_detail::L2, layer2_detail::L2,
      layer2_detail::L2, layer2_detail::L2, layer2_detail::L2, layer2_detail::L2, layer2_detail::L2,
      layer2_detail::L2, layer2_detail::L2, layer2_detail::L2, layer2_detail::L2, layer2_detail::L2, layer2_detail::Z,
      layer2_detail::Z}},
};

// MPEG-1 table choice by [single channel][sampling_frequency][bitrate_index], from the bit rate per
// channel and the sampling frequency; -1 where the standard allows no such stream.
inline constexpr int8_t kLayer2TableChoice[2][4][16] = {
    {
        {1, -1, -1, -1, 2, -1, 2, 0, 0, 0, 1, 1, 1, 1, 1, -1},
        {0, -1, -1, -1, 2, -1, 2, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        {1, -1, -1, -1, 3, -1, 3, 0, 0, 0, 1, 1, 1, 1, 1, -1},
        {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
    },
    {
        {1, 2, 2, 0, 0, 0, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1},
        {0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1, -1},
        {1, 3, 3, 0, 0, 0, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1},
        {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
    },
};

}  // namespace plumo
