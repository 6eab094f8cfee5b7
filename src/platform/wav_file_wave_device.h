// A wave driver with one device that records into a WAV file: every byte played goes into the
// file as it was queued (volume is kept and reported but not applied), buffers are consumed as
// fast as possible, a reset drops what was queued and not yet played. The file is created by the
// first open for playing; later opens with the same format append to it, another format is
// refused (WAVERR_BADFORMAT). The header is brought up to date whenever a device closes and when
// the driver goes away.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "wave_device.h"

namespace plumo::platform {

class WavFileWaveDriver final : public WaveDriver,
                                public std::enable_shared_from_this<WavFileWaveDriver> {
 public:
  explicit WavFileWaveDriver(std::string path);
  ~WavFileWaveDriver() override;

  int NumDevices() override { return 1; }
  int Open(int device_id, const WaveFormat& format, WaveDoneCallback done,
           std::unique_ptr<WaveDevice>& device) override;
  int GetDeviceVolume(int device_id, uint32_t& volume) override;
  bool ErrorText(int result, std::string& text) override;

  const std::string& Path() const { return FPath; }
  // Sound bytes written to the file so far.
  uint64_t DataBytes() const;

 private:
  friend class WavFileSink;

  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  // Under FMutex. Write the header for the current data size; false with the error recorded.
  bool UpdateHeaderLocked();
  int FailLocked(int result, const std::string& what);
  int WriteLocked(const uint8_t* data, size_t n);

  const std::string FPath;
  mutable std::mutex FMutex;
  std::unique_ptr<std::FILE, FileCloser> FFile;
  WaveFormat FFormat;
  uint64_t FDataBytes = 0;
  bool FDeviceOpen = false;
  uint32_t FVolume = 0xFFFFFFFF;
  std::map<int, std::string> FErrorTexts;
};

std::shared_ptr<WavFileWaveDriver> MakeWavFileWaveDriver(std::string path);

}  // namespace plumo::platform
