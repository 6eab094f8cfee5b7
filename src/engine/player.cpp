#include "player.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "assertion.h"
#include "cpu.h"
#include "file_stream.h"
#include "named_stream.h"

namespace plumo {
namespace {

// The PCM buffer holds one frame of any stream (1152 samples, two channels, 16 bits) and more.
constexpr size_t kPcmBufferSize = 5120;
// While a chained stream's first sample is on its way, the position is looked at this often (ms),
// so that the change of track is noticed as it is heard.
constexpr int32_t kJoinNotifyInterval = 10;
// Bytes of the stream one step of the header walk behind the playback reads.
constexpr int64_t kIndexStepBytes = 524288;

// Holds a player lock for a scope.
class Hold {
 public:
  explicit Hold(TMPAbstractMutex& mutex) : FMutex(&mutex) { FMutex->Enter(); }
  ~Hold() { Release(); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  void Release() {
    if (FMutex) FMutex->Leave();
    FMutex = nullptr;
  }
  // Takes the lock again after Release.
  void Acquire(TMPAbstractMutex& mutex) {
    Release();
    FMutex = &mutex;
    FMutex->Enter();
  }

 private:
  TMPAbstractMutex* FMutex;
};

bool Signalled(TMPEvent& event) { return event.Signaled(); }

// A decode step whose network read was cancelled: the playback is being stopped.
struct TReadCancelled {};

// Reads a live stream for the reader, letting the decode lock (held once by the reading thread)
// go while the read waits for the network. Whoever frees the reader or this stream first waits
// for reading to be false under the decode lock (WaitForNetworkRead); a read cancelled meanwhile
// ends the decode step at once, before the reader uses anything again.
class TUnlockedNetworkRead final : public TStream {
 public:
  TUnlockedNetworkRead(TStream& inner, TMPAbstractMutex& lock, std::atomic<bool>& reading,
                       const std::atomic<bool>& cancelled)
      : FInner(inner), FLock(lock), FReading(reading), FCancelled(cancelled) {}
  int32_t Read(void* buffer, int32_t count) override {
    if (FCancelled.load()) throw TReadCancelled{};
    FReading.store(true);
    FLock.Leave();
    int32_t got = 0;
    std::exception_ptr failure;
    try {
      got = FInner.Read(buffer, count);
    } catch (...) {
      failure = std::current_exception();
    }
    FLock.Enter();
    FReading.store(false);
    if (FCancelled.load()) throw TReadCancelled{};
    if (failure) std::rethrow_exception(failure);
    return got;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FInner.Seek(offset, origin); }
  int64_t Size() override { return FInner.Size(); }

 private:
  TStream& FInner;
  TMPAbstractMutex& FLock;
  std::atomic<bool>& FReading;
  const std::atomic<bool>& FCancelled;
};

// Keeps the decode thread from waiting for the network (a file on a server) while a command
// waits for the decode lock: its read gives up, and the decode step is made again afterwards.
class TReadsInterrupted {
 public:
  explicit TReadsInterrupted(TStream* stream) : FStream(stream) {
    if (FStream) FStream->InterruptReads(true);
  }
  ~TReadsInterrupted() {
    if (FStream) FStream->InterruptReads(false);
  }
  TReadsInterrupted(const TReadsInterrupted&) = delete;
  TReadsInterrupted& operator=(const TReadsInterrupted&) = delete;

 private:
  TStream* FStream;
};

// The decode lock as a command on the main thread takes it: reads of the stream are interrupted
// until the lock is taken and given back.
class TCommandHold {
 public:
  TCommandHold(TStream* stream, TMPAbstractMutex& mutex) : FInterrupted(stream), FHold(mutex) {}

