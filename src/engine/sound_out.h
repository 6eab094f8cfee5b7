// TSoundOut: plays PCM through a wave device from a ring of four buffers and reports how far the
// device has got. Its output thread receives the device's buffer-done notifications, wakes the
// decoder when room appears and calls OnPosition at most every NotifyInterval ms.
//
// Callers serialise their calls (the player holds its output lock); only the output thread runs
// alongside them, and it takes none of the caller's locks.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "loop_thread.h"
#include "sync.h"
#include "wave_device.h"

namespace plumo {

// A wave-device failure; the message is "<device text>(<location>)".
class EWaveOutError : public std::runtime_error {
 public:
  EWaveOutError(const std::string& message, int result)
      : std::runtime_error(message), FResult(result) {}
  int Result() const { return FResult; }

 private:
  int FResult;
};

class TSoundOut final : private TMPMessageOwner {
 public:
  using TExceptionEvent = std::function<void(TSoundOut* sender, std::exception_ptr e, bool& handled)>;
  using TNotifyEvent = std::function<void(TSoundOut* sender)>;

  static constexpr int kBufferCount = 4;

  // Reads the device volume into Volume and starts the output thread.
  explicit TSoundOut(std::shared_ptr<platform::WaveDriver> driver);
  // Close (errors are swallowed), then ends the output thread.
  ~TSoundOut();
  TSoundOut(const TSoundOut&) = delete;
  TSoundOut& operator=(const TSoundOut&) = delete;

  // Opens the device in the current format and prepares the four buffers; nothing when open.
  // On failure everything is closed again and EWaveOutError propagates.
  void Open();
  // Plays out what is queued (a paused device is reset instead), then releases the device.
  void Close();
  bool Opened() const { return FOpened.load(); }

  // Copies into the ring and queues every buffer that fills; returns how many bytes were taken
  // (fewer than n once all four buffers are queued).
  int32_t Write(const void* bytes, int32_t n);
  bool CanWrite();
  // Free room of the ring in percent; 0 when closed.
  int32_t FreePercent();
  // Queues the current buffer with its fill.
  void WaveWrite();
  // Queues a partly filled buffer and waits until the output thread has seen everything before.
  void Flush();
  // Waits until no buffer is queued (or the output thread has ended).
  void WaitAllDone();
  // Drops the partly filled buffer and gets every queued buffer back; position starts at 0.
  void Reset();
  void Pause();
  void Unpause();
  // The event is signalled (once, then forgotten) as soon as there is room in the ring.
  void SetWakeEvent(TMPEvent* event);
  // Bytes played since the previous call; 0 when closed.
  int64_t GetDoneBytes();

  // 0..100; other values are ignored. Applied to the device at once when open.
  int32_t Volume() const { return FVolume; }
  void SetVolume(int32_t value);
  // -100 (left only) .. 100 (right only); other values are ignored.
  int32_t Balance() const { return FBalance; }
  void SetBalance(int32_t value);
  void RefreshVolume();
  void SetVolumeToWaveDevice();
  // The device's current volume in 0..100; 100 when it cannot be read.
  int32_t GetWaveVolume();

  int32_t SampleRate() const { return FSampleRate; }
  void SetSampleRate(int32_t value);  // > 0
  int32_t Channels() const { return FChannels; }
  void SetChannels(int32_t value);  // 1 or 2
  int32_t BitsPerSample() const { return FBitsPerSample; }
  void SetBitsPerSample(int32_t value);  // 8 or 16
  int32_t DeviceID() const { return FDeviceID; }
  void SetDeviceID(int32_t value) { FDeviceID = value; }
  // Least ms between two OnPosition calls; -1 never calls it.
  int32_t NotifyInterval() const { return FNotifyInterval.load(); }
  void SetNotifyInterval(int32_t value) { FNotifyInterval.store(value); }

  // Called on the output thread with this object as sender.
  void SetOnException(TExceptionEvent handler);
  void SetOnPosition(TNotifyEvent handler);

  // A quarter of two seconds of sound, rounded up to a multiple of 4 bytes.
  static int64_t ComputeBufferSize(int32_t sample_rate, int32_t channels, int32_t bits);
  // The size of each buffer: of the open ring, else what Open would allocate.
  int64_t BufferSize() const;
  // Buffers handed to the device and not yet back.
  int32_t QueuedCount() const { return FQueued.load(); }
  TMPLoopThread& OutputThread() { return *FOutputThread; }

 private:
  void Dispatch(TMessage& msg) override;
  void DeviceDone(platform::WaveHeader* header, int error);
  void BufferDone();
  void NotifyIfRoom();
  void NotifyPosition();
  void Check(int result, const char* location);
  int32_t TimeoutForInterval() const;
  void ReleaseDevice();

  const std::shared_ptr<platform::WaveDriver> FDriver;

  int32_t FSampleRate = 44100;
  int32_t FChannels = 2;
  int32_t FBitsPerSample = 16;
  int32_t FVolume = 100;
  int32_t FBalance = 0;
  int32_t FDeviceID = platform::kWaveMapper;
  std::atomic<int32_t> FNotifyInterval{-1};
  std::atomic<uint32_t> FLastNotifyTick{0};
  std::atomic<bool> FOpened{false};
  bool FPaused = false;

  std::unique_ptr<platform::WaveDevice> FDevice;
  std::array<platform::WaveHeader, kBufferCount> FHeaders;
  std::array<std::unique_ptr<uint8_t[]>, kBufferCount> FBuffers;
  size_t FBufferSize = 0;

  // The fill lock guards index, fill and the queued count against the output thread.
  TMPSimpleMutex FFillLock;
  int FIndex = 0;
  size_t FFill = 0;
  std::atomic<int32_t> FQueued{0};
  TMPSimpleEvent FAllDone{true};  // signalled while no buffer is queued

  TMPSimpleMutex FWakeLock;
  TMPEvent* FWakeEvent = nullptr;

  // Bytes the device reported played at the previous GetDoneBytes (64-bit: long files pass 2^31).
  uint64_t FLastDoneBytes = 0;

  std::mutex FEventMutex;  // guards the two handlers
  TExceptionEvent FOnException;
  TNotifyEvent FOnPosition;

  std::unique_ptr<TMPLoopThread> FOutputThread;
};

}  // namespace plumo
