#include "sdl_wave_device.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

namespace plumo::platform {

namespace {

// Text of a lost device when SDL gives none.
constexpr const char* kDeviceRemoved = "SDL audio device removed";

// Frames per callback: a power of two of at most 0.2 s. SDL then wakes five times a second
// instead of twenty, and the sound server gets large writes.
Uint16 PeriodFrames(int sample_rate) {
  int frames = 256;
  while (frames < 8192 && static_cast<int64_t>(frames) * 2 * 5 <= sample_rate) frames *= 2;
  return static_cast<Uint16>(frames);
}

// An SDL device that plays the queued buffers from SDL's audio thread.
class SdlWaveDevice final : public WaveDevice {
 public:
  SdlWaveDevice(std::shared_ptr<SdlWaveDriver> driver, int device_id, const WaveFormat& format,
                WaveDoneCallback done)
      : FDriver(std::move(driver)),
        FDeviceId(device_id),
        FFormat(format),
        FDone(std::move(done)),
        FVolume(FDriver->StoredVolume(device_id)) {
    FFinished.reserve(16);
  }

  ~SdlWaveDevice() override {
    if (FDevice != 0) {
      {
        std::lock_guard lock(FMutex);
        FQueue.clear();
      }
      FDriver->Unwatch(FDevice);
      SDL_CloseAudioDevice(FDevice);
    }
  }

  // Opens the SDL device; on failure returns false with SDL's message in error.
  bool Start(const char* name, std::string& error) {
    SDL_AudioSpec want{};
    want.freq = FFormat.sample_rate;
    want.format = FFormat.bits_per_sample == 16 ? AUDIO_S16LSB : AUDIO_U8;
    want.channels = static_cast<Uint8>(FFormat.channels);
    want.samples = PeriodFrames(FFormat.sample_rate);
    want.callback = &SdlWaveDevice::Callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to what the hardware takes.
    FDevice = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (FDevice == 0) {
      error = SDL_GetError();
      return false;
    }
    FSilence = have.silence;
    FPeriod = std::chrono::microseconds(int64_t{have.samples} * 1000000 / std::max(have.freq, 1));
    FDriver->Watch(FDevice, [this](const std::string& text) { Lost(text); });
    SDL_PauseAudioDevice(FDevice, 0);
    return true;
  }

  // The sound server went away (SDL's device-removed event, on one of SDL's threads). SDL goes
  // on calling back in silence; the queue is held from now on and the failure is reported once.
  void Lost(const std::string& text) {
    {
      std::lock_guard lock(FMutex);
      if (FClosed || FLost) return;
      FLost = true;
    }
    FSent.notify_all();
    FDone(nullptr, FDriver->Fail(MMSYSERR_NODRIVER, text));
  }