 private:
  TReadsInterrupted FInterrupted;
  Hold FHold;
};

}  // namespace

TMP3Player::TMP3Player(std::shared_ptr<platform::WaveDriver> driver, Decoder& decoder)
    : FDecoder(decoder),
      FWindow([this](const platform::Message& m) { WndProc(m); }),
      FSource(std::make_unique<TMP3Source>(decoder)),
      FDecoding(FSource.get()) {
  SetUsingCpuCapabilities(kAllCpuCapabilities);
  FSoundOut = std::make_unique<TSoundOut>(std::move(driver));
  FSoundOut->SetNotifyInterval(FChangePosStep);
  // The output thread hands its exceptions over without waiting: the main thread may itself be
  // waiting for the output thread (closing the device), and the exception object lives on in the
  // queue.
  FSoundOut->SetOnException(
      [this](TSoundOut*, std::exception_ptr e, bool& handled) { OnThreadException(e, handled, false); });
  FSoundOut->SetOnPosition([this](TSoundOut*) { OnOutputPosition(); });
  FDecodeThread = std::make_unique<TMPLoopThread>(static_cast<TMPMessageOwner*>(this));
  FDecodeThread->SetOnException(
      [this](TMPLoopThread*, std::exception_ptr e, bool& handled) { OnThreadException(e, handled, true); });
  FDecodeThread->Start();
}

TMP3Player::~TMP3Player() {
  FDestroying = true;
  // A device that fails while closing must not keep the player alive; the stream is closed
  // after a failed Stop all the same.
  try {
    Stop();
  } catch (...) {
  }
  try {
    Close();
  } catch (...) {
  }
  FWindow.Destroy();
  // The decode thread uses the sound output: it ends first (and ends before its object goes, as
  // it reads the pointer to it).
  FDecodeThread->Terminate();
  FSoundOut.reset();
  FDecodeThread.reset();
}

void TMP3Player::Loaded() {
  FLoading = false;
  if (FEqualizer.mode == memFreq) SetEqualizerRange(60, 16000);
  if (FAutoOpen && !FFileName.empty()) Open();
}

// ---------------------------------------------------------------------------------------------
// Commands

void TMP3Player::Open() {
  if (FFileName.empty()) {
    Close();
    return;
  }
  const std::string name = FFileName;
  const TTrackSpan track = FOpenTrack;
  // A pipe or a FIFO cannot seek; an address becomes a network stream, whose first read waits
  // for the connection.
  TNamedStream named = OpenNamedStream(name);
  // A file as it stands is opened as before tracks were known.
  OpenStreamAs(named.Stream.release(), static_cast<uint8_t>(kOwned | (named.Seekable ? kSeekable : 0)), &name,
               track == TTrackSpan{} ? nullptr : &track);
}

void TMP3Player::OpenStream(TStream* stream, uint8_t flags) { OpenStreamAs(stream, flags, nullptr); }

void TMP3Player::OpenStream(const std::string& name, std::unique_ptr<TStream> stream, uint8_t flags) {
  OpenStreamAs(stream.release(), static_cast<uint8_t>(flags | kOwned), &name);
}

void TMP3Player::OpenStreamAs(TStream* stream, uint8_t flags, const std::string* name, const TTrackSpan* track) {
  // An owned stream is freed on every failure path, also when closing the previous one fails.
  std::unique_ptr<TStream> owned;
  if (flags & kOwned) owned.reset(stream);
  // Closing the previous stream empties FileName (which name may be).
  const bool named = name != nullptr;
  const std::string new_name = named ? *name : std::string();
  Close();
  FEndMessage.clear();
  if (stream) {
    try {
      FLive = dynamic_cast<TLiveStream*>(stream);
      FNetworkCancelled.store(false);
      // Called from inside Read: on the main thread while opening, on the decode thread later.
      if (FLive) FLive->OnTitleChange = [this] { FWindow.PostUnique(MPM_TITLECHANGE); };
      {
        // The decode thread is idle now; the lock keeps it so while the source changes.
        Hold decode(FDecodeLock);
        // After a gapless change the current source may decode on the spare decoder; a new
        // stream starts on the player's own again.
        if (&FSource->GetDecoder() != &FDecoder) {
          const TMP3InfoTypes types = FSource->Info().NeedInfoType();
          FSource = std::make_unique<TMP3Source>(FDecoder);
          FSource->Info().SetNeedInfoType(types);
        }
        FDecoding = FSource.get();
        TStream* read = stream;
        if (FLive) {
          FLiveReader = std::make_unique<TUnlockedNetworkRead>(*stream, FDecodeLock, FReadingNetwork, FNetworkCancelled);
          read = FLiveReader.get();
        }
        // A station's junk and changes of format are passed over, up to the network's own stall
        // time without a frame.
        FSource->SetLive(FLive != nullptr, kLiveGiveUpMs);
        FSource->Open(read, (flags & kSeekable) != 0);
        if (track) FSource->SetTrack(*track);
        if (!FLive) TakeMeasuredLevels(*FSource, new_name, FReplayGainMode);
        // The first frame is already played at the stream's level.
        TuneDecoder(*FSource);
        FPcmBuffer = std::make_unique<uint8_t[]>(kPcmBufferSize);
        FPendingBytes = 0;
        FPendingOffset = 0;
      }
      FStream = stream;
      FFlags = flags;
      FOwnedStream = std::move(owned);
      const OutputFormat format = FSource->Format();
      Hold output(FOutputLock);
      FDoneBytes = 0;
      FSeekBase = 0;
      FPosition = 0;
      FTrackStartBytes = 0;
      FSoundOut->SetSampleRate(format.sample_rate);
      FSoundOut->SetBitsPerSample(format.bits_per_sample);
      FSoundOut->SetChannels(format.channels);
    } catch (...) {
      // Closed as by Close: no stream, no file name, stopped.
      if (FLive) FLive->OnTitleChange = nullptr;
      FLive = nullptr;
      {
        Hold decode(FDecodeLock);
        FPcmBuffer.reset();
        FSource->Close();
        FLiveReader.reset();
      }
      FStream = nullptr;
      FOwnedStream.reset();
      FFileName.clear();
      FFlags = 0;
      SetStatus(mpsStopped);
      throw;
    }
    FWindow.PostUnique(MPM_EQUALIZER);
    SetStatus(mpsStopped);
    if (named) FFileName = new_name;
  }
  if (FAutoPlay) Play();
}

void TMP3Player::OpenStream(std::unique_ptr<TStream> stream, uint8_t flags) {
  OpenStream(stream.release(), static_cast<uint8_t>(flags | kOwned));
}

void TMP3Player::Close() {
  if (!Opened()) return;
  if (FStatus != mpsStopped) Stop();
  if (!Opened()) return;  // Stop closed a stream that cannot seek
  {
    const TCommandHold decode(FStream, FDecodeLock);
    // A decode step may still be inside a cancelled network read; it ends without touching the
    // reader again.
    WaitForNetworkRead();
    DropChain();
    FSource->Close();
    FLiveReader.reset();
    FPcmBuffer.reset();
  }
  FFileName.clear();
  // A stream the player does not own outlives it: it no longer calls back.
  if (FLive) FLive->OnTitleChange = nullptr;
  FLive = nullptr;
  FStream = nullptr;
  FOwnedStream.reset();
  FFlags = 0;
  {
    Hold output(FOutputLock);
    FDoneBytes = 0;
    FSeekBase = 0;
    FPosition = 0;
    FTrackStartBytes = 0;
  }
  SetStatus(mpsStopped);
}

void TMP3Player::Play() {
  if (!EnabledCommands().Contains(mcmPlay)) return;
  try {
    // The processor's kernels, limited to the capabilities the user allows (vendor and family
    // are not the user's to choose).
    {
      const uint32_t flags =
          (DetectCpu() & ~cpu_flags::kCapabilityBits) | CpuFlagsFromCapabilities(FUsingCpuCapabilities);
      Hold decode(FDecodeLock);
      FKernelFlags = flags;
      FDecoder.SelectKernels(flags);
      if (FSpareDecoder) FSpareDecoder->SelectKernels(flags);
      // A new playback: an end-of-data message still queued from an earlier one is not its own.
      ++FPlayGeneration;
      FWrittenBytes = 0;
      // The owner is asked for the file to follow once the playback runs; a live stream has
      // no end to follow.
      FNextAsked = static_cast<bool>(OnGetNextFile) && !FLive;
    }
    FEndMessage.clear();
    {
      Hold output(FOutputLock);
      FPositionNotices.store(static_cast<bool>(OnChangePosition) || static_cast<bool>(ProcessApplicationMessages));
      FSoundOut->SetOnPosition([this](TSoundOut*) { OnOutputPosition(); });
      FSoundOut->SetDeviceID(platform::kWaveMapper);
      FSoundOut->Open();
    }
    FDecodeThread->WatchEvent().SetEvent();
  } catch (...) {
    Stop();
    throw;
  }
  SetStatus(mpsPlaying);
  FEndReason = merStoped;
  FWindow.PostUnique(MPM_CHANGEPOSITION);
  if (OnGetNextFile && !FLive) FWindow.Post(MPM_NEXTFILE, static_cast<uintptr_t>(FPlayGeneration));
}

void TMP3Player::CancelNetwork() {
  FNetworkCancelled.store(true);
  if (FLive) FLive->Cancel();
}

void TMP3Player::Stop() {
  if (!Opened() || FStatus == mpsStopped) return;
  // The decode thread may wait in a network stream's Read, holding the decode lock: that read
  // returns at once now. The stream is closed below anyway (it cannot seek).
  if (FLive) CancelNetwork();
  // A chained stream already heard is the one that stops (a failing handler of the change does
  // not keep the playback from stopping).
  try {
    TakeHeardTracks();
  } catch (...) {
  }
  try {
    FEndPosition = Position();
  } catch (...) {
    // A device that cannot tell its position any more: the last reading stands.
    Hold output(FOutputLock);
    FEndPosition = FPosition;
  }
  // A device that fails to reset or close still ends the playback; its error is reported once
  // the player has stopped.
  std::exception_ptr failure;
  {
    const TCommandHold decode(FStream, FDecodeLock);
    Hold output(FOutputLock);
    ++FPlayGeneration;
    FSoundOut->SetOnPosition(nullptr);
    // Reset returns every queued buffer; Close then waits for the output thread to have seen
    // them all and closes the device, also when Reset failed. A returned buffer can wake the
    // decode thread, so its event is cleared only after both: it then sleeps until the next
    // Play.
    try {
      FSoundOut->Reset();
    } catch (...) {
      failure = std::current_exception();
    }
    try {
      FSoundOut->Close();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    FDecodeThread->WatchEvent().ResetEvent();
  }
  bool chained = false;
  {
    Hold decode(FDecodeLock);
    // The stream heard is the one that stops; those chained after it are dropped.
    chained = !FChain.empty();
    DropChain();
    FSource->Rewind();
    FPendingBytes = 0;
    FPendingOffset = 0;
    FWrittenBytes = 0;
  }
  {
    Hold output(FOutputLock);
    FDoneBytes = 0;
    FSeekBase = 0;
    FPosition = 0;
    FTrackStartBytes = 0;
  }
  // A chained stream opened ahead may have set the current stream's decoder up with its own
  // equalizer tables.
  if (chained) FWindow.PostUnique(MPM_EQUALIZER);
  if (failure) FEndReason = merFailure;
  SetStatus(mpsStopped);
  FWindow.PostUnique(MPM_CHANGEPOSITION);
  // A stream that cannot seek cannot be played again.
  if (Opened() && !FSource->Reader().Seekable()) Close();
  if (failure) std::rethrow_exception(failure);
}

void TMP3Player::Seek(int64_t sample) {
  if (!CanSeek()) return;
  // A chained stream already heard is the one sought in.
  TakeHeardTracks();
  bool chained = false;
  {
    const TCommandHold decode(FStream, FDecodeLock);
    Hold output(FOutputLock);
    // The sound queued so far goes; a decode step waiting for the last sound of the old place
    // neither ends the playback nor waits on.
    if (FStatus != mpsStopped) {
      ++FPlayGeneration;
      FSoundOut->Reset();
    }
    // Streams chained after this one are opened again from the new place on.
    chained = !FChain.empty() || FNextAsked;
    DropChain();
    FSource->SeekSample(sample);
    if (FSource->TakeLengthChange()) FWindow.PostUnique(MPM_LENGTHCHANGE);
    FPendingBytes = 0;
    FPendingOffset = 0;
    FWrittenBytes = 0;
    FDoneBytes = 0;
    FTrackStartBytes = 0;
    FSeekBase = std::clamp<int64_t>(sample, 0, std::max<int64_t>(0, FSource->LengthSamples()));
    FPosition = static_cast<int32_t>(FSeekBase * 1000 / std::max(1, FSource->SampleRate()));
    if (FStatus != mpsStopped) {
      FNextAsked = static_cast<bool>(OnGetNextFile);
      FDecodeThread->WatchEvent().SetEvent();
    }
  }
  if (chained) FWindow.PostUnique(MPM_EQUALIZER);
  if (FStatus != mpsStopped && OnGetNextFile) FWindow.Post(MPM_NEXTFILE, static_cast<uintptr_t>(FPlayGeneration));
  FWindow.PostUnique(MPM_CHANGEPOSITION);
}

void TMP3Player::Pause() {
  if (!EnabledCommands().Contains(mcmPause)) return;
  {
    Hold output(FOutputLock);
    FSoundOut->Pause();
  }
  SetStatus(mpsPaused);
}

void TMP3Player::Resume() {
  if (!EnabledCommands().Contains(mcmResume)) return;
  {
    Hold output(FOutputLock);
    FSoundOut->Unpause();
  }
  SetStatus(mpsPlaying);
}

// ---------------------------------------------------------------------------------------------
// Queries

TMP3Commands TMP3Player::EnabledCommands() const {
  TMP3Commands c;
  c.Include(mcmOpen);
  if (!Opened()) return c;
  c.Include(mcmClose);
  const bool running = FStatus == mpsPlaying || FStatus == mpsPaused;
  if (FStatus == mpsStopped) c.Include(mcmPlay), c.Include(mcmStopped);
  if (running) c.Include(mcmStop);
  if (FStatus == mpsPlaying) c.Include(mcmPause);
  if (FStatus == mpsPaused) c.Include(mcmResume);
  if (FSource->CanSeek()) c.Include(mcmSeek);
  return c;
}

void TMP3Player::UpdatePosition() {
  Hold output(FOutputLock);
  if (!FSoundOut->Opened()) return;
  FDoneBytes += FSoundOut->GetDoneBytes();
  // The first sample of a chained stream has been played: it becomes the current one. Until it
  // has, the current stream stands at its end (a position past it would belong to no track).
  const int64_t next_start = FNextStartBytes.load();
  const bool next_heard = next_start >= 0 && FDoneBytes >= next_start;
  FPosition = TrackTime(next_heard ? next_start : FDoneBytes);
  if (next_heard) FWindow.PostUnique(MPM_NEXTHEARD);
}

int32_t TMP3Player::TrackTime(int64_t done_bytes) const {
  const int64_t bytes_per_sample = static_cast<int64_t>(FSoundOut->Channels()) * FSoundOut->BitsPerSample() / 8;
  if (bytes_per_sample <= 0 || FSoundOut->SampleRate() <= 0) return 0;
  const int64_t samples = FSeekBase + (done_bytes - FTrackStartBytes) / bytes_per_sample;
  return static_cast<int32_t>(samples * 1000 / FSoundOut->SampleRate());
}

int32_t TMP3Player::Position() {
  // One hold for the update and the reading (the lock is re-entrant).
  Hold output(FOutputLock);
  UpdatePosition();
  return FPosition;
}

std::string TMP3Player::Title() const {
  if (FLive) {
    std::string title = FLive->StreamTitle();
    if (!title.empty()) return title;
  }
  std::string title = FSource->Track().Title;
  if (title.empty()) title = FSource->Info().Title();
  if (title.empty() && !FFileName.empty()) {
    const std::string name = WithoutCredentials(FFileName);
    title = name.substr(name.find_last_of('/') + 1);
  }
  return title;
}

std::string TMP3Player::Artist() const {
  const std::string& artist = FSource->Track().Artist;
  return artist.empty() ? FSource->Info().Artist() : artist;
}

std::string TMP3Player::Album() const {
  std::string album = FSource->Track().Album;
  if (album.empty()) album = FSource->Info().Album();
  if (album.empty() && FLive) album = FLive->StationName();
  return album;
}

std::string TMP3Player::LiveEndMessage() const {
  std::string message = FLive->EndMessage();
  if (FSource->NoAudio()) message = WithoutCredentials(FLive->Address()) + ": no MPEG audio in the stream";
  if (message.empty()) message = WithoutCredentials(FLive->Address()) + ": the station ended the stream";
  return message;
}

int64_t TMP3Player::LengthMicroseconds() const {
  const int64_t samples = LengthSamples();
  const int rate = FSource->SampleRate();
  return samples > 0 && rate > 0 ? samples * 1000000 / rate : 0;
}

// ---------------------------------------------------------------------------------------------
// Properties

void TMP3Player::SetAutoOpen(bool value) {
  FAutoOpen = value;
  if (value && !FLoading) Open();
}

void TMP3Player::SetAutoPlay(bool value) {
  FAutoPlay = value;
  if (value && Opened() && FStatus == mpsStopped) Play();
}

void TMP3Player::SetChangePosStep(int32_t value) {
  if (value < 100) return;
  FChangePosStep = value;
  Hold output(FOutputLock);
  FSoundOut->SetNotifyInterval(value);
}

void TMP3Player::SetDecodePriority(TThreadPriority value) {
  FDecodePriority = value;
  FDecodeThread->SetPriority(value);
}

void TMP3Player::SetFileName(const std::string& value) { SetFileName(value, TTrackSpan{}); }

void TMP3Player::SetFileName(const std::string& value, const TTrackSpan& track) {
  FFileName = value;
  FOpenTrack = track;
  if (FAutoOpen && !FLoading) Open();
}

bool TMP3Player::InvertPolarity() {
  const TCommandHold decode(FStream, FDecodeLock);
  return FDecoder.GetPolarity() != 0;
}

void TMP3Player::SetInvertPolarity(bool value) {
  const TCommandHold decode(FStream, FDecodeLock);
  FDecoder.SetPolarity(value);
  if (FSpareDecoder) FSpareDecoder->SetPolarity(value);
}

void TMP3Player::SetUsingCpuCapabilities(uint8_t value) {
  FUsingCpuCapabilities = value & CapabilitiesFromCpuFlags(DetectCpu());
}

void TMP3Player::SetVolBalance(int32_t value) {
  if (value < -100 || value > 100) return;
  FVolBalance = value;
  Hold output(FOutputLock);
  FSoundOut->SetBalance(value);
}

void TMP3Player::SetVolume(int32_t value) {
  // Taken as unsigned: every negative value is above 100 too.
  if (static_cast<uint32_t>(value) > 100) return;
  if (value == 0 && (FLoading || FRefreshVolumeFlag)) {
    // Adopt the device's own volume.
    Hold output(FOutputLock);
    if (FRefreshVolumeFlag) FSoundOut->RefreshVolume();
    FVolume = FSoundOut->Volume();
    return;
  }
  FVolume = value;
  Hold output(FOutputLock);
  FSoundOut->SetVolume(value);
}

void TMP3Player::SetEqualizerEnabled(bool value) {
  if (value == FEqualizer.enabled) return;
  FEqualizer.enabled = value;
  FWindow.PostUnique(MPM_EQUALIZER);
}

void TMP3Player::SetEqualizerCount(int32_t value) {
  if (value <= 0 || value == FEqualizer.count) return;
  FEqualizer.count = std::min(value, kEqualizerBands);
  FWindow.PostUnique(MPM_EQUALIZER);
}

void TMP3Player::SetEqualizerMode(TMP3EqualizerMode value) {
  if (value == FEqualizer.mode) return;
  FEqualizer.mode = value;
  FWindow.PostUnique(MPM_EQUALIZER);
}

void TMP3Player::SetEqualizerRange(int32_t low, int32_t high) {
  if (plumo::SetEqualizerRange(FEqualizer, low, high)) FWindow.PostUnique(MPM_EQUALIZER);
}

int32_t TMP3Player::EqualizerLevel(int band) const {
  return band >= 0 && band < kEqualizerBands ? FEqualizer.levels[static_cast<size_t>(band)] : 0;
}

void TMP3Player::SetEqualizerLevel(int band, int32_t level) {
  level = std::clamp(level, kEqualizerLevelMin, kEqualizerLevelMax);
  if (band < 0 || band >= kEqualizerBands || FEqualizer.levels[static_cast<size_t>(band)] == level) return;
  FEqualizer.levels[static_cast<size_t>(band)] = level;
  FWindow.PostUnique(MPM_EQUALIZER);
}

int32_t TMP3Player::EqualizerFrequency(int band) const {
  return band >= 0 && band < kEqualizerBands ? FEqualizer.frequencies[static_cast<size_t>(band)] : 0;
}

void TMP3Player::RebuildEqualizer() {
  if (!Opened()) return;
  // Under the decode lock, so a frame never sees half-written tables. Each stream's decoder gets
  // the tables for its stream; the stream decoding comes last, as it is the one that uses them.
  const TCommandHold decode(FStream, FDecodeLock);
  if (FSource->Opened()) TuneDecoder(*FSource);
  for (const auto& chained : FChain) TuneDecoder(*chained->source);
}

void TMP3Player::TuneDecoder(TMP3Source& source) {
  FTuning = TTuning{FEqualizer, FReplayGainMode, FReplayGainPreamp};
  Tune(source);
}

void TMP3Player::Tune(TMP3Source& source) {
  plumo::RebuildEqualizer(FTuning.equalizer, source.SampleRate(), source.Layer(), source.GetDecoder(),
                          static_cast<float>(ReplayGainFactor(source, FTuning.mode, FTuning.preamp)));
}

void TMP3Player::SetReplayGainMode(TReplayGainMode value) {
  if (value > rgmAuto || value == FReplayGainMode) return;
  FReplayGainMode = value;
  if (FScanner && value != rgmOff && Opened() && !FLive && FSource->Opened()) FScanner->Playing(FFileName);
  RebuildEqualizer();
}

void TMP3Player::SetReplayGainPreamp(double db) {
  if (!(db >= kMinPreamp && db <= kMaxPreamp) || db == FReplayGainPreamp) return;
  FReplayGainPreamp = db;
  RebuildEqualizer();
}

void TMP3Player::TakeMeasuredLevels(TMP3Source& source, const std::string& file, TReplayGainMode mode) {
  if (!FScanner || file.empty()) return;
  const TMeasuredLevels levels = FScanner->Levels(file);
  source.SetMeasuredGain(levels.Gain, levels.AlbumInOrder);
  const TReplayGain tags = source.ReplayGain();
  // Files whose tags give gains and their peaks are not measured; a gain without its peak takes
  // the measured true peak.
  const bool wanted = (!tags.TrackGain && !tags.AlbumGain) || (tags.TrackGain && !tags.TrackPeak) ||
                      (tags.AlbumGain && !tags.AlbumPeak);
  if (mode != rgmOff && wanted) FScanner->Playing(file);
}

double TMP3Player::ReplayGainFactor() const {
  return ReplayGainFactor(*FSource, FReplayGainMode, FReplayGainPreamp);
}

double TMP3Player::ReplayGainFactor(const TMP3Source& source, TReplayGainMode mode, double preamp) {
  if (!source.Opened()) return 1.0;
  TReplayGain gain = source.ReplayGain();
  const TReplayGain& measured = source.MeasuredGain();
  if (!gain.TrackGain && !gain.AlbumGain) {
    gain = measured;
  } else {
    // A tag without a peak takes the measured true peak when there is one.
    if (!gain.TrackPeak) gain.TrackPeak = measured.TrackPeak;
    if (!gain.AlbumPeak) gain.AlbumPeak = measured.AlbumPeak;
  }
  if (mode == rgmAuto) mode = source.AlbumInOrder() ? rgmAlbum : rgmTrack;
  return plumo::ReplayGainFactor(gain, mode, preamp);
}

// ---------------------------------------------------------------------------------------------
// Status and events

void TMP3Player::SetStatus(TMP3PlayerStatus status) {
  const bool end_of_play = Opened() && FStatus != mpsStopped && status == mpsStopped;
  FStatus = status;
  FWindow.PostUnique(MPM_CHANGESTATUS);
  if (end_of_play) FWindow.PostUnique(MPM_ENDPLAY);
}

void TMP3Player::DoChangeStatus() {
  if (!FDestroying && OnChangeStatus) OnChangeStatus(this);
}

void TMP3Player::DoChangePosition() {
  if (!FDestroying && OnChangePosition) OnChangePosition(this);
}

void TMP3Player::DoTrackChange() {
  if (!FDestroying && OnTrackChange) OnTrackChange(this);
}

void TMP3Player::DoEndPlay() {
  if (OnEndPlay) OnEndPlay(this, FEndReason);
  FEndReason = merStoped;
}

void TMP3Player::Show(const std::exception_ptr& e) {
  if (ShowException) {
    ShowException(e);
    return;
  }
  PrintException(e);
}

void TMP3Player::WndProc(const platform::Message& message) {
  switch (message.code) {
    case MPM_CHANGEPOSITION:
      // Notices, also while nobody asks for the position, a chained stream being heard.
      if (FNextStartBytes.load() >= 0) {
        try {
          UpdatePosition();
        } catch (...) {
          // A device that cannot tell its position fails its next real use, and reports there.
        }
      }
      if (ProcessApplicationMessages) ProcessApplicationMessages();
      FWindow.RemoveMessages(MPM_CHANGEPOSITION, MPM_CHANGEPOSITION);
      DoChangePosition();
      break;
    case MPM_THREADEXCEPTION:
      HandleThreadException(message);
      break;
    case MPM_ENDOFDATA:
      // Only for the playback that posted it: a Stop since then (by the user or after a worker
      // failure) has already ended it with its own reason, and a Play started another.
      if (message.wparam != FPlayGeneration || FStatus == mpsStopped) break;
      // Everything has been played: the chained streams were all heard before the end.
      TakeHeardTracks();
      FEndReason = merSuccessful;
      if (FLive) FEndMessage = LiveEndMessage();
      if (Opened() && FSource->Reader().Seekable())
        Stop();
      else
        Close();
      break;
    case MPM_CHANGESTATUS:
      FWindow.RemoveMessages(MPM_CHANGESTATUS, MPM_CHANGESTATUS);
      DoChangeStatus();
      break;
    case MPM_ENDPLAY:
      FWindow.RemoveMessages(MPM_ENDPLAY, MPM_ENDPLAY);
      DoEndPlay();
      break;
    case MPM_EQUALIZER:
      FWindow.RemoveMessages(MPM_EQUALIZER, MPM_EQUALIZER);
      RebuildEqualizer();
      break;
    case MPM_NEXTFILE:
      OpenNextFile(message.wparam);
      break;
    case MPM_NEXTHEARD:
      FWindow.RemoveMessages(MPM_NEXTHEARD, MPM_NEXTHEARD);
      TakeHeardTracks();
      break;
    case MPM_TITLECHANGE:
      FWindow.RemoveMessages(MPM_TITLECHANGE, MPM_TITLECHANGE);
      if (!FDestroying && FLive && OnTitleChange) OnTitleChange(this);
      break;
    case MPM_LENGTHCHANGE:
      FWindow.RemoveMessages(MPM_LENGTHCHANGE, MPM_LENGTHCHANGE);
      if (!FDestroying && Opened() && OnLengthChange) OnLengthChange(this);
      break;
    default:
      break;
  }
}

void TMP3Player::OnThreadException(std::exception_ptr e, bool& handled, bool wait) {
  TMPSimpleEvent shown;
  {
    std::lock_guard lock(FThreadExceptionsLock);
    if (!FWindow.Post(MPM_THREADEXCEPTION, wait ? reinterpret_cast<uintptr_t>(&shown) : 0)) return;
    FThreadExceptions.push_back(std::move(e));
  }
  handled = true;
  if (!wait) return;
  // The decode thread waits until the main thread has shown the exception. A player being
  // destroyed drops its queue without showing: stop waiting then, so the thread can end.
  while (shown.WaitFor(100) != wrSignaled)
    if (FWindow.Destroyed()) return;
}

void TMP3Player::HandleThreadException(const platform::Message& message) {
  std::exception_ptr e;
  {
    std::lock_guard lock(FThreadExceptionsLock);
    if (!FThreadExceptions.empty()) {
      e = std::move(FThreadExceptions.front());
      FThreadExceptions.pop_front();
    }
  }
  // The waiting worker goes on only after playback was stopped, so a failure that repeats on
  // every step is shown once.
  struct SignalWhenDone {
    TMPEvent* event;
    ~SignalWhenDone() {
      if (event) event->SetEvent();
    }
  } signal{reinterpret_cast<TMPEvent*>(message.wparam)};
  try {
    // The failure belongs to the stream heard by now.
    TakeHeardTracks();
  } catch (...) {
  }
  try {
    if (e) Show(e);
  } catch (...) {
  }
  FEndReason = merFailure;
  if (FLive) {
    FEndMessage = FLive->EndMessage();
    if (FEndMessage.empty() && e) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& x) {
        FEndMessage = x.what();
      } catch (...) {
      }
    }
  }
  Stop();
}

// Output thread. The main thread is woken for the position only where it is taken: by an
// OnChangePosition handler or the application's pump, or to notice a chained stream being heard.
// An owner that reads Position() on its own clock (the panel's tick) is left asleep.
void TMP3Player::OnOutputPosition() {
  if (FPositionNotices.load() || FNextStartBytes.load() >= 0) FWindow.Post(MPM_CHANGEPOSITION);
}

// ---------------------------------------------------------------------------------------------
// Decode thread

void TMP3Player::Dispatch(TMessage& message) {
  if (message.code == MPM_WATCHEVENT) MPMWatchEvent();
}

void TMP3Player::WaitForNetworkRead() {
  while (FReadingNetwork.load()) {
    FDecodeLock.Leave();
    std::this_thread::yield();
    FDecodeLock.Enter();
  }
}

void TMP3Player::MPMWatchEvent() {
  try {
    DecodeStep();
  } catch (const TReadCancelled&) {
    // Stop is under way and resets the watch event.
  } catch (const TReadInterrupted&) {
    // A command waits for the decode lock; the watch event stays set for the next step.
  }
}

void TMP3Player::DecodeStep() {
  TMPEvent& watch = FDecodeThread->WatchEvent();
  int free_percent = 0;
  bool live = false;
  {
    Hold decode(FDecodeLock);
    if (!Signalled(watch)) return;
    // Plays out what the device holds. The wait is made without the decode lock, so that Stop
    // (which resets the device and so ends the wait) is never blocked behind a paused or slow
    // device; true when, the lock taken again, this playback is still the current one.
    const auto play_out = [&] {
      {
        Hold output(FOutputLock);
        FSoundOut->SetWakeEvent(nullptr);
        FSoundOut->Flush();
      }
      const uint64_t generation = FPlayGeneration;
      decode.Release();
      FSoundOut->WaitAllDone();
      decode.Acquire(FDecodeLock);
      return generation == FPlayGeneration && Signalled(watch);
    };
    live = FLive != nullptr;
    if (FPendingBytes == 0) {
      if (FDecoding->AtEndOfData()) {
        if (FNextAsked) {
          // The owner's answer is on its way: what is written so far goes out meanwhile, so a
          // slow answer delays only the next stream, and the answer wakes this thread again.
          Hold output(FOutputLock);
          FSoundOut->Flush();
          watch.ResetEvent();
          return;
        }
        if (!FChain.empty() && FChain.back()->start_bytes < 0) {
          // Gapless: the next stream's PCM follows in the same device, and the owner is asked
          // for the one after it.
          TChained& next = *FChain.back();
          // A following track of the same stream: its decoding simply goes on.
          if (next.source) FDecoding = next.source.get();
          else FDecoding->ContinueWith(next.track);
          next.start_bytes = FWrittenBytes;
          if (FNextStartBytes.load() < 0) FNextStartBytes.store(FWrittenBytes);
          if (FSoundOut->NotifyInterval() > kJoinNotifyInterval) FSoundOut->SetNotifyInterval(kJoinNotifyInterval);
          if (next.source) {
            // Measured while the stream before it played.
            TakeMeasuredLevels(*next.source, next.file_name, FTuning.mode);
            Tune(*next.source);
          }
          FNextAsked = true;
          FWindow.Post(MPM_NEXTFILE, static_cast<uintptr_t>(FPlayGeneration));
          return;
        }
        // A live stream that ended before any sound was played has failed (unless it was
        // cancelled: the playback is being stopped).
        if (live && FWrittenBytes == 0 && !FNetworkCancelled.load()) throw EStreamError(LiveEndMessage());
        if (!play_out()) return;
        watch.ResetEvent();
        FWindow.Post(MPM_ENDOFDATA, static_cast<uintptr_t>(FPlayGeneration));
        return;
      }
      const bool produced = FDecoding->ProduceFrame(FPcmBuffer.get());
      if (FDecoding->TakeLengthChange()) FWindow.PostUnique(MPM_LENGTHCHANGE);
      if (!produced) return;
      FPendingBytes = FDecoding->ProducedBytes();
      FPendingOffset = FDecoding->ProducedOffset();
      if (FDecoding->TakeFormatChange()) {
        // A station changed its format: what was queued plays out, then the device opens again
        // in the new one, and the frame goes there.
        if (!play_out()) return;
        const OutputFormat format = FDecoding->Format();
        {
          Hold output(FOutputLock);
          UpdatePosition();
          FSoundOut->Close();
          FSoundOut->SetSampleRate(format.sample_rate);
          FSoundOut->SetBitsPerSample(format.bits_per_sample);
          FSoundOut->SetChannels(format.channels);
          // The time goes on from where the old format left it.
          FSeekBase = static_cast<int64_t>(FPosition) * format.sample_rate / 1000;
          FTrackStartBytes = FDoneBytes;
          FSoundOut->Open();
        }
        FWindow.PostUnique(MPM_EQUALIZER);
        return;
      }
      // A frame wholly inside the encoder's delay or padding, or before a seek target.
      if (FPendingBytes == 0) return;
    }
    Assert(FPendingBytes > 0, "pending PCM bytes before writing");
    Hold output(FOutputLock);
    if (FSoundOut->CanWrite()) {
      const int32_t accepted = FSoundOut->Write(FPcmBuffer.get() + FPendingOffset, FPendingBytes);
      FPendingOffset += accepted;
      FPendingBytes -= accepted;
      FWrittenBytes += accepted;
    } else {
      // Sleep until the output thread hands a buffer back.
      watch.ResetEvent();
      FSoundOut->SetWakeEvent(&watch);
    }
    free_percent = FSoundOut->FreePercent();
  }
  // While the output is full, read the input ahead, then index the frames ahead of the decoding
  // (a bounded piece at a time, so that a Stop or a Seek waits little for the lock). A live
  // stream has its own read-ahead buffer, and a read here would wait for the network with the
  // decode lock held.
  while (free_percent == 0 && !live) {
    {
      Hold decode(FDecodeLock);
      if (!Signalled(watch)) break;
      if (!FDecoding->Reader().ReadAhead()) {
        if (!FDecoding->IndexAhead(kIndexStepBytes)) break;
        if (FDecoding->TakeLengthChange()) FWindow.PostUnique(MPM_LENGTHCHANGE);
      }
    }
    Hold output(FOutputLock);
    free_percent = FSoundOut->FreePercent();
  }
  if (free_percent <= 25) std::this_thread::yield();
}

// ---------------------------------------------------------------------------------------------
// Gapless chaining

void TMP3Player::DropChain() {
  FChain.clear();
  FDecoding = FSource.get();
  FNextAsked = false;
  FNextStartBytes.store(-1);
  FSoundOut->SetNotifyInterval(FChangePosStep);
}

Decoder& TMP3Player::SpareDecoder(const Decoder& busy) {
  if (&busy != &FDecoder) return FDecoder;
  if (!FSpareDecoder) {
    FSpareDecoder = std::make_unique<Decoder>();
    FSpareDecoder->SelectKernels(FKernelFlags);
    FSpareDecoder->SetPolarity(FDecoder.GetPolarity() != 0);
  }
  return *FSpareDecoder;
}

void TMP3Player::OpenNextFile(uintptr_t generation) {
  // Only for the playback that asked: a Stop since then dropped the question with the chain.
  if (generation != FPlayGeneration || FStatus == mpsStopped) return;
  const TNextFile asked = OnGetNextFile ? OnGetNextFile(this) : TNextFile();
  const std::string& name = asked.Name;
  std::unique_ptr<TChained> next;
  // Only a regular file is chained: an address or a FIFO could keep the main thread waiting, and
  // neither can seek.
  std::error_code error;
  bool continued = false;
  if (!name.empty()) {
    // The track that follows in the stream being decoded goes on in it.
    const TCommandHold decode(FStream, FDecodeLock);
    const std::string& decoding = FChain.empty() ? FFileName : FChain.back()->file_name;
    continued = name == decoding && FDecoding->CanContinueWith(asked.Track);
  }
  if (continued) {
    next = std::make_unique<TChained>();
    next->file_name = name;
    next->track = asked.Track;
  } else if (!name.empty() && !IsStreamAddress(name) && std::filesystem::is_regular_file(name, error)) {
    try {
      Decoder* decoder = nullptr;
      {
        // The stream decoding keeps its decoder; the next one is set up on the other. Nothing
        // else decodes on that one until the chain hands the next stream over.
        const TCommandHold decode(FStream, FDecodeLock);
        decoder = &SpareDecoder(FDecoding->GetDecoder());
      }
      next = std::make_unique<TChained>();
      next->file_name = name;
      next->track = asked.Track;
      next->source = std::make_unique<TMP3Source>(*decoder);
      next->source->Info().SetNeedInfoType(FSource->Info().NeedInfoType());
      next->stream = std::make_unique<TFileStream>(name);
      // Opened without any lock: a slow file keeps neither the decoding nor a Stop waiting.
      next->source->Open(next->stream.get(), true);
      if (!(asked.Track == TTrackSpan{})) next->source->SetTrack(asked.Track);
      const OutputFormat format = next->source->Format();
      const bool same_format = format.sample_rate == FSoundOut->SampleRate() &&
                               format.channels == FSoundOut->Channels() &&
                               format.bits_per_sample == FSoundOut->BitsPerSample();
      // Another format needs the device opened anew: the owner starts that file itself.
      if (!same_format) next.reset();
    } catch (...) {
      // Reported when the owner starts the file itself after the current one has ended.
      next.reset();
    }
  }
  const TCommandHold decode(FStream, FDecodeLock);
  // The owner's handler may have stopped or restarted the playback.
  if (generation != FPlayGeneration || FStatus == mpsStopped) return;
  if (next) {
    if (next->source) TuneDecoder(*next->source);
    FChain.push_back(std::move(next));
  }
  FNextAsked = false;
  // The decode thread may be waiting for this answer at the end of its stream.
  FDecodeThread->WatchEvent().SetEvent();
}

void TMP3Player::TakeHeardTracks() {
  for (;;) {
    // Nothing chained is heard: return without waiting for the decode lock (which a decode step
    // reading a network stream may hold for long).
    if (FNextStartBytes.load() < 0) return;
    {
      Hold decode(FDecodeLock);
      const int64_t start = FNextStartBytes.load();
      if (start < 0 || FChain.empty() || FStatus == mpsStopped) return;
      Hold output(FOutputLock);
      try {
        UpdatePosition();
      } catch (...) {
        return;
      }
      if (FDoneBytes < start) return;
      FEndPosition = TrackTime(start);
      std::unique_ptr<TChained> heard = std::move(FChain.front());
      FChain.pop_front();
      if (heard->source) {
        // The previous stream has been decoded to its end and is no longer read.
        FSource = std::move(heard->source);
        FOwnedStream = std::move(heard->stream);
        FStream = FOwnedStream.get();
        FFlags = kSeekable | kOwned;
        FFileName = heard->file_name;
      } else {
        // The next track of the same stream: positions, length and texts are its own now.
        FSource->TakeTrack(heard->track);
        TuneDecoder(*FSource);
      }
      FTrackStartBytes = start;
      FSeekBase = 0;
      FNextStartBytes.store(!FChain.empty() && FChain.front()->start_bytes >= 0 ? FChain.front()->start_bytes : -1);
      if (FNextStartBytes.load() < 0) FSoundOut->SetNotifyInterval(FChangePosStep);
      UpdatePosition();
    }
    FWindow.PostUnique(MPM_CHANGEPOSITION);
    DoTrackChange();
  }
}

}  // namespace plumo
