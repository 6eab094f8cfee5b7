#include "test_files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace plumo::test {

std::string DataPath(const std::string& relative) { return std::string(PLUMO_TEST_DATA) + "/" + relative; }

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<int16_t> ReadPcm16(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return samples;
}

namespace {
std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) fields.push_back(field);
  if (!line.empty() && line.back() == '\t') fields.emplace_back();
  return fields;
}
}  // namespace

std::vector<ManifestRow> ReadSamplesManifest() {
  std::ifstream in(DataPath("samples/MANIFEST.tsv"));
  std::vector<ManifestRow> rows;
  std::string line;
  if (!std::getline(in, line)) {
    ADD_FAILURE() << "cannot read the samples manifest";
    return rows;
  }
  const std::vector<std::string> names = SplitTabs(line);
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const std::vector<std::string> fields = SplitTabs(line);
    ManifestRow row;
    for (size_t i = 0; i < names.size(); ++i) row[names[i]] = i < fields.size() ? fields[i] : "";
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace plumo::test
