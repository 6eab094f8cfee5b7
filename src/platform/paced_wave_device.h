// A wave device that plays its queue on a thread of its own, either at the real-time rate of
// its format or as fast as possible, handing the played bytes to a sink. The simulated and the
// WAV-file devices are this device with different sinks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "wave_device.h"

namespace plumo::platform {

// What a paced device does with its sound, and where it may refuse an operation.
class PacedSink {
 public:
  virtual ~PacedSink() = default;
  // Device thread, under the device's lock: n bytes were played. A non-zero result is reported
  // once through the done target as a failure in the middle of playback; playing goes on.
  virtual int Played(const uint8_t* data, size_t n) = 0;
  // Device thread, under the device's lock: a buffer was played to its end.
  virtual void Finished() {}
  // The device was reset.
  virtual void Reset() {}
  // Non-zero refuses the operation with that result.
  virtual int BeforeWrite() { return MMSYSERR_NOERROR; }
  virtual int BeforePause() { return MMSYSERR_NOERROR; }
  virtual int BeforeRestart() { return MMSYSERR_NOERROR; }
  virtual int GetVolume(uint32_t& volume) = 0;
  virtual int SetVolume(uint32_t volume) = 0;
  // The device closes (its queue is empty).
  virtual int Close() { return MMSYSERR_NOERROR; }
};

class PacedWaveDevice final : public WaveDevice {
 public:
  // With an empty done target no thread is started: only the volume calls and Close work.
  PacedWaveDevice(const WaveFormat& format, WaveDoneCallback done, bool real_time,
                  std::unique_ptr<PacedSink> sink);
  ~PacedWaveDevice() override;

  int Prepare(WaveHeader& header) override;
  int Unprepare(WaveHeader& header) override;
  int Write(WaveHeader& header) override;
  int Pause() override;
  int Restart() override;
  int Reset() override;
  int GetPosition(uint64_t& bytes) override;
  int GetVolume(uint32_t& volume) override;
  int SetVolume(uint32_t volume) override;
  int Close() override;

 private:
  void Run();
  void StopThread();
  // Hands finished buffers and a failure to the done target, outside the lock.
  void Notify(std::unique_lock<std::mutex>& lock, WaveHeader* header, int error);

  const WaveFormat FFormat;
  const WaveDoneCallback FDone;
  const bool FRealTime;
  const std::unique_ptr<PacedSink> FSink;
  // Bytes played per real-time step (10 ms, whole sample frames).
  const size_t FStep;

  std::mutex FMutex;
  std::condition_variable FCond;
  std::deque<WaveHeader*> FQueue;
  size_t FOffset = 0;         // bytes of the front buffer already played
  uint64_t FPosition = 0;     // bytes played since open or reset
  uint64_t FGeneration = 0;   // changes on pause, reset and close: a step in progress is void
  bool FPaused = false;
  bool FClosed = false;
  bool FStop = false;
  bool FFailureReported = false;
  std::thread FThread;
};

}  // namespace plumo::platform
