#include "layer3_tables.h"

#include <algorithm>

namespace plumo {
namespace {

template <size_t N>
constexpr bool IsBandTable(const std::array<int16_t, N>& ends, int last) {
  int previous = 0;
  for (const int16_t end : ends) {
    if (end <= previous) return false;
    previous = end;
  }
  return previous == last;
}

constexpr bool AllBandTablesValid() {
  for (const auto& version : kLongBandEnds) {
    for (const auto& ends : version) {
      if (!IsBandTable(ends, 576)) return false;
    }
  }
  for (const auto& version : kShortBandEnds) {
    for (const auto& ends : version) {
      if (!IsBandTable(ends, 192)) return false;
    }
  }
  return true;
}

static_assert(AllBandTablesValid(), "band ends must rise strictly to 576 (long) and 192 (short)");

int Clamp(int value) { return std::clamp(value, 0, 2); }

}  // namespace

const LongBandEnds& LongBandEndsFor(int version, int sampling_frequency) {
  return kLongBandEnds[static_cast<size_t>(Clamp(version))]
                      [static_cast<size_t>(Clamp(sampling_frequency))];
}

const ShortBandEnds& ShortBandEndsFor(int version, int sampling_frequency) {
  return kShortBandEnds[static_cast<size_t>(Clamp(version))]
                       [static_cast<size_t>(Clamp(sampling_frequency))];
}

}  // namespace plumo
