#include "wave_device.h"

#include <cstring>
#include <utility>

namespace plumo::platform {

bool StandardWaveErrorText(int result, std::string& text) {
  switch (result) {
    case MMSYSERR_NOERROR: text = "The command completed successfully."; return true;
    case MMSYSERR_ERROR: text = "An unspecified error occurred."; return true;
    case MMSYSERR_BADDEVICEID: text = "No wave output device with this id exists."; return true;
    case MMSYSERR_ALLOCATED: text = "The wave output device is already in use."; return true;
    case MMSYSERR_INVALHANDLE: text = "The wave output device is not open."; return true;
    case MMSYSERR_NODRIVER: text = "No wave output driver is available."; return true;
    case MMSYSERR_NOMEM: text = "Not enough memory for the wave output device."; return true;
    case MMSYSERR_NOTSUPPORTED: text = "The wave output device does not support this."; return true;
    case MMSYSERR_INVALPARAM: text = "An invalid parameter was passed."; return true;
    case WAVERR_BADFORMAT: text = "The wave output device does not support this format."; return true;
    case WAVERR_STILLPLAYING: text = "The buffer is still playing."; return true;
    case WAVERR_UNPREPARED: text = "The buffer is not prepared."; return true;
    default: return false;
  }
}

uint32_t WaveDriverMemory::StoredVolume(int device_id) const {
  std::lock_guard lock(FMutex);
  const auto it = FVolumes.find(device_id);
  return it == FVolumes.end() ? 0xFFFFFFFF : it->second;
}

void WaveDriverMemory::StoreVolume(int device_id, uint32_t volume) {
  std::lock_guard lock(FMutex);
  FVolumes[device_id] = volume;
}

int WaveDriverMemory::Fail(int result, const std::string& text) {
  std::lock_guard lock(FMutex);
  FErrorTexts[result] = text;
  return result;
}

bool WaveDriverMemory::KeptErrorText(int result, std::string& text) const {
  {
    std::lock_guard lock(FMutex);
    if (const auto it = FErrorTexts.find(result); it != FErrorTexts.end()) {
      text = it->second;
      return true;
    }
  }
  return StandardWaveErrorText(result, text);
}

namespace {

class VolumeOnlyWaveDevice final : public WaveDevice {
 public:
  VolumeOnlyWaveDevice(std::shared_ptr<WaveDriverMemory> driver, int device_id)
      : FDriver(std::move(driver)), FDeviceId(device_id) {}

  int Prepare(WaveHeader&) override { return Check(MMSYSERR_NOTSUPPORTED); }
  int Unprepare(WaveHeader&) override { return Check(MMSYSERR_NOTSUPPORTED); }
  int Write(WaveHeader&) override { return Check(MMSYSERR_NOTSUPPORTED); }
  int Pause() override { return Check(MMSYSERR_NOTSUPPORTED); }
  int Restart() override { return Check(MMSYSERR_NOTSUPPORTED); }
  int Reset() override { return Check(MMSYSERR_NOERROR); }
  int GetPosition(uint64_t& bytes) override {
    bytes = 0;
    return Check(MMSYSERR_NOERROR);
  }
  int GetVolume(uint32_t& volume) override {
    if (FClosed) return MMSYSERR_INVALHANDLE;
    volume = FDriver->StoredVolume(FDeviceId);
    return MMSYSERR_NOERROR;
  }
  int SetVolume(uint32_t volume) override {
    if (FClosed) return MMSYSERR_INVALHANDLE;
    FDriver->StoreVolume(FDeviceId, volume);
    return MMSYSERR_NOERROR;
  }
  int Close() override {
    if (FClosed) return MMSYSERR_INVALHANDLE;
    FClosed = true;
    return MMSYSERR_NOERROR;
  }

 private:
  int Check(int result) const { return FClosed ? MMSYSERR_INVALHANDLE : result; }

  const std::shared_ptr<WaveDriverMemory> FDriver;
  const int FDeviceId;
  bool FClosed = false;
};

}  // namespace

std::unique_ptr<WaveDevice> MakeVolumeOnlyWaveDevice(std::shared_ptr<WaveDriverMemory> driver, int device_id) {
  return std::make_unique<VolumeOnlyWaveDevice>(std::move(driver), device_id);
}

void ApplyWaveVolume(uint8_t* data, size_t n, const WaveFormat& format, uint32_t volume) {
  const int32_t left = static_cast<int32_t>(volume & 0xFFFF);
  const int32_t right = format.channels == 2 ? static_cast<int32_t>(volume >> 16) : left;
  if (left == 0xFFFF && right == 0xFFFF) return;
  if (format.bits_per_sample == 16) {
    const size_t samples = n / 2;
    for (size_t i = 0; i < samples; ++i) {
      int16_t s;
      std::memcpy(&s, data + 2 * i, 2);
      const int32_t gain = (format.channels == 2 && (i & 1)) ? right : left;
      s = static_cast<int16_t>(s * gain / 0xFFFF);
      std::memcpy(data + 2 * i, &s, 2);
    }
  } else {
    for (size_t i = 0; i < n; ++i) {
      const int32_t gain = (format.channels == 2 && (i & 1)) ? right : left;
      data[i] = static_cast<uint8_t>((static_cast<int32_t>(data[i]) - 128) * gain / 0xFFFF + 128);
    }
  }
}

}  // namespace plumo::platform
