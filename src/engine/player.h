// TMP3Player: plays one MPEG audio stream at a time through a wave device. It owns the stream
// source (reader, tags, decoder set-up), a decode thread, the sound output with its output
// thread, two locks and a main-thread message queue that stands in for a hidden window: worker
// threads only post to that queue, and every event fires on the thread that pumps it.
//
// Every public operation belongs to the main thread (the one that pumps Window()).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "equalizer.h"
#include "loop_thread.h"
#include "main_queue.h"
#include "mp3_source.h"
#include "sound_out.h"
#include "stream.h"
#include "sync.h"
#include "wave_device.h"

namespace plumo {

enum TMP3EndPlayReason : uint8_t { merSuccessful, merStoped, merFailure };
enum TMP3PlayerStatus : uint8_t { mpsStopped, mpsPlaying, mpsPaused };

// Commands the player can carry out now; bit n is member n.
enum TMP3Command : uint8_t { mcmOpen, mcmClose, mcmPlay, mcmStop, mcmPause, mcmResume, mcmSeek, mcmStopped };
class TMP3Commands {
 public:
  constexpr TMP3Commands() = default;
  static constexpr TMP3Commands FromBits(uint8_t bits) {
    TMP3Commands c;
    c.FBits = bits;
    return c;
  }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr bool Contains(TMP3Command m) const { return (FBits >> m) & 1; }
  constexpr void Include(TMP3Command m) { FBits = static_cast<uint8_t>(FBits | (1u << m)); }

 private:
  uint8_t FBits = 0;
};

// Processor features the user lets the decoder's kernels use; bit n is member n.
enum TMP3CpuCapability : uint8_t { mccMMX, mcc3DNow, mccKNI, mccE3DNow, mccCMOV, mccEMMX };
inline constexpr uint8_t kAllCpuCapabilities = 0x3F;

// Messages of the player's window.
inline constexpr uint32_t WM_USER = 1024;
inline constexpr uint32_t MPM_CHANGEPOSITION = WM_USER + 10;
inline constexpr uint32_t MPM_THREADEXCEPTION = WM_USER + 11;
inline constexpr uint32_t MPM_ENDOFDATA = WM_USER + 12;
inline constexpr uint32_t MPM_CHANGESTATUS = WM_USER + 14;
inline constexpr uint32_t MPM_ENDPLAY = WM_USER + 15;
inline constexpr uint32_t MPM_EQUALIZER = WM_USER + 16;

class TMP3Player final : private TMPMessageOwner {
 public:
  using TNotifyEvent = std::function<void(TMP3Player* sender)>;
  using TMP3EndPlayEvent = std::function<void(TMP3Player* sender, TMP3EndPlayReason reason)>;
  // The application's exception display (a message box in the panel, standard error in tools).
  using TShowException = std::function<void(const std::exception_ptr& e)>;

  // Open flags.
  static constexpr uint8_t kSeekable = 1;
  static constexpr uint8_t kOwned = 2;

  // driver: the wave devices to play through; decoder: the process's decoder unless a test
  // gives its own.
  explicit TMP3Player(std::shared_ptr<platform::WaveDriver> driver, Decoder& decoder = ProcessDecoder());
  ~TMP3Player();
  TMP3Player(const TMP3Player&) = delete;
  TMP3Player& operator=(const TMP3Player&) = delete;

  // Loading: while between BeginLoad and Loaded, writing FileName or AutoOpen does not open;
  // Loaded sets the equalizer bands and opens the file once.
  void BeginLoad() { FLoading = true; }
  void Loaded();

  // Commands.
  void Open();
  // Takes over the stream when flags has kOwned (it is freed on Close or failure, even when
  // opening fails); otherwise the stream must outlive the next Close.
  void OpenStream(TStream* stream, uint8_t flags);
  void OpenStream(std::unique_ptr<TStream> stream, uint8_t flags);
  void Close();
  void Play();
  // Ends the playback and rewinds. A device that fails to reset or close ends it all the same,
  // with merFailure, and its error is raised afterwards.
  void Stop();
  void Pause();
  void Resume();
  // The desktop session ends: close the stream (the window's end-of-session message).
  void EndSession() { Close(); }

  // Queries.
  bool Opened() const { return FStream != nullptr; }
  TMP3PlayerStatus Status() const { return FStatus; }
  TMP3Commands EnabledCommands() const;
  int32_t Position();
  // Position when playback last ended (Stop, the end of the data, a failure), which Stop then
  // zeroes; 0 before the first end.
  int32_t EndPosition() const { return FEndPosition; }
  std::string Title() const;
  std::string Artist() const;
  std::string Album() const;

