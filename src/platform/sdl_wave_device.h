// The real sound device through SDL2 audio (PipeWire, PulseAudio or ALSA, whichever SDL finds).
// SDL's audio callback drains the queued buffers, applies the volume to the samples and reports
// each finished buffer once it is copied into SDL's own: a Close after the queue played out
// therefore waits until SDL has handed that sound to the server (after a Reset it does not).
// Where SDL has no audio device the device count is 0 and opening fails with SDL's own message.
// A device lost while open (the sound server ended) is reported to its done target as a failure
// whose text is SDL's.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "wave_device.h"

union SDL_Event;

namespace plumo::platform {

class SdlWaveDriver final : public WaveDriver,
                            public WaveDriverMemory,
                            public std::enable_shared_from_this<SdlWaveDriver> {
 public:
  // Starts SDL's audio subsystem for the life of the driver (and of its devices).
  SdlWaveDriver();
  ~SdlWaveDriver() override;

  int NumDevices() override;
  int Open(int device_id, const WaveFormat& format, WaveDoneCallback done,
           std::unique_ptr<WaveDevice>& device) override;
  int GetDeviceVolume(int device_id, uint32_t& volume) override;
  bool ErrorText(int result, std::string& text) override;

  // Whether SDL's audio subsystem started.
  bool Available() const { return FInitialized; }

  // lost is called (on one of SDL's threads) when SDL reports the open device removed.
  void Watch(uint32_t sdl_device, std::function<void(const std::string&)> lost);
  void Unwatch(uint32_t sdl_device);

 private:
  static int EventWatch(void* userdata, SDL_Event* event);
  void DeviceRemoved(uint32_t sdl_device, const std::string& text);
  bool ValidId(int device_id);

  bool FInitialized = false;
  std::string FInitError;
  std::mutex FWatchMutex;
  std::map<uint32_t, std::function<void(const std::string&)>> FWatched;
};

std::shared_ptr<SdlWaveDriver> MakeSdlWaveDriver();

}  // namespace plumo::platform