  int Prepare(WaveHeader& header) override {
    std::lock_guard lock(FMutex);
    if (FClosed) return MMSYSERR_INVALHANDLE;
    if (header.flags.load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header.flags.store(header.flags.load() | WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }

  int Unprepare(WaveHeader& header) override {
    std::lock_guard lock(FMutex);
    if (FClosed) return MMSYSERR_INVALHANDLE;
    if (header.flags.load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header.flags.store(header.flags.load() & ~WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }

  int Write(WaveHeader& header) override {
    std::lock_guard lock(FMutex);
    if (FClosed) return MMSYSERR_INVALHANDLE;
    const uint32_t flags = header.flags.load();
    if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header.flags.store((flags & ~WHDR_DONE) | WHDR_INQUEUE);
    FQueue.push_back(&header);
    return MMSYSERR_NOERROR;
  }

  int Pause() override {
    {
      std::lock_guard lock(FMutex);
      if (FClosed) return MMSYSERR_INVALHANDLE;
      FPaused = true;
    }
    SDL_PauseAudioDevice(FDevice, 1);
    return MMSYSERR_NOERROR;
  }

  int Restart() override {
    {
      std::lock_guard lock(FMutex);
      if (FClosed) return MMSYSERR_INVALHANDLE;
      FPaused = false;
    }
    SDL_PauseAudioDevice(FDevice, 0);
    return MMSYSERR_NOERROR;
  }

  int Reset() override {
    std::deque<WaveHeader*> returned;
    {
      std::lock_guard lock(FMutex);
      if (FClosed) return MMSYSERR_INVALHANDLE;
      returned.swap(FQueue);
      // Sound taken back is meant to be dropped, and with it what SDL still holds.
      if (!returned.empty()) FUnsent = false;
      FOffset = 0;
      FPosition = 0;
      for (WaveHeader* header : returned) {
        header->flags.store((header->flags.load() & ~WHDR_INQUEUE) | WHDR_DONE);
      }
    }
    for (WaveHeader* header : returned) FDone(header, MMSYSERR_NOERROR);
    return MMSYSERR_NOERROR;
  }

  int GetPosition(uint64_t& bytes) override {
    std::lock_guard lock(FMutex);
    if (FClosed) return MMSYSERR_INVALHANDLE;
    bytes = FPosition;
    return MMSYSERR_NOERROR;
  }

  int GetVolume(uint32_t& volume) override {
    if (Closed()) return MMSYSERR_INVALHANDLE;
    volume = FVolume.load();
    return MMSYSERR_NOERROR;
  }

  int SetVolume(uint32_t volume) override {
    if (Closed()) return MMSYSERR_INVALHANDLE;
    FVolume.store(volume);
    FDriver->StoreVolume(FDeviceId, volume);
    return MMSYSERR_NOERROR;
  }

  int Close() override {
    {
      std::unique_lock lock(FMutex);
      if (FClosed) return MMSYSERR_INVALHANDLE;
      if (!FQueue.empty()) return WAVERR_STILLPLAYING;
      // A buffer is done once copied into SDL's own; closed before SDL has passed that on, its
      // end would be lost. The callback runs on in silence, and its next call comes only once
      // SDL has handed the last sound to the server (paused or lost it does not run; a few
      // periods bound the wait). SDL's close itself then waits two periods with the server's
      // stream still open, so what the server holds is played out.
      FSent.wait_for(lock, FPeriod * 3, [this] { return !FUnsent || FPaused || FLost; });
      FClosed = true;
    }
    FDriver->Unwatch(FDevice);
    // Waits for a callback in progress; none comes afterwards.
    SDL_CloseAudioDevice(FDevice);
    FDevice = 0;
    return MMSYSERR_NOERROR;
  }

 private:
  bool Closed() {
    std::lock_guard lock(FMutex);
    return FClosed;
  }

  static void SDLCALL Callback(void* userdata, Uint8* stream, int len) {
    static_cast<SdlWaveDevice*>(userdata)->Fill(stream, static_cast<size_t>(len));
  }

  // SDL's audio thread: copies queued sound into stream, silence where the queue runs dry.
  void Fill(uint8_t* stream, size_t len) {
    size_t filled = 0;
    bool sent = false;
    {
      std::lock_guard lock(FMutex);
      while (!FClosed && !FLost && filled < len && !FQueue.empty()) {
        WaveHeader* header = FQueue.front();
        const size_t remaining = header->length > FOffset ? header->length - FOffset : 0;
        const size_t k = std::min(remaining, len - filled);
        if (k > 0) std::memcpy(stream + filled, header->data + FOffset, k);
        filled += k;
        FOffset += k;
        FPosition += k;
        if (FOffset >= header->length) {
          FQueue.pop_front();
          FOffset = 0;
          header->flags.store((header->flags.load() & ~WHDR_INQUEUE) | WHDR_DONE);
          FFinished.push_back(header);
        }
      }
      // SDL calls back only after it has handed what the last call filled to the server.
      sent = FUnsent && filled == 0;
      FUnsent = filled > 0;
    }
    if (sent) FSent.notify_all();
    ApplyWaveVolume(stream, filled, FFormat, FVolume.load());
    if (filled < len) std::memset(stream + filled, FSilence, len - filled);
    for (WaveHeader* header : FFinished) FDone(header, MMSYSERR_NOERROR);
    FFinished.clear();
  }

  const std::shared_ptr<SdlWaveDriver> FDriver;
  const int FDeviceId;
  const WaveFormat FFormat;
  const WaveDoneCallback FDone;
  std::atomic<uint32_t> FVolume;
  SDL_AudioDeviceID FDevice = 0;
  uint8_t FSilence = 0;
  std::chrono::microseconds FPeriod{0};

  std::mutex FMutex;
  std::deque<WaveHeader*> FQueue;
  size_t FOffset = 0;
  uint64_t FPosition = 0;
  bool FClosed = false;
  bool FLost = false;
  bool FPaused = false;
  // The last callback copied sound, which SDL may not yet have handed to the sound server.
  bool FUnsent = false;
  std::condition_variable FSent;
  std::vector<WaveHeader*> FFinished;  // touched by SDL's audio thread only
};

}  // namespace

SdlWaveDriver::SdlWaveDriver() {
  FInitialized = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  if (!FInitialized) FInitError = SDL_GetError();
  if (FInitialized) SDL_AddEventWatch(&SdlWaveDriver::EventWatch, this);
}

SdlWaveDriver::~SdlWaveDriver() {
  if (!FInitialized) return;
  SDL_DelEventWatch(&SdlWaveDriver::EventWatch, this);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

int SDLCALL SdlWaveDriver::EventWatch(void* userdata, SDL_Event* event) {
  if (event->type == SDL_AUDIODEVICEREMOVED && event->adevice.iscapture == 0) {
    const char* error = SDL_GetError();
    static_cast<SdlWaveDriver*>(userdata)->DeviceRemoved(event->adevice.which,
                                                         error && *error ? error : kDeviceRemoved);
  }
  return 0;
}

void SdlWaveDriver::Watch(uint32_t sdl_device, std::function<void(const std::string&)> lost) {
  std::lock_guard lock(FWatchMutex);
  FWatched[sdl_device] = std::move(lost);
}

void SdlWaveDriver::Unwatch(uint32_t sdl_device) {
  std::lock_guard lock(FWatchMutex);
  FWatched.erase(sdl_device);
}

void SdlWaveDriver::DeviceRemoved(uint32_t sdl_device, const std::string& text) {
  // Under the lock: a device unwatches itself before it goes, so it is alive while called.
  std::lock_guard lock(FWatchMutex);
  if (const auto it = FWatched.find(sdl_device); it != FWatched.end()) it->second(text);
}

int SdlWaveDriver::NumDevices() {
  if (!FInitialized) return 0;
  const int n = SDL_GetNumAudioDevices(0);
  // -1: SDL cannot list the devices, yet the default one may still open.
  return n < 0 ? 1 : n;
}

bool SdlWaveDriver::ValidId(int device_id) {
  return device_id == kWaveMapper || (device_id >= 0 && device_id < NumDevices());
}

int SdlWaveDriver::Open(int device_id, const WaveFormat& format, WaveDoneCallback done,
                        std::unique_ptr<WaveDevice>& device) {
  device.reset();
  if (!FInitialized) return Fail(MMSYSERR_NODRIVER, FInitError);
  if (!format.Valid()) return WAVERR_BADFORMAT;
  if (!ValidId(device_id)) {
    if (NumDevices() == 0) return Fail(MMSYSERR_BADDEVICEID, "no audio output device was found");
    return MMSYSERR_BADDEVICEID;
  }
  if (!done) {
    // Only the volume is wanted. Without any device that fails like a real open would.
    if (NumDevices() == 0) return Fail(MMSYSERR_BADDEVICEID, "no audio output device was found");
    device = MakeVolumeOnlyWaveDevice(shared_from_this(), device_id);
    return MMSYSERR_NOERROR;
  }
  // SDL queues an event for every device it finds or loses; nothing here reads them.
  SDL_FlushEvents(SDL_AUDIODEVICEADDED, SDL_AUDIODEVICEREMOVED);
  std::string name;
  if (device_id >= 0) {
    const char* found = SDL_GetAudioDeviceName(device_id, 0);
    if (found) name = found;
  }
  auto opened = std::make_unique<SdlWaveDevice>(shared_from_this(), device_id, format, std::move(done));
  std::string error;
  if (!opened->Start(name.empty() ? nullptr : name.c_str(), error)) {
    return Fail(MMSYSERR_ERROR, error);
  }
  device = std::move(opened);
  return MMSYSERR_NOERROR;
}

int SdlWaveDriver::GetDeviceVolume(int device_id, uint32_t& volume) {
  if (!FInitialized) return Fail(MMSYSERR_NODRIVER, FInitError);
  if (!ValidId(device_id)) return MMSYSERR_BADDEVICEID;
  volume = StoredVolume(device_id);
  return MMSYSERR_NOERROR;
}

bool SdlWaveDriver::ErrorText(int result, std::string& text) {
  return KeptErrorText(result, text);
}

std::shared_ptr<SdlWaveDriver> MakeSdlWaveDriver() { return std::make_shared<SdlWaveDriver>(); }

}  // namespace plumo::platform
