#include "loudness_scanner.h"

#include <algorithm>
#include <stdexcept>

#include "file_stream.h"
#include "loudness_meter.h"
#include "mp3_source.h"
#include "thread.h"

namespace plumo {

namespace {

std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of('/') + 1); }

// Entries of one folder looked at for an album at most, either way.
constexpr size_t kMaxAlbumRun = 200;

}  // namespace

TMeasuredFile MeasureFile(Decoder& decoder, const std::string& path, const std::atomic<bool>* cancel,
                          std::unique_ptr<TLoudnessMeter>* keep) {
  TFileStream stream(path);
  TMP3Source source(decoder);
  source.Open(&stream, true);
  const OutputFormat format = source.Format();
  auto meter = std::make_unique<TLoudnessMeter>(format.channels, format.sample_rate);
  std::vector<uint8_t> pcm(static_cast<size_t>(std::max(source.BytesPerFrame(), 1)));
  const size_t frame_bytes = static_cast<size_t>(2 * format.channels);
  while (!source.AtEndOfData()) {
    if (cancel && cancel->load()) throw std::runtime_error("measuring cancelled");
    if (!source.ProduceFrame(pcm.data()) || source.ProducedBytes() <= 0) continue;
    // 16-bit little-endian PCM, aligned in the buffer.
    const auto* samples = reinterpret_cast<const int16_t*>(pcm.data() + source.ProducedOffset());
    meter->Add(samples, static_cast<size_t>(source.ProducedBytes()) / frame_bytes);
  }
  TMeasuredFile measured{meter->Result(), source.Info().Album()};
  if (keep) *keep = std::move(meter);
  return measured;
}

TLoudnessScanner::TLoudnessScanner(std::string cache_file) : FCache(std::move(cache_file)) {
  FThread = std::thread([this] { Run(); });
}

TLoudnessScanner::~TLoudnessScanner() {
  {
    std::lock_guard<std::mutex> hold(FLock);
    FStop.store(true);
  }
  FWake.notify_all();
  FThread.join();
}

void TLoudnessScanner::SetPlaylist(std::vector<std::string> files) {
  std::lock_guard<std::mutex> hold(FLock);
  FFiles = std::move(files);
}

void TLoudnessScanner::SetInOrder(bool in_order) {
  std::lock_guard<std::mutex> hold(FLock);
  FInOrder = in_order;
}

void TLoudnessScanner::Expect(const std::string& next) {
  {
    std::lock_guard<std::mutex> hold(FLock);
    FExpected = next;
    // The next entry goes first.
    FQueue.push_front(next);
  }
  FWake.notify_all();
}

int TLoudnessScanner::Index(const std::string& file) const {
  const auto it = std::find(FFiles.begin(), FFiles.end(), file);
  return it == FFiles.end() ? -1 : static_cast<int>(it - FFiles.begin());
}

std::pair<size_t, size_t> TLoudnessScanner::FolderRun(size_t i) const {
  const std::string folder = Folder(FFiles[i]);
  size_t a = i, b = i + 1;
  while (a > 0 && i - a < kMaxAlbumRun && Folder(FFiles[a - 1]) == folder) --a;
  while (b < FFiles.size() && b - i < kMaxAlbumRun && Folder(FFiles[b]) == folder) ++b;
  return {a, b};
}

void TLoudnessScanner::Playing(const std::string& file) {
  {
    std::lock_guard<std::mutex> hold(FLock);
    std::vector<std::string> order;
    const int i = Index(file);
    std::string next = FExpected;
    if (FInOrder && i >= 0 && static_cast<size_t>(i) + 1 < FFiles.size()) next = FFiles[static_cast<size_t>(i) + 1];
    if (!next.empty()) order.push_back(next);
    order.push_back(file);
    for (const std::string& member : {file, next}) {
      const int m = member.empty() ? -1 : Index(member);
      if (m < 0) continue;
      const auto [a, b] = FolderRun(static_cast<size_t>(m));
      for (size_t k = a; k < b; ++k) order.push_back(FFiles[k]);
    }
    // Ahead of whatever was asked before.
    for (auto it = order.rbegin(); it != order.rend(); ++it) FQueue.push_front(*it);
  }
  FWake.notify_all();
}

