// For fuzz targets whose code reads a file by name: the input written to a scratch file of this
// fuzzing process, rewritten for every input.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace plumo::fuzz {

// The scratch file's name, or "" when it could not be written.
inline std::string WriteScratchFile(const char* suffix, const uint8_t* data, size_t size) {
  const std::string name = "/tmp/plumo-fuzz-" + std::to_string(getpid()) + suffix;
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) return "";
  const bool written = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && written ? name : "";
}

}  // namespace plumo::fuzz
