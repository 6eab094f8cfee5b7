#include "player.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "assertion.h"
#include "cpu.h"
#include "file_stream.h"

namespace plumo {
namespace {

// The PCM buffer holds one frame of any stream (1152 samples, two channels, 16 bits) and more.
constexpr size_t kPcmBufferSize = 5120;

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

 private:
  TMPAbstractMutex* FMutex;
};

bool Signalled(TMPEvent& event) { return event.Signaled(); }

}  // namespace

TMP3Player::TMP3Player(std::shared_ptr<platform::WaveDriver> driver, Decoder& decoder)
    : FDecoder(decoder), FWindow([this](const platform::Message& m) { WndProc(m); }), FSource(decoder) {
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
  auto stream = std::make_unique<TFileStream>(name);
  OpenStream(std::move(stream), kSeekable | kOwned);
  // Closing the previous stream emptied FileName.
  FFileName = name;
}

void TMP3Player::OpenStream(TStream* stream, uint8_t flags) {
  // An owned stream is freed on every failure path, also when closing the previous one fails.
  std::unique_ptr<TStream> owned;
  if (flags & kOwned) owned.reset(stream);
  Close();
  if (stream) {
    try {
      {
        // The decode thread is idle now; the lock keeps it so while the source changes.
        Hold decode(FDecodeLock);
        FSource.Open(stream, (flags & kSeekable) != 0);
        // The first frame is already played at the stream's level.
        plumo::RebuildEqualizer(FEqualizer, FSource.SampleRate(), FSource.Layer(), FDecoder,
                                static_cast<float>(ReplayGainFactor()));
        FPcmBuffer = std::make_unique<uint8_t[]>(kPcmBufferSize);
        FPendingBytes = 0;
        FPendingOffset = 0;
      }
      FStream = stream;
      FFlags = flags;
      FOwnedStream = std::move(owned);
      const OutputFormat format = FSource.Format();
      Hold output(FOutputLock);
      FDoneBytes = 0;
      FPosition = 0;
      FSoundOut->SetSampleRate(format.sample_rate);
      FSoundOut->SetBitsPerSample(format.bits_per_sample);
      FSoundOut->SetChannels(format.channels);
    } catch (...) {
      // Closed as by Close: no stream, no file name, stopped.
      FStream = nullptr;
      FOwnedStream.reset();
      {
        Hold decode(FDecodeLock);
        FPcmBuffer.reset();
        FSource.Close();
      }
      FFileName.clear();
      FFlags = 0;
      SetStatus(mpsStopped);
      throw;
    }
    FWindow.PostUnique(MPM_EQUALIZER);
    SetStatus(mpsStopped);
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
    Hold decode(FDecodeLock);
    FSource.Close();
    FPcmBuffer.reset();
  }
  FFileName.clear();
  FStream = nullptr;
  FOwnedStream.reset();
  FFlags = 0;
  {
    Hold output(FOutputLock);
    FDoneBytes = 0;
    FPosition = 0;
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
      FDecoder.SelectKernels(flags);
      // A new playback: an end-of-data message still queued from an earlier one is not its own.
      ++FPlayGeneration;
    }
    {
      Hold output(FOutputLock);
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
}

void TMP3Player::Stop() {
  if (!Opened() || FStatus == mpsStopped) return;
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
    Hold decode(FDecodeLock);
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
  {
    Hold decode(FDecodeLock);
    FSource.Rewind();
    FPendingBytes = 0;
    FPendingOffset = 0;
  }
  {
    Hold output(FOutputLock);
    FDoneBytes = 0;
    FPosition = 0;
  }
  if (failure) FEndReason = merFailure;
  SetStatus(mpsStopped);
  FWindow.PostUnique(MPM_CHANGEPOSITION);
  // A stream that cannot seek cannot be played again.
  if (Opened() && !FSource.Reader().Seekable()) Close();
  if (failure) std::rethrow_exception(failure);
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
  if (running && FSource.Reader().Seekable()) c.Include(mcmSeek);
  return c;
}

void TMP3Player::UpdatePosition() {
  Hold output(FOutputLock);
  if (!FSoundOut->Opened()) return;
  FDoneBytes += FSoundOut->GetDoneBytes();
  const int64_t bits_per_second = static_cast<int64_t>(FSoundOut->SampleRate()) * FSoundOut->Channels() *
                                  FSoundOut->BitsPerSample();
  if (bits_per_second > 0) FPosition = static_cast<int32_t>(FDoneBytes * 8000 / bits_per_second);
}

int32_t TMP3Player::Position() {
  // One hold for the update and the reading (the lock is re-entrant).
  Hold output(FOutputLock);
  UpdatePosition();
  return FPosition;
}

std::string TMP3Player::Title() const {
  std::string title = FSource.Info().Title();
  if (title.empty() && !FFileName.empty()) title = FFileName.substr(FFileName.find_last_of('/') + 1);
  return title;
}

std::string TMP3Player::Artist() const { return FSource.Info().Artist(); }
std::string TMP3Player::Album() const { return FSource.Info().Album(); }

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

void TMP3Player::SetFileName(const std::string& value) {
  FFileName = value;
  if (FAutoOpen && !FLoading) Open();
}

bool TMP3Player::InvertPolarity() {
  Hold decode(FDecodeLock);
  return FDecoder.GetPolarity() != 0;
}

void TMP3Player::SetInvertPolarity(bool value) {
  Hold decode(FDecodeLock);
  FDecoder.SetPolarity(value);
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
  // Under the decode lock, so a frame never sees half-written tables.
  Hold decode(FDecodeLock);
  plumo::RebuildEqualizer(FEqualizer, FSource.SampleRate(), FSource.Layer(), FDecoder,
                          static_cast<float>(ReplayGainFactor()));
}

void TMP3Player::SetReplayGainMode(TReplayGainMode value) {
  if (value > rgmAlbum || value == FReplayGainMode) return;
  FReplayGainMode = value;
  RebuildEqualizer();
}

double TMP3Player::ReplayGainFactor() const {
  return FSource.Opened() ? plumo::ReplayGainFactor(FSource.ReplayGain(), FReplayGainMode) : 1.0;
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
      FEndReason = merSuccessful;
      if (Opened() && FSource.Reader().Seekable())
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
    if (e) Show(e);
  } catch (...) {
  }
  FEndReason = merFailure;
  Stop();
}

