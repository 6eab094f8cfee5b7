#include "wave_device.h"

#include <cstring>

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
