// Loudness levelling for files whose tags carry no ReplayGain: each file is measured once
// (EBU R128, decoded on a decoder of its own) on a background thread of the lowest priority,
// the result kept in the loudness cache, and the player takes the measured gains when it opens
// a file. A file not measured yet plays unchanged; it has its gain at its next start.
//
// The album of an entry is the run of consecutive playlist entries in its folder with the same
// album tag (the same folder when untagged); its gain is the loudness of the run's audio as one,
// known once every file of the run is measured.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "decoder.h"
#include "loudness_cache.h"
#include "replay_gain.h"

namespace plumo {

class TLoudnessMeter;

// Decodes the whole file (as the player plays it: gapless trims applied) through a meter.
// Raises what opening or reading the file raises. cancel, when given and set, ends it early
// with std::runtime_error. keep, when given, receives the meter (for measurements of several
// files as one).
TMeasuredFile MeasureFile(Decoder& decoder, const std::string& path, const std::atomic<bool>* cancel = nullptr,
                          std::unique_ptr<TLoudnessMeter>* keep = nullptr);

// What the player needs of a file's measurement.
struct TMeasuredLevels {
  TReplayGain Gain;  // track gain and true peak; album gain and peak once the album is measured
  // The file's album plays in order: the playlist plays in order and the album has more than one
  // entry (Auto takes the album gain then).
  bool AlbumInOrder = false;
};

class TLoudnessScanner {
 public:
  // cache_file: where measurements are kept ("" in memory only).
  explicit TLoudnessScanner(std::string cache_file = TLoudnessCache::DefaultFile());
  ~TLoudnessScanner();
  TLoudnessScanner(const TLoudnessScanner&) = delete;
  TLoudnessScanner& operator=(const TLoudnessScanner&) = delete;

  // The playlist's entries in their order, and whether they play in that order (not shuffled).
  void SetPlaylist(std::vector<std::string> files);
  void SetInOrder(bool in_order);
  // file starts playing: measures, unless known, the entry after it (the one given to Expect
  // while not in order), the file itself, then the rest of its album and of the next one's.
  void Playing(const std::string& file);
  // The entry that is to follow (the shuffled order's next).
  void Expect(const std::string& next);

  TMeasuredLevels Levels(const std::string& file) const;

  // Files measured by this scanner (those found in the cache not counted).
  int64_t Measurements() const { return FMeasurements.load(); }
  // Waits until nothing is left to measure.
  void WaitIdle();

 private:
  void Run();
  // The run of entries of the folder of entry i (lock held).
  std::pair<size_t, size_t> FolderRun(size_t i) const;
  int Index(const std::string& file) const;
  std::optional<TMeasuredFile> Known(const std::string& file) const;

  TLoudnessCache FCache;
  mutable std::mutex FLock;
  std::condition_variable FWake;
  std::condition_variable FIdle;
  std::vector<std::string> FFiles;
  bool FInOrder = true;
  std::string FExpected;
  std::deque<std::string> FQueue;
  // Files that could not be measured (not tried again).
  std::set<std::string> FFailed;
  bool FBusy = false;
  std::atomic<bool> FStop{false};
  std::atomic<int64_t> FMeasurements{0};
  std::thread FThread;
};

}  // namespace plumo
