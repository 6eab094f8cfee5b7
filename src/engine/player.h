// TMP3Player: plays one MPEG audio stream at a time through a wave device. It owns the stream
// source (reader, tags, decoder set-up), a decode thread, the sound output with its output
// thread, two locks and a main-thread message queue that stands in for a hidden window: worker
// threads only post to that queue, and every event fires on the thread that pumps it.
//
// Gapless: when the owner names the file to follow (OnGetNextFile), that file is opened while
// the current one plays, on a second decoder, and when it has the same output format its PCM
// follows the current stream's last sample in the same open device. It becomes the current
// stream (FileName, Title, Source, Position) when its first sample is heard (OnTrackChange).
//
// Live streams (internet radio, TLiveStream) and pipes cannot seek and have no length; a Stop
// closes them. A live stream's title follows what the station names (OnTitleChange); Stop,
// Close, another open or the destructor cancel a network stream first, so none of them waits for
// the network while the decode thread waits in its Read.
//
// Every public operation belongs to the main thread (the one that pumps Window()).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "equalizer.h"
#include "live_stream.h"
#include "loudness_scanner.h"
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
inline constexpr uint32_t MPM_NEXTFILE = WM_USER + 17;
inline constexpr uint32_t MPM_NEXTHEARD = WM_USER + 18;
inline constexpr uint32_t MPM_TITLECHANGE = WM_USER + 19;
inline constexpr uint32_t MPM_LENGTHCHANGE = WM_USER + 20;

// The file to play next, and the track of it (the whole file unless a span is given).
struct TNextFile {
  std::string Name;
  TTrackSpan Track;
  TNextFile() = default;
  TNextFile(std::string name, TTrackSpan track = {}) : Name(std::move(name)), Track(std::move(track)) {}
  TNextFile(const char* name) : Name(name) {}
};

class TMP3Player final : private TMPMessageOwner {
 public:
  // A live stream without a frame for this long has ended (as long as the network's stall).
  static constexpr int32_t kLiveGiveUpMs = 15000;
  using TNotifyEvent = std::function<void(TMP3Player* sender)>;
  using TMP3EndPlayEvent = std::function<void(TMP3Player* sender, TMP3EndPlayReason reason)>;
  using TGetNextFileEvent = std::function<TNextFile(TMP3Player* sender)>;
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
  // Opens FileName: a stream address as a network stream (this waits for the connection and
  // the first bytes), a pipe or a FIFO as a stream that cannot seek, any other file as seekable.
  void Open();
  // Takes over the stream when flags has kOwned (it is freed on Close or failure, even when
  // opening fails); otherwise the stream must outlive the next Close.
  void OpenStream(TStream* stream, uint8_t flags);
  void OpenStream(std::unique_ptr<TStream> stream, uint8_t flags);
  // As above (kOwned implied), and on success FileName() is name: for a stream made elsewhere,
  // such as a network stream already connected.
  void OpenStream(const std::string& name, std::unique_ptr<TStream> stream, uint8_t flags);
  void Close();
  void Play();
  // Ends the playback and rewinds. A device that fails to reset or close ends it all the same,
  // with merFailure, and its error is raised afterwards.
  void Stop();
  void Pause();
  void Resume();
  // Moves playback to sample `sample` (per channel; 0 is the first sample played, after the
  // encoder's delay) of a stream that CanSeek; later samples are clamped to the end. The sound
  // queued so far is dropped; a paused player stays paused, a stopped one starts there on Play.
  // Position follows at once. Nothing happens for a stream that cannot seek.
  void Seek(int64_t sample);
  // The desktop session ends: close the stream (the window's end-of-session message).
  void EndSession() { Close(); }

  // Queries.
  bool Opened() const { return FStream != nullptr; }
  TMP3PlayerStatus Status() const { return FStatus; }
  TMP3Commands EnabledCommands() const;
  int32_t Position();
  // Whether the open stream can seek (a file, not a pipe).
  bool CanSeek() const { return Opened() && FSource->CanSeek(); }
  // The open stream's length in samples per channel (at Source().SampleRate()); -1 when it is
  // not known (a pipe) or nothing is open. Exact from a VBR header's frame count, else an
  // estimate (LengthEstimated) until its frames are all indexed, which happens behind the
  // playback; OnLengthChange tells when the exact length replaces the estimate.
  int64_t LengthSamples() const { return Opened() ? FSource->LengthSamples() : -1; }
  bool LengthEstimated() const { return Opened() && FSource->LengthEstimated(); }
  // Position when playback last ended (Stop, the end of the data, a failure), which Stop then
  // zeroes; 0 before the first end.
  int32_t EndPosition() const { return FEndPosition; }
  // The live stream's title when the station has named one, else the track's or the tags'
  // title, else the name part of FileName.
  std::string Title() const;
  std::string Artist() const;
  // The track's album, else the tags' album, else a live stream's station name.
  std::string Album() const;
  // The open stream is a live stream (internet radio).
  bool IsLive() const { return FLive != nullptr; }
  // The live stream lost its connection and makes a new one (the sound pauses meanwhile).
  bool LiveReconnecting() const { return FLive && FLive->Reconnecting(); }
  // The live stream's read-ahead buffer is full (a long pause): what it holds is behind live.
  bool LiveBufferFull() const { return FLive && FLive->BufferFull(); }
  // Why the last playback of a live stream ended by itself: the stream's own end message (the
  // connection was lost, no data came), or, when the station closed the stream without a fault,
  // a message that says so. "" after a Stop, for files and while playing. Valid in OnEndPlay
  // and after, until the next Play or open.
  std::string EndMessage() const { return FEndMessage; }
  // The stream's length in microseconds from what opening it found; 0 when unknown.
  int64_t LengthMicroseconds() const;

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
  // As above, playing only the track of the file (seeking, Position and the length are then
  // the track's; its texts and ReplayGain values stand for the tags'). A following track of
  // the same file that starts where this one ends is decoded on without a break.
  void SetFileName(const std::string& value, const TTrackSpan& track);
  // The track of the open stream (the whole stream unless one was given).
  const TTrackSpan& Track() const { return FSource->Track(); }
  TMP3InfoTypes NeedInfoType() const { return FSource->Info().NeedInfoType(); }
  void SetNeedInfoType(TMP3InfoTypes value) { FSource->Info().SetNeedInfoType(value); }
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

