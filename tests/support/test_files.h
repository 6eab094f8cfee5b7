// Loading test data files.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace plumo::test {

// Full path of a file below tests/data.
std::string DataPath(const std::string& relative);

// Whole file contents; fails the current test (and returns empty) when it cannot be read.
std::vector<uint8_t> ReadFile(const std::string& path);

// 16-bit little-endian PCM file as samples.
std::vector<int16_t> ReadPcm16(const std::string& path);

// The rows of tests/data/samples/MANIFEST.tsv, each a map from column name to value.
using ManifestRow = std::map<std::string, std::string>;
std::vector<ManifestRow> ReadSamplesManifest();

}  // namespace plumo::test
