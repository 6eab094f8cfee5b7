// The wave-output device: open with a PCM format, queue buffers and get each back through a
// done notification, pause, restart, reset, position, stereo volume, error texts. Result codes
// are ints, 0 for success, with the classic waveOut numbers where callers test them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace plumo::platform {

inline constexpr int MMSYSERR_NOERROR = 0;
inline constexpr int MMSYSERR_ERROR = 1;
inline constexpr int MMSYSERR_BADDEVICEID = 2;
inline constexpr int MMSYSERR_ALLOCATED = 4;
inline constexpr int MMSYSERR_INVALHANDLE = 5;
inline constexpr int MMSYSERR_NODRIVER = 6;
inline constexpr int MMSYSERR_NOMEM = 7;
inline constexpr int MMSYSERR_NOTSUPPORTED = 8;
inline constexpr int MMSYSERR_INVALPARAM = 11;
inline constexpr int WAVERR_BADFORMAT = 32;
inline constexpr int WAVERR_STILLPLAYING = 33;
inline constexpr int WAVERR_UNPREPARED = 34;

// The thread message that carries a done notification to an output thread.
inline constexpr uint32_t MM_WOM_DONE = 957;

// Device id that selects the default device.
inline constexpr int kWaveMapper = -1;

// Linear PCM: 1 or 2 channels, 8-bit unsigned or 16-bit signed little-endian samples.
struct WaveFormat {
  int channels = 2;
  int sample_rate = 44100;
  int bits_per_sample = 16;

  int BlockAlign() const { return channels * (bits_per_sample / 8); }
  int64_t BytesPerSecond() const { return static_cast<int64_t>(sample_rate) * BlockAlign(); }
  bool Valid() const {
    return (channels == 1 || channels == 2) && (bits_per_sample == 8 || bits_per_sample == 16) &&
           sample_rate > 0;
  }
};

// Header flags.
inline constexpr uint32_t WHDR_DONE = 0x01;
inline constexpr uint32_t WHDR_PREPARED = 0x02;
inline constexpr uint32_t WHDR_INQUEUE = 0x10;

// One buffer handed to the device. The caller owns the header and the data; the device reads
// the data while the header is queued and changes the flags from its own thread.
struct WaveHeader {
  uint8_t* data = nullptr;
  uint32_t length = 0;
  std::atomic<uint32_t> flags{0};
};

// The done-notification target. Called on a thread of the device: once per finished buffer with
// that header and error 0 (the header is marked done before the call), and with a null header
// and a non-zero result code when the device fails in the middle of playback. It must not block
// and must not call back into the device.
using WaveDoneCallback = std::function<void(WaveHeader* header, int error)>;

// An open device.
class WaveDevice {
 public:
  WaveDevice() = default;
  WaveDevice(const WaveDevice&) = delete;
  WaveDevice& operator=(const WaveDevice&) = delete;
  // Closes the device if Close did not; queued buffers are then dropped without notification.
  virtual ~WaveDevice() = default;

  virtual int Prepare(WaveHeader& header) = 0;
  // WAVERR_STILLPLAYING while the header is queued.
  virtual int Unprepare(WaveHeader& header) = 0;
  // Queues a prepared header (WAVERR_UNPREPARED otherwise); playing starts at once unless the
  // device is paused.
  virtual int Write(WaveHeader& header) = 0;
  virtual int Pause() = 0;
  virtual int Restart() = 0;
  // Stops playing and returns every queued buffer, marked done, with its notification; the
  // position goes back to 0.
  virtual int Reset() = 0;
  // Bytes played since opening or the last Reset.
  virtual int GetPosition(uint64_t& bytes) = 0;
  // Left volume in the low 16 bits, right in the high 16 bits; 0xFFFF is full volume.
  virtual int GetVolume(uint32_t& volume) = 0;
  virtual int SetVolume(uint32_t volume) = 0;
  // WAVERR_STILLPLAYING while buffers are queued. After a successful close no notification
  // comes any more and every other call answers MMSYSERR_INVALHANDLE.
  virtual int Close() = 0;
};

// A family of devices (a sound system, a simulation, a file).
class WaveDriver {
 public:
  WaveDriver() = default;
  WaveDriver(const WaveDriver&) = delete;
  WaveDriver& operator=(const WaveDriver&) = delete;
  virtual ~WaveDriver() = default;

  virtual int NumDevices() = 0;
  // Opens device_id (kWaveMapper for the default) for format. With an empty done target the
  // device is opened only to read or set its volume.
  virtual int Open(int device_id, const WaveFormat& format, WaveDoneCallback done,
                   std::unique_ptr<WaveDevice>& device) = 0;
  // Volume of a device that is not open, by id.
  virtual int GetDeviceVolume(int device_id, uint32_t& volume) = 0;
  // The text for a result code of this driver; false when it has none.
  virtual bool ErrorText(int result, std::string& text) = 0;
};

// What a sound-system driver keeps for its devices, which have no volume of their own: the
// volumes by device id, and the texts of its failures by result code. Safe from any thread.
class WaveDriverMemory {
 public:
  // Full volume until one is stored.
  uint32_t StoredVolume(int device_id) const;
  void StoreVolume(int device_id, uint32_t volume);
  // Remembers text as the text of result and returns result.
  int Fail(int result, const std::string& text);
  // The remembered text of result, else the shared one; false when there is neither.
  bool KeptErrorText(int result, std::string& text) const;

 private:
  mutable std::mutex FMutex;
  std::map<int, uint32_t> FVolumes;
  std::map<int, std::string> FErrorTexts;
};

// A device opened without a done target, only to read or set the volume its driver keeps.
std::unique_ptr<WaveDevice> MakeVolumeOnlyWaveDevice(std::shared_ptr<WaveDriverMemory> driver, int device_id);

// Texts for the result codes every driver shares; false for other codes.
bool StandardWaveErrorText(int result, std::string& text);

// Scales 16-bit signed or 8-bit unsigned samples in place by a stereo volume word (mono takes
// the left word). data starts at a sample frame, so even samples are left, odd ones right.
void ApplyWaveVolume(uint8_t* data, size_t n, const WaveFormat& format, uint32_t volume);

}  // namespace plumo::platform