  // ReplayGain: Off (the default) plays the samples as decoded; Track, Album and Auto scale them
  // by the stream's gain (see ReplayGainFactor), from the next frame on. Auto takes the album
  // gain while the album plays in order (the scanner says so), else the track gain.
  TReplayGainMode ReplayGainMode() const { return FReplayGainMode; }
  void SetReplayGainMode(TReplayGainMode value);
  // Added to every gain, -6 .. +6 dB (0 by default); others are ignored.
  double ReplayGainPreamp() const { return FReplayGainPreamp; }
  void SetReplayGainPreamp(double db);
  // Measured gains for files whose tags carry none (nullptr: none). A file takes what the
  // scanner knows when it opens (a chained file when its decoding begins) and keeps it to its
  // end; in a gain mode the scanner is told each file that starts. It must outlive the player
  // or be unset first.
  void SetLoudnessScanner(TLoudnessScanner* scanner) { FScanner = scanner; }
  // The amplitude factor the open stream is played with (1 when closed or Off).
  double ReplayGainFactor() const;

  // Events.
  // Every ChangePosStep ms while playing; taken into account at Play (set it before): without
  // it (and without ProcessApplicationMessages) the player does not wake the main thread for
  // the position, and owners read Position() when they need it.
  TNotifyEvent OnChangePosition;
  TNotifyEvent OnChangeStatus;
  TMP3EndPlayEvent OnEndPlay;
  // Asked once decoding of a stream has begun (after Play, and after each gapless change): the
  // file to play right after it, or "" for none. A file that cannot be opened, or whose sample
  // rate or channel count differs, is not chained: the playback then ends with OnEndPlay as
  // without this event, and the owner starts the next file itself.
  TGetNextFileEvent OnGetNextFile;
  // The file OnGetNextFile gave is heard now: it is the current stream from here on, and
  // EndPosition is where the previous one ended. Fires instead of OnEndPlay for that change.
  TNotifyEvent OnTrackChange;
  // The live stream's title (StreamTitle) has changed with the sound being decoded.
  TNotifyEvent OnTitleChange;
  // The current stream's LengthSamples has changed (its frames are all indexed now).
  TNotifyEvent OnLengthChange;
  TShowException ShowException;
  // Lets the application process its pending messages before a position event (the panel's
  // event loop); nothing by default.
  std::function<void()> ProcessApplicationMessages;

  // The queue standing in for the hidden window; pump it on the main thread.
  platform::MainMessageQueue& Window() { return FWindow; }
  // The stream source (reader, tags, stream description), for inspection.
  const TMP3Source& Source() const { return *FSource; }
  TMPLoopThread& DecodeThread() { return *FDecodeThread; }

 private:
  // Decode thread messages.
  void Dispatch(TMessage& message) override;
  void MPMWatchEvent();
  void DecodeStep();
  // Decode lock held: waits until no thread reads the live stream with the lock let go.
  void WaitForNetworkRead();
  // Window messages.
  void WndProc(const platform::Message& message);
  void HandleThreadException(const platform::Message& message);
  void OnThreadException(std::exception_ptr e, bool& handled, bool wait);
  void OnOutputPosition();
  // Opens stream; on success FileName becomes *name when name is given.
  void OpenStreamAs(TStream* stream, uint8_t flags, const std::string* name, const TTrackSpan* track = nullptr);
  // Makes a network stream's waits and reads return at once (any thread).
  void CancelNetwork();
  // Why the live stream ended (its own message, or that the station ended it).
  std::string LiveEndMessage() const;
  // Main thread: opens the next file (OnGetNextFile) and hands it to the decode thread.
  void OpenNextFile(uintptr_t generation);
  // Main thread: makes every chained stream whose first sample has been played the current one.
  void TakeHeardTracks();
  // The decoder no stream being decoded uses (created on first use).
  Decoder& SpareDecoder(const Decoder& busy);
  // Drops the chained streams (decode lock held); the current stream decodes again.
  void DropChain();