  // Properties.
  bool AutoOpen() const { return FAutoOpen; }
  void SetAutoOpen(bool value);
  bool AutoPlay() const { return FAutoPlay; }
  void SetAutoPlay(bool value);
  int32_t ChangePosStep() const { return FChangePosStep; }
  void SetChangePosStep(int32_t value);
  TThreadPriority DecodePriority() const { return FDecodePriority; }
  void SetDecodePriority(TThreadPriority value);
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& value);
  TMP3InfoTypes NeedInfoType() const { return FSource.Info().NeedInfoType(); }
  void SetNeedInfoType(TMP3InfoTypes value) { FSource.Info().SetNeedInfoType(value); }
  bool NoisySeek() const { return FNoisySeek; }
  void SetNoisySeek(bool value) { FNoisySeek = value; }
  bool InvertPolarity();
  void SetInvertPolarity(bool value);
  uint8_t UsingCpuCapabilities() const { return FUsingCpuCapabilities; }
  void SetUsingCpuCapabilities(uint8_t value);
  int32_t VolBalance() const { return FVolBalance; }
  void SetVolBalance(int32_t value);
  int32_t Volume() const { return FVolume; }
  void SetVolume(int32_t value);
  bool RefreshVolumeFlag() const { return FRefreshVolumeFlag; }
  void SetRefreshVolumeFlag(bool value) { FRefreshVolumeFlag = value; }

  // Equalizer.
  bool EqualizerEnabled() const { return FEqualizer.enabled; }
  void SetEqualizerEnabled(bool value);
  int32_t EqualizerCount() const { return FEqualizer.count; }
  void SetEqualizerCount(int32_t value);
  TMP3EqualizerMode EqualizerMode() const { return FEqualizer.mode; }
  void SetEqualizerMode(TMP3EqualizerMode value);
  void SetEqualizerRange(int32_t low, int32_t high);
  int32_t EqualizerLevel(int band) const;
  void SetEqualizerLevel(int band, int32_t level);
  int32_t EqualizerFrequency(int band) const;

  // ReplayGain: Off (the default) plays the samples as decoded; Track and Album scale them by the
  // stream's gain (see ReplayGainFactor), from the next frame on.
  TReplayGainMode ReplayGainMode() const { return FReplayGainMode; }
  void SetReplayGainMode(TReplayGainMode value);
  // The amplitude factor the open stream is played with (1 when closed or Off).
  double ReplayGainFactor() const;

  // Events.
  TNotifyEvent OnChangePosition;
  TNotifyEvent OnChangeStatus;
  TMP3EndPlayEvent OnEndPlay;
  TShowException ShowException;
  // Lets the application process its pending messages before a position event (the panel's
  // event loop); nothing by default.
  std::function<void()> ProcessApplicationMessages;

  // The queue standing in for the hidden window; pump it on the main thread.
  platform::MainMessageQueue& Window() { return FWindow; }
  // The stream source (reader, tags, stream description), for inspection.
  const TMP3Source& Source() const { return FSource; }
  TMPLoopThread& DecodeThread() { return *FDecodeThread; }

 private:
  // Decode thread messages.
  void Dispatch(TMessage& message) override;
  void MPMWatchEvent();
  // Window messages.
  void WndProc(const platform::Message& message);
  void HandleThreadException(const platform::Message& message);
  void OnThreadException(std::exception_ptr e, bool& handled, bool wait);
  void OnOutputPosition();

  void SetStatus(TMP3PlayerStatus status);
  void UpdatePosition();
  void RebuildEqualizer();
  void DoChangeStatus();
  void DoChangePosition();
  void DoEndPlay();
  void Show(const std::exception_ptr& e);

  Decoder& FDecoder;
  // Declared first, destroyed last: the threads below post to it until they end.
  platform::MainMessageQueue FWindow;
  TMP3Source FSource;
  std::unique_ptr<TStream> FOwnedStream;
  TStream* FStream = nullptr;
  uint8_t FFlags = 0;

  bool FAutoOpen = true;
  bool FAutoPlay = true;
  int32_t FChangePosStep = 400;
  TThreadPriority FDecodePriority = tpNormal;
  std::string FFileName;
  bool FNoisySeek = true;
  // The constructor sets all six, of which the setter keeps what the processor has.
  uint8_t FUsingCpuCapabilities = 0;
  int32_t FVolBalance = 0;
  int32_t FVolume = 100;
  bool FRefreshVolumeFlag = false;
  bool FLoading = false;
  bool FDestroying = false;

  TMP3PlayerStatus FStatus = mpsStopped;
  TMP3EndPlayReason FEndReason = merSuccessful;
  // Decode state (decode lock).
  int32_t FPendingBytes = 0;
  int32_t FPendingOffset = 0;
  // Counts Stops and Plays, so a decode step that waited for the last sound knows whether its
  // playback went on, and an end-of-data message reaches only the playback that posted it.
  uint64_t FPlayGeneration = 0;
  std::unique_ptr<uint8_t[]> FPcmBuffer;
  // Output state (output lock).
  int64_t FDoneBytes = 0;
  int32_t FPosition = 0;
  int32_t FEndPosition = 0;  // main thread

  TEqualizerSettings FEqualizer;
  TReplayGainMode FReplayGainMode = rgmOff;

  // Exceptions of the worker threads on their way to the main thread, in posting order.
  std::mutex FThreadExceptionsLock;
  std::deque<std::exception_ptr> FThreadExceptions;

  TMPSimpleMutex FDecodeLock;
  TMPSimpleMutex FOutputLock;
  std::unique_ptr<TSoundOut> FSoundOut;
  std::unique_ptr<TMPLoopThread> FDecodeThread;
};

}  // namespace plumo
