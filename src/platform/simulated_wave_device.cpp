#include "simulated_wave_device.h"

#include <utility>

#include "paced_wave_device.h"

namespace plumo::platform {

class SimulatedSink final : public PacedSink {
 public:
  SimulatedSink(std::shared_ptr<SimulatedWaveDriver> driver, int device_id, bool counted)
      : FDriver(std::move(driver)), FDeviceId(device_id), FCounted(counted) {}

  int Played(const uint8_t*, size_t n) override {
    const SimulatedWaveOptions& options = FDriver->FOptions;
    {
      std::lock_guard lock(FDriver->FMutex);
      FDriver->FStats.bytes_played += n;
    }
    const uint64_t before = FPlayed;
    FPlayed += n;
    if (options.fail_after_bytes > 0 && before < options.fail_after_bytes &&
        FPlayed >= options.fail_after_bytes) {
      return options.fail_playback_result;
    }
    return MMSYSERR_NOERROR;
  }

  void Finished() override {
    std::lock_guard lock(FDriver->FMutex);
    ++FDriver->FStats.buffers_played;
  }

  void Reset() override {
    std::lock_guard lock(FDriver->FMutex);
    ++FDriver->FStats.resets;
  }

  int BeforeWrite() override {
    const SimulatedWaveOptions& options = FDriver->FOptions;
    if (options.fail_write_at > 0 && ++FWrites == options.fail_write_at) {
      return options.fail_write_result;
    }
    std::lock_guard lock(FDriver->FMutex);
    ++FDriver->FStats.buffers_written;
    return MMSYSERR_NOERROR;
  }

  int BeforePause() override {
    if (FDriver->FOptions.fail_pause != 0) return FDriver->FOptions.fail_pause;
    std::lock_guard lock(FDriver->FMutex);
    ++FDriver->FStats.pauses;
    return MMSYSERR_NOERROR;
  }

  int BeforeRestart() override {
    if (FDriver->FOptions.fail_restart != 0) return FDriver->FOptions.fail_restart;
    std::lock_guard lock(FDriver->FMutex);
    ++FDriver->FStats.restarts;
    return MMSYSERR_NOERROR;
  }

  int GetVolume(uint32_t& volume) override { return FDriver->GetDeviceVolume(FDeviceId, volume); }

  int SetVolume(uint32_t volume) override {
    if (FDriver->FOptions.fail_set_volume != 0) return FDriver->FOptions.fail_set_volume;
    std::lock_guard lock(FDriver->FMutex);
    FDriver->FVolumes[FDeviceId] = volume;
    return MMSYSERR_NOERROR;
  }

  int Close() override {
    if (FCounted) {
      std::lock_guard lock(FDriver->FMutex);
      ++FDriver->FStats.closes;
      --FDriver->FStats.open_devices;
      if (FDriver->FOptions.fail_close_at == FDriver->FStats.closes) return FDriver->FOptions.fail_close_result;
    }
    return MMSYSERR_NOERROR;
  }

 private:
  const std::shared_ptr<SimulatedWaveDriver> FDriver;
  const int FDeviceId;
  const bool FCounted;
  uint64_t FPlayed = 0;
  int FWrites = 0;
};

SimulatedWaveDriver::SimulatedWaveDriver(SimulatedWaveOptions options)
    : FOptions(std::move(options)) {}

int SimulatedWaveDriver::NumDevices() { return FOptions.num_devices > 0 ? FOptions.num_devices : 0; }

int SimulatedWaveDriver::Open(int device_id, const WaveFormat& format, WaveDoneCallback done,
                              std::unique_ptr<WaveDevice>& device) {
  device.reset();
  if (device_id < kWaveMapper || device_id >= NumDevices() || NumDevices() == 0) {
    return MMSYSERR_BADDEVICEID;
  }
  if (!format.Valid()) return WAVERR_BADFORMAT;
  const bool playing = static_cast<bool>(done);
  if (playing && FOptions.fail_open != 0) return FOptions.fail_open;
  if (!playing && FOptions.fail_query_open != 0) return FOptions.fail_query_open;
  if (playing) {
    std::lock_guard lock(FMutex);
    ++FStats.opens;
    ++FStats.open_devices;
    FStats.last_format = format;
  }
  auto self = shared_from_this();
  device = std::make_unique<PacedWaveDevice>(format, std::move(done), FOptions.real_time,
                                             std::make_unique<SimulatedSink>(self, device_id, playing));
  return MMSYSERR_NOERROR;
}

int SimulatedWaveDriver::GetDeviceVolume(int device_id, uint32_t& volume) {
  if (device_id < kWaveMapper || device_id >= NumDevices()) return MMSYSERR_BADDEVICEID;
  volume = Volume(device_id);
  return MMSYSERR_NOERROR;
}

bool SimulatedWaveDriver::ErrorText(int result, std::string& text) {
  if (const auto it = FOptions.error_texts.find(result); it != FOptions.error_texts.end()) {
    text = it->second;
    return true;
  }
  return StandardWaveErrorText(result, text);
}

SimulatedWaveStats SimulatedWaveDriver::Stats() const {
  std::lock_guard lock(FMutex);
  return FStats;
}

uint32_t SimulatedWaveDriver::Volume(int device_id) const {
  std::lock_guard lock(FMutex);
  const auto it = FVolumes.find(device_id);
  return it == FVolumes.end() ? FOptions.initial_volume : it->second;
}

std::shared_ptr<SimulatedWaveDriver> MakeSimulatedWaveDriver(SimulatedWaveOptions options) {
  return std::make_shared<SimulatedWaveDriver>(std::move(options));
}

}  // namespace plumo::platform
