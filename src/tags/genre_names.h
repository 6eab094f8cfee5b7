// Names of the ID3v1 genre bytes.
#pragma once

#include <string_view>

namespace plumo {

// Genre name for an ID3v1 genre byte (0 to 255); empty for the unnamed values 148 to 247 and for
// anything outside 0..255.
std::string_view Id3v1GenreName(int index);

}  // namespace plumo