void TMP3Player::OnOutputPosition() { FWindow.Post(MPM_CHANGEPOSITION); }

// ---------------------------------------------------------------------------------------------
// Decode thread

void TMP3Player::Dispatch(TMessage& message) {
  if (message.code == MPM_WATCHEVENT) MPMWatchEvent();
}

void TMP3Player::MPMWatchEvent() {
  TMPEvent& watch = FDecodeThread->WatchEvent();
  int free_percent = 0;
  {
    Hold decode(FDecodeLock);
    if (!Signalled(watch)) return;
    if (FPendingBytes == 0) {
      if (FSource.AtEndOfData()) {
        {
          Hold output(FOutputLock);
          FSoundOut->SetWakeEvent(nullptr);
          FSoundOut->Flush();
        }
        const uint64_t generation = FPlayGeneration;
        // Wait for the last sound without holding the decode lock, so that Stop (which resets
        // the device and so ends the wait) is never blocked behind a paused or slow device.
        decode.Release();
        FSoundOut->WaitAllDone();
        Hold again(FDecodeLock);
        if (generation != FPlayGeneration || !Signalled(watch)) return;
        watch.ResetEvent();
        FWindow.Post(MPM_ENDOFDATA, static_cast<uintptr_t>(generation));
        return;
      }
      if (!FSource.ProduceFrame(FPcmBuffer.get())) return;
      FPendingBytes = FSource.BytesPerFrame();
      FPendingOffset = 0;
    }
    Assert(FPendingBytes > 0, "pending PCM bytes before writing");
    Hold output(FOutputLock);
    if (FSoundOut->CanWrite()) {
      const int32_t accepted = FSoundOut->Write(FPcmBuffer.get() + FPendingOffset, FPendingBytes);
      FPendingOffset += accepted;
      FPendingBytes -= accepted;
    } else {
      // Sleep until the output thread hands a buffer back.
      watch.ResetEvent();
      FSoundOut->SetWakeEvent(&watch);
    }
    free_percent = FSoundOut->FreePercent();
  }
  // While the output is full, read the input ahead.
  while (free_percent == 0) {
    {
      Hold decode(FDecodeLock);
      if (!Signalled(watch) || !FSource.Reader().ReadAhead()) break;
    }
    Hold output(FOutputLock);
    free_percent = FSoundOut->FreePercent();
  }
  if (free_percent <= 25) std::this_thread::yield();
}

}  // namespace plumo
