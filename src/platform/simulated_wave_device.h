// A wave driver without sound hardware: its devices consume queued buffers on their own thread at
// the real-time rate of their format or as fast as possible, count what they played, and fail
// on request so that callers' error paths can be exercised.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "wave_device.h"

namespace plumo::platform {

struct SimulatedWaveOptions {
  bool real_time = true;
  // 0 makes every open fail with MMSYSERR_BADDEVICEID.
  int num_devices = 1;
  // Volume every device starts with.
  uint32_t initial_volume = 0xFFFFFFFF;

  // Fault injection; a result code of 0 means "no fault".
  int fail_open = 0;             // result of every Open with a done target
  int fail_query_open = 0;       // result of every Open without one (volume queries)
  int fail_write_at = 0;         // the Nth Write on a device (1-based) answers fail_write_result
  int fail_write_result = MMSYSERR_ERROR;
  int fail_pause = 0;
  int fail_restart = 0;
  int fail_set_volume = 0;       // e.g. MMSYSERR_NOTSUPPORTED
  int fail_close_at = 0;         // the Nth Close of a playing device (1-based, over all devices)
  int fail_close_result = MMSYSERR_ERROR;  // ... answers this; the device is closed all the same
  uint64_t fail_after_bytes = 0; // once a device has played this many bytes (> 0) ...
  int fail_playback_result = MMSYSERR_ERROR;  // ... it reports this through the done target

  // Error texts by result code, taking precedence over the standard ones. A code found in
  // neither has no text.
  std::map<int, std::string> error_texts{};
};

// What the driver's devices have done so far, summed over all of them.
struct SimulatedWaveStats {
  uint64_t bytes_played = 0;
  uint64_t buffers_written = 0;
  uint64_t buffers_played = 0;  // played to their end (not returned by a reset)
  int opens = 0;                // with a done target
  int closes = 0;
  int resets = 0;
  int pauses = 0;
  int restarts = 0;
  int open_devices = 0;
  WaveFormat last_format;
};

class SimulatedWaveDriver final : public WaveDriver,
                                  public std::enable_shared_from_this<SimulatedWaveDriver> {
 public:
  explicit SimulatedWaveDriver(SimulatedWaveOptions options = {});

  int NumDevices() override;
  int Open(int device_id, const WaveFormat& format, WaveDoneCallback done,
           std::unique_ptr<WaveDevice>& device) override;
  int GetDeviceVolume(int device_id, uint32_t& volume) override;
  bool ErrorText(int result, std::string& text) override;

  SimulatedWaveStats Stats() const;
  // The stored volume of a device id (kWaveMapper included).
  uint32_t Volume(int device_id) const;

 private:
  friend class SimulatedSink;

  const SimulatedWaveOptions FOptions;
  mutable std::mutex FMutex;
  SimulatedWaveStats FStats;
  std::map<int, uint32_t> FVolumes;
};

std::shared_ptr<SimulatedWaveDriver> MakeSimulatedWaveDriver(SimulatedWaveOptions options = {});

}  // namespace plumo::platform