std::optional<TMeasuredFile> TLoudnessScanner::Known(const std::string& file) const {
  const std::optional<TFileIdentity> identity = IdentifyFile(file);
  return identity ? FCache.Find(file, *identity) : std::nullopt;
}

TMeasuredLevels TLoudnessScanner::Levels(const std::string& file) const {
  TMeasuredLevels levels;
  const std::optional<TMeasuredFile> own = Known(file);
  if (own && !own->Loudness.Silent()) {
    levels.Gain.TrackGain = own->Loudness.Gain();
    levels.Gain.TrackPeak = own->Loudness.TruePeak;
  }
  std::lock_guard<std::mutex> hold(FLock);
  const int i = Index(file);
  if (i < 0) return levels;
  // The album: neighbours in the folder with the same album tag. A file not measured yet counts
  // as one of them (its tag is not known), and the album's gain waits for it.
  std::vector<TMeasuredFile> members;
  if (own) members.push_back(*own);
  size_t count = 1;
  bool complete = own.has_value();
  const auto [a, b] = FolderRun(static_cast<size_t>(i));
  for (const int step : {-1, 1}) {
    for (int k = i + step; k >= static_cast<int>(a) && k < static_cast<int>(b); k += step) {
      std::optional<TMeasuredFile> m = Known(FFiles[static_cast<size_t>(k)]);
      if (m && own && m->Album != own->Album) break;
      ++count;
      if (m)
        members.push_back(std::move(*m));
      else
        complete = false;
    }
  }
  levels.AlbumInOrder = FInOrder && count > 1;
  if (!complete) return levels;
  std::vector<const TLoudness*> parts;
  double peak = 0;
  for (const TMeasuredFile& m : members) {
    parts.push_back(&m.Loudness);
    peak = std::max(peak, m.Loudness.TruePeak);
  }
  const double album = CombinedLoudness(parts);
  if (album > -70) {
    levels.Gain.AlbumGain = kReferenceLoudness - album;
    levels.Gain.AlbumPeak = peak;
  }
  return levels;
}

void TLoudnessScanner::WaitIdle() {
  std::unique_lock<std::mutex> hold(FLock);
  FIdle.wait(hold, [this] { return FQueue.empty() && !FBusy; });
}

void TLoudnessScanner::Run() {
  platform::SetCurrentThreadName("plumo-loudness");
  // Measuring never takes time from the decoding that plays.
  platform::SetThreadPriority(platform::CurrentThreadId(), platform::ThreadPriority::kIdle);
  std::unique_ptr<Decoder> decoder;
  std::unique_lock<std::mutex> hold(FLock);
  for (;;) {
    FWake.wait(hold, [this] { return FStop.load() || !FQueue.empty(); });
    if (FStop.load()) return;
    const std::string file = FQueue.front();
    FQueue.pop_front();
    if (FFailed.count(file) != 0) {
      if (FQueue.empty()) FIdle.notify_all();
      continue;
    }
    FBusy = true;
    hold.unlock();
    const std::optional<TFileIdentity> identity = IdentifyFile(file);
    bool failed = false;
    if (identity && !FCache.Find(file, *identity)) {
      try {
        if (!decoder) decoder = std::make_unique<Decoder>();
        const TMeasuredFile measured = MeasureFile(*decoder, file, &FStop);
        // Changed while it was read: measured again when next asked.
        if (IdentifyFile(file) == identity) {
          FCache.Store(file, *identity, measured);
          FMeasurements.fetch_add(1);
        }
      } catch (...) {
        failed = !FStop.load();
      }
    }
    hold.lock();
    if (failed) FFailed.insert(file);
    FBusy = false;
    if (FQueue.empty()) FIdle.notify_all();
  }
}

}  // namespace plumo
