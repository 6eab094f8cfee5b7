#include "wav_file_wave_device.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "paced_wave_device.h"

namespace plumo::platform {

namespace {

constexpr size_t kHeaderSize = 44;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

std::array<uint8_t, kHeaderSize> WavHeader(const WaveFormat& format, uint64_t data_bytes) {
  // The size fields are 32-bit: a longer recording keeps the largest sizes they can state.
  const uint32_t data = static_cast<uint32_t>(
      std::min<uint64_t>(data_bytes, std::numeric_limits<uint32_t>::max() - 36));
  std::array<uint8_t, kHeaderSize> h{};
  std::memcpy(&h[0], "RIFF", 4);
  Put32(&h[4], 36 + data);
  std::memcpy(&h[8], "WAVEfmt ", 8);
  Put32(&h[16], 16);
  Put16(&h[20], 1);  // PCM
  Put16(&h[22], static_cast<uint32_t>(format.channels));
  Put32(&h[24], static_cast<uint32_t>(format.sample_rate));
  Put32(&h[28], static_cast<uint32_t>(format.BytesPerSecond()));
  Put16(&h[32], static_cast<uint32_t>(format.BlockAlign()));
  Put16(&h[34], static_cast<uint32_t>(format.bits_per_sample));
  std::memcpy(&h[36], "data", 4);
  Put32(&h[40], data);
  return h;
}

bool SameFormat(const WaveFormat& a, const WaveFormat& b) {
  return a.channels == b.channels && a.sample_rate == b.sample_rate &&
         a.bits_per_sample == b.bits_per_sample;
}

}  // namespace

class WavFileSink final : public PacedSink {
 public:
  WavFileSink(std::shared_ptr<WavFileWaveDriver> driver, bool playing)
      : FDriver(std::move(driver)), FPlaying(playing) {}

  int Played(const uint8_t* data, size_t n) override {
    std::lock_guard lock(FDriver->FMutex);
    return FDriver->WriteLocked(data, n);
  }

  int GetVolume(uint32_t& volume) override {
    std::lock_guard lock(FDriver->FMutex);
    volume = FDriver->FVolume;
    return MMSYSERR_NOERROR;
  }

  int SetVolume(uint32_t volume) override {
    std::lock_guard lock(FDriver->FMutex);
    FDriver->FVolume = volume;
    return MMSYSERR_NOERROR;
  }

  int Close() override {
    if (!FPlaying) return MMSYSERR_NOERROR;
    std::lock_guard lock(FDriver->FMutex);
    FDriver->FDeviceOpen = false;
    if (!FDriver->UpdateHeaderLocked()) return MMSYSERR_ERROR;
    return MMSYSERR_NOERROR;
  }

 private:
  const std::shared_ptr<WavFileWaveDriver> FDriver;
  const bool FPlaying;
};

WavFileWaveDriver::WavFileWaveDriver(std::string path) : FPath(std::move(path)) {}

WavFileWaveDriver::~WavFileWaveDriver() {
  std::lock_guard lock(FMutex);
  if (FFile) UpdateHeaderLocked();
}

int WavFileWaveDriver::FailLocked(int result, const std::string& what) {
  FErrorTexts[result] = what;
  return result;
}

bool WavFileWaveDriver::UpdateHeaderLocked() {
  if (!FFile) return true;
  const auto header = WavHeader(FFormat, FDataBytes);
  std::FILE* file = FFile.get();
  if (std::fseek(file, 0, SEEK_SET) != 0 ||
      std::fwrite(header.data(), 1, header.size(), file) != header.size() ||
      std::fseek(file, 0, SEEK_END) != 0 || std::fflush(file) != 0) {
    FailLocked(MMSYSERR_ERROR, FPath + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

int WavFileWaveDriver::WriteLocked(const uint8_t* data, size_t n) {
  if (!FFile) return FailLocked(MMSYSERR_ERROR, FPath + ": the file is not open");
  if (std::fwrite(data, 1, n, FFile.get()) != n) {
    return FailLocked(MMSYSERR_ERROR, FPath + ": " + std::strerror(errno));
  }
  FDataBytes += n;
  return MMSYSERR_NOERROR;
}

int WavFileWaveDriver::Open(int device_id, const WaveFormat& format, WaveDoneCallback done,
                            std::unique_ptr<WaveDevice>& device) {
  device.reset();
  if (device_id != kWaveMapper && device_id != 0) return MMSYSERR_BADDEVICEID;
  if (!format.Valid()) return WAVERR_BADFORMAT;
  const bool playing = static_cast<bool>(done);
  if (playing) {
    std::lock_guard lock(FMutex);
    if (FDeviceOpen) return MMSYSERR_ALLOCATED;
    if (!FFile) {
      std::FILE* file = std::fopen(FPath.c_str(), "wb");
      if (!file) return FailLocked(MMSYSERR_ERROR, FPath + ": " + std::strerror(errno));
      FFile.reset(file);
      FFormat = format;
      FDataBytes = 0;
      if (!UpdateHeaderLocked()) {
        FFile.reset();
        return MMSYSERR_ERROR;
      }
    } else if (!SameFormat(FFormat, format)) {
      return FailLocked(WAVERR_BADFORMAT,
                        FPath + ": the file already holds sound of another format");
    }
    FDeviceOpen = true;
  }
  device = std::make_unique<PacedWaveDevice>(format, std::move(done), /*real_time=*/false,
                                             std::make_unique<WavFileSink>(shared_from_this(), playing));
  return MMSYSERR_NOERROR;
}

int WavFileWaveDriver::GetDeviceVolume(int device_id, uint32_t& volume) {
  if (device_id != kWaveMapper && device_id != 0) return MMSYSERR_BADDEVICEID;
  std::lock_guard lock(FMutex);
  volume = FVolume;
  return MMSYSERR_NOERROR;
}

bool WavFileWaveDriver::ErrorText(int result, std::string& text) {
  {
    std::lock_guard lock(FMutex);
    if (const auto it = FErrorTexts.find(result); it != FErrorTexts.end()) {
      text = it->second;
      return true;
    }
  }
  return StandardWaveErrorText(result, text);
}

uint64_t WavFileWaveDriver::DataBytes() const {
  std::lock_guard lock(FMutex);
  return FDataBytes;
}

std::shared_ptr<WavFileWaveDriver> MakeWavFileWaveDriver(std::string path) {
  return std::make_shared<WavFileWaveDriver>(std::move(path));
}

}  // namespace plumo::platform
