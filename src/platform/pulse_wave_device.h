// The real sound device straight through PulseAudio (or PipeWire's pulse server), without SDL in
// between. Each open device has a libpulse thread of its own and one playback stream whose
// server asks for one queued buffer's worth at a time, so playing wakes the process about twice
// a second instead of SDL's fifteen. A buffer is returned as done once the server has taken all
// of its sound; the volume is the stream's volume on the server, so a change is heard at once.
// Where no server answers the device count is 0 and opening fails with libpulse's text; a server
// lost while a device is open is reported to its done target as a failure whose text is
// libpulse's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "wave_device.h"

namespace plumo::platform {

class PulseWaveDriver final : public WaveDriver,
                              public WaveDriverMemory,
                              public std::enable_shared_from_this<PulseWaveDriver> {
 public:
  PulseWaveDriver() = default;

  // 1 (the server's default output) when a server answers, else 0.
  int NumDevices() override;
  int Open(int device_id, const WaveFormat& format, WaveDoneCallback done,
           std::unique_ptr<WaveDevice>& device) override;
  int GetDeviceVolume(int device_id, uint32_t& volume) override;
  bool ErrorText(int result, std::string& text) override;

  // Whether a server answers now; its refusal or silence in error otherwise.
  static bool ServerAnswers(std::string* error = nullptr);
};

std::shared_ptr<PulseWaveDriver> MakePulseWaveDriver();

// The sound device a user gets: PulseAudio when a server (PulseAudio's or PipeWire's) answers,
// else SDL (ALSA and the rest).
std::shared_ptr<WaveDriver> MakeSoundWaveDriver();

}  // namespace plumo::platform
