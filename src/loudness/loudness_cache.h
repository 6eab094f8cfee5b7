// The measured loudness of files, kept so that a file is measured once: one line per file in a
// text file, keyed by the file's path, size and modification time (a file that changed is
// measured again). Lines are appended as measurements come in; a later line for a path wins.
// Safe to use from several threads.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "loudness_meter.h"

namespace plumo {

struct TFileIdentity {
  int64_t Size = -1;
  int64_t ModifiedNs = 0;
  friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

// The size and modification time of a regular file; nullopt when it is none.
std::optional<TFileIdentity> IdentifyFile(const std::string& path);

struct TMeasuredFile {
  TLoudness Loudness;
  std::string Album;  // the album tag ("" when untagged)
};

class TLoudnessCache {
 public:
  // file: the cache file ("" keeps measurements in memory only); read now when it exists.
  explicit TLoudnessCache(std::string file);

  // $XDG_CACHE_HOME/plumo/loudness (else ~/.cache/plumo/loudness); "" without either.
  static std::string DefaultFile();

  std::optional<TMeasuredFile> Find(const std::string& path, const TFileIdentity& identity) const;
  // Keeps the measurement and appends it to the file (its folder made when missing).
  void Store(const std::string& path, const TFileIdentity& identity, const TMeasuredFile& measured);

 private:
  struct TEntry {
    TFileIdentity Identity;
    TMeasuredFile Measured;
  };
  void Load();

  std::string FFile;
  mutable std::mutex FLock;
  std::unordered_map<std::string, TEntry> FEntries;
};

}  // namespace plumo