  void SetStatus(TMP3PlayerStatus status);
  void UpdatePosition();
  // Milliseconds into the current stream when done_bytes of this playback have been played
  // (output lock).
  int32_t TrackTime(int64_t done_bytes) const;
  void RebuildEqualizer();
  // Sets the decoder of source up with the equalizer and the stream's ReplayGain (main thread,
  // decode lock), keeping those settings for Tune.
  void TuneDecoder(TMP3Source& source);
  // The same with the settings TuneDecoder kept (decode lock, any thread).
  void Tune(TMP3Source& source);
  static double ReplayGainFactor(const TMP3Source& source, TReplayGainMode mode, double preamp);
  // Gives source what the scanner has measured of file, and in a gain mode asks for what is
  // missing (decode lock).
  void TakeMeasuredLevels(TMP3Source& source, const std::string& file, TReplayGainMode mode);
  void DoChangeStatus();
  void DoChangePosition();
  void DoEndPlay();
  void DoTrackChange();
  void Show(const std::exception_ptr& e);

  // A stream opened ahead to follow the one before it without a gap.
  struct TChained {
    std::unique_ptr<TStream> stream;
    // None when decoding goes on in the stream before it (a following track of the same file).
    std::unique_ptr<TMP3Source> source;
    std::string file_name;
    TTrackSpan track;
    // Output byte of this playback where its sound starts; -1 until its decoding has begun.
    int64_t start_bytes = -1;
  };

  Decoder& FDecoder;
  // The second decoder, for a stream opened while another one decodes.
  std::unique_ptr<Decoder> FSpareDecoder;
  uint32_t FKernelFlags = 0;
  // Declared first, destroyed last: the threads below post to it until they end.
  platform::MainMessageQueue FWindow;
  // The current stream: the one heard (main thread; changed under the decode lock).
  std::unique_ptr<TMP3Source> FSource;
  std::unique_ptr<TStream> FOwnedStream;
  TStream* FStream = nullptr;
  // FStream when it is a live stream.
  TLiveStream* FLive = nullptr;
  // What the reader reads a live stream through: it lets the decode lock go while a read waits
  // for the network, so that the main thread never waits for the network behind that lock.
  std::unique_ptr<TStream> FLiveReader;
  // A thread is inside the live stream's Read with the decode lock let go.
  std::atomic<bool> FReadingNetwork{false};
  uint8_t FFlags = 0;
  std::string FEndMessage;  // main thread
  // CancelNetwork was called for the open stream.
  std::atomic<bool> FNetworkCancelled{false};

  bool FAutoOpen = true;
  bool FAutoPlay = true;
  int32_t FChangePosStep = 400;
  TThreadPriority FDecodePriority = tpNormal;
  std::string FFileName;
  // The track Open plays of FFileName.
  TTrackSpan FOpenTrack;
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
  // The stream being decoded: the current one, or the last chained one whose decoding began.
  TMP3Source* FDecoding = nullptr;
  // Streams after the current one, in playing order; the last may not be decoding yet.
  std::deque<std::unique_ptr<TChained>> FChain;
  // The owner has been asked for the next file and has not answered yet.
  bool FNextAsked = false;
  // PCM bytes handed to the sound output in this playback.
  int64_t FWrittenBytes = 0;
  int32_t FPendingBytes = 0;
  int32_t FPendingOffset = 0;
  // Counts Stops and Plays, so a decode step that waited for the last sound knows whether its
  // playback went on, and an end-of-data message reaches only the playback that posted it.
  uint64_t FPlayGeneration = 0;
  std::unique_ptr<uint8_t[]> FPcmBuffer;
  // Output state (output lock).
  int64_t FDoneBytes = 0;
  // The sample the device's count starts from (the last seek target).
  int64_t FSeekBase = 0;
  int32_t FPosition = 0;
  // Output byte where the current stream's sound started (main thread).
  int64_t FTrackStartBytes = 0;
  // Where the first chained stream whose decoding has begun starts; -1 for none.
  std::atomic<int64_t> FNextStartBytes{-1};
  // Whether the playback's position notices have a taker (read at Play).
  std::atomic<bool> FPositionNotices{true};
  int32_t FEndPosition = 0;  // main thread

  TEqualizerSettings FEqualizer;
  TReplayGainMode FReplayGainMode = rgmOff;
  double FReplayGainPreamp = 0;
  // The equalizer and gain settings as the decoders were last tuned with (decode lock).
  struct TTuning {
    TEqualizerSettings equalizer;
    TReplayGainMode mode = rgmOff;
    double preamp = 0;
  } FTuning;
  TLoudnessScanner* FScanner = nullptr;

  // Exceptions of the worker threads on their way to the main thread, in posting order.
  std::mutex FThreadExceptionsLock;
  std::deque<std::exception_ptr> FThreadExceptions;

  TMPSimpleMutex FDecodeLock;
  TMPSimpleMutex FOutputLock;
  std::unique_ptr<TSoundOut> FSoundOut;
  std::unique_ptr<TMPLoopThread> FDecodeThread;
};

}  // namespace plumo
