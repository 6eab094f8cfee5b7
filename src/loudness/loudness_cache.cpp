#include "loudness_cache.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace plumo {

namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

bool Number(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0';
}

bool Integer(const std::string& text, int64_t& value) {
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0';
}

// Tabs and line ends would break the line apart.
bool Storable(const std::string& text) { return text.find_first_of("\t\n\r") == std::string::npos; }

}  // namespace

std::optional<TFileIdentity> IdentifyFile(const std::string& path) {
  struct stat s {};
  if (::stat(path.c_str(), &s) != 0 || !S_ISREG(s.st_mode)) return std::nullopt;
  return TFileIdentity{static_cast<int64_t>(s.st_size),
                       static_cast<int64_t>(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec};
}

TLoudnessCache::TLoudnessCache(std::string file) : FFile(std::move(file)) { Load(); }

std::string TLoudnessCache::DefaultFile() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/plumo/loudness";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  return std::string(home) + "/.cache/plumo/loudness";
}

// path, size, mtime, integrated, range, true peak, sample peak, album, blocks ("bin:count ...").
void TLoudnessCache::Load() {
  if (FFile.empty()) return;
  std::ifstream in(FFile);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = Fields(line);
    if (f.size() != 9) continue;
    TEntry e;
    TLoudness& l = e.Measured.Loudness;
    if (!Integer(f[1], e.Identity.Size) || !Integer(f[2], e.Identity.ModifiedNs) || !Number(f[3], l.Integrated) ||
        !Number(f[4], l.Range) || !Number(f[5], l.TruePeak) || !Number(f[6], l.SamplePeak))
      continue;
    e.Measured.Album = f[7];
    std::istringstream blocks(f[8]);
    std::string item;
    bool good = true;
    while (blocks >> item) {
      const size_t colon = item.find(':');
      int64_t bin = 0, count = 0;
      if (colon == std::string::npos || !Integer(item.substr(0, colon), bin) || !Integer(item.substr(colon + 1), count) ||
          bin < -100000 || bin > 100000 || count <= 0 || count > UINT32_MAX) {
        good = false;
        break;
      }
      l.Blocks.emplace_back(static_cast<int32_t>(bin), static_cast<uint32_t>(count));
    }
    if (good) FEntries[f[0]] = std::move(e);
  }
}

std::optional<TMeasuredFile> TLoudnessCache::Find(const std::string& path, const TFileIdentity& identity) const {
  std::lock_guard<std::mutex> hold(FLock);
  const auto it = FEntries.find(path);
  if (it == FEntries.end() || !(it->second.Identity == identity)) return std::nullopt;
  return it->second.Measured;
}

void TLoudnessCache::Store(const std::string& path, const TFileIdentity& identity, const TMeasuredFile& measured) {
  std::lock_guard<std::mutex> hold(FLock);
  FEntries[path] = TEntry{identity, measured};
  if (FFile.empty() || !Storable(path) || !Storable(measured.Album)) return;
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(FFile).parent_path(), error);
  const TLoudness& l = measured.Loudness;
  std::string line = path + '\t' + std::to_string(identity.Size) + '\t' + std::to_string(identity.ModifiedNs);
  char numbers[128];
  std::snprintf(numbers, sizeof numbers, "\t%.4f\t%.4f\t%.6f\t%.6f\t", l.Integrated, l.Range, l.TruePeak, l.SamplePeak);
  line += numbers + measured.Album + '\t';
  for (size_t i = 0; i < l.Blocks.size(); ++i)
    line += (i ? " " : "") + std::to_string(l.Blocks[i].first) + ':' + std::to_string(l.Blocks[i].second);
  line += '\n';
  // One write of the whole line, appended: two programs storing at once do not mix their lines.
  if (std::FILE* f = std::fopen(FFile.c_str(), "a")) {
    std::setvbuf(f, nullptr, _IOFBF, line.size() + 1);
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
}

}  // namespace plumo
