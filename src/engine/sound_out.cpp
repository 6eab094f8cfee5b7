#include "sound_out.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>
#include <utility>

#include "assertion.h"
#include "thread.h"

namespace plumo {

namespace {

constexpr const char* kUnknownError = "unknown wave out API error.";
// Longest device text taken, as from a 128-byte text buffer.
constexpr size_t kMaxErrorText = 127;

// Cuts text to at most max bytes without splitting a UTF-8 sequence.
std::string Truncated(std::string text, size_t max) {
  if (text.size() <= max) return text;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

}  // namespace

TSoundOut::TSoundOut(std::shared_ptr<platform::WaveDriver> driver) : FDriver(std::move(driver)) {
  FVolume = GetWaveVolume();
  FOutputThread = std::make_unique<TMPLoopThread>(static_cast<TMPMessageOwner*>(this));
  FOutputThread->SetOnException([this](TMPLoopThread*, std::exception_ptr e, bool& handled) {
    TExceptionEvent handler;
    {
      std::lock_guard lock(FEventMutex);
      handler = FOnException;
    }
    if (handler) handler(this, std::move(e), handled);
  });
  FOutputThread->Start();
}

TSoundOut::~TSoundOut() {
  try {
    Close();
  } catch (...) {
    // Nothing can report it here; the device is released all the same.
  }
  FOutputThread.reset();
}

void TSoundOut::Check(int result, const char* location) {
  if (result == platform::MMSYSERR_NOERROR) return;
  std::string text;
  if (!FDriver->ErrorText(result, text) || text.empty()) text = kUnknownError;
  throw EWaveOutError(Truncated(std::move(text), kMaxErrorText) + "(" + location + ")", result);
}

int64_t TSoundOut::ComputeBufferSize(int32_t sample_rate, int32_t channels, int32_t bits) {
  const int64_t bytes_per_second =
      static_cast<int64_t>(channels) * (bits / 8) * static_cast<int64_t>(sample_rate);
  return ((bytes_per_second * 2000 / 1000 / 4) + 3) / 4 * 4;
}

int64_t TSoundOut::BufferSize() const {
  if (FOpened.load()) return static_cast<int64_t>(FBufferSize);
  return ComputeBufferSize(FSampleRate, FChannels, FBitsPerSample);
}

int32_t TSoundOut::TimeoutForInterval() const {
  const int32_t interval = FNotifyInterval.load();
  // 0 would make the output thread spin; a millisecond is as often as the clock can tell apart.
  return interval < 0 ? INFINITE : std::max(interval, 1);
}

void TSoundOut::Open() {
  if (FOpened.load()) return;
  FOpened.store(true);
  try {
    FLastDoneBytes = 0;
    FPaused = false;
    {
      TMPMutexLock lock(FFillLock);
      FIndex = 0;
      FFill = 0;
    }
    const int64_t size = ComputeBufferSize(FSampleRate, FChannels, FBitsPerSample);
    // A header's length is 32-bit; no real format comes near this.
    if (size <= 0 || size > std::numeric_limits<int32_t>::max()) {
      Check(platform::WAVERR_BADFORMAT, "TSoundOut.Open:WaveOutOpen");
    }
    platform::WaveFormat format;
    format.channels = FChannels;
    format.sample_rate = FSampleRate;
    format.bits_per_sample = FBitsPerSample;
    Check(FDriver->Open(FDeviceID, format,
                        [this](platform::WaveHeader* header, int error) { DeviceDone(header, error); },
                        FDevice),
          "TSoundOut.Open:WaveOutOpen");
    SetVolumeToWaveDevice();
    FBufferSize = static_cast<size_t>(size);
    for (int i = 0; i < kBufferCount; ++i) {
      FBuffers[i] = std::make_unique<uint8_t[]>(FBufferSize);
      FHeaders[i].data = FBuffers[i].get();
      FHeaders[i].length = static_cast<uint32_t>(FBufferSize);
      FHeaders[i].flags.store(0);
    }
    for (auto& header : FHeaders) Check(FDevice->Prepare(header), "TSoundOut.Open:WaveOutPreperHeader");
    FOutputThread->SetTimeout(TimeoutForInterval());
    {
      TMPMutexLock lock(FFillLock);
      FIndex = 0;
      FFill = 0;
      FQueued.store(0);
    }
    FLastNotifyTick.store(platform::TickCount());
    FAllDone.SetEvent();
  } catch (...) {
    try {
      Close();
    } catch (...) {
      // The open failure is the one to report.
    }
    throw;
  }
}

void TSoundOut::ReleaseDevice() {
  FDevice.reset();
  for (int i = 0; i < kBufferCount; ++i) {
    FHeaders[i].data = nullptr;
    FHeaders[i].length = 0;
    FHeaders[i].flags.store(0);
    FBuffers[i].reset();
  }
  FBufferSize = 0;
  {
    TMPMutexLock lock(FFillLock);
    FIndex = 0;
    FFill = 0;
  }
  FOpened.store(false);
}

void TSoundOut::Close() {
  if (!FOpened.load()) return;
  try {
    {
      TMPMutexLock lock(FWakeLock);
      FWakeEvent = nullptr;
    }
    if (FDevice) {
      FOutputThread->SetTimeout(INFINITE);
      if (FPaused) {
        // A paused device never plays its queue out: take the buffers back instead of waiting.
        Reset();
        FPaused = false;
      }
      Flush();
      WaitAllDone();
      for (auto& header : FHeaders) {
        int result = FDevice->Unprepare(header);
        while (result == platform::WAVERR_STILLPLAYING) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          result = FDevice->Unprepare(header);
        }
        Check(result, "TSoundOut.Close:WaveOutUnprepareHeader");
      }
      Check(FDevice->Close(), "TSoundOut.Close:WaveOutClose");
    }
  } catch (...) {
    ReleaseDevice();
    throw;
  }
  ReleaseDevice();
}

bool TSoundOut::CanWrite() {
  TMPMutexLock lock(FFillLock);
  return FOpened.load() && FQueued.load() < kBufferCount && FFill < FBufferSize;
}

int32_t TSoundOut::FreePercent() {
  if (!FOpened.load()) return 0;
  TMPMutexLock lock(FFillLock);
  if (FBufferSize == 0) return 0;
  const int64_t size = static_cast<int64_t>(FBufferSize);
  const int64_t free_bytes = (kBufferCount - FQueued.load()) * size - static_cast<int64_t>(FFill);
  return static_cast<int32_t>(free_bytes * 100 / (kBufferCount * size));
}

int32_t TSoundOut::Write(const void* bytes, int32_t n) {
  const auto* source = static_cast<const uint8_t*>(bytes);
  int32_t accepted = 0;
  while (n > 0 && CanWrite()) {
    bool full = false;
    {
      TMPMutexLock lock(FFillLock);
      const size_t k = std::min(FBufferSize - FFill, static_cast<size_t>(n));
      std::memcpy(FBuffers[FIndex].get() + FFill, source, k);
      FFill += k;
      full = FFill == FBufferSize;
      source += k;
      accepted += static_cast<int32_t>(k);
      n -= static_cast<int32_t>(k);
    }
    if (full) WaveWrite();
  }
  return accepted;
}

void TSoundOut::WaveWrite() {
  if (!FOpened.load() || !FDevice) return;
  int index = 0;
  {
    TMPMutexLock lock(FFillLock);
    const int32_t queued = FQueued.fetch_add(1) + 1;
    FAllDone.ResetEvent();
    index = FIndex;
    FHeaders[index].length = static_cast<uint32_t>(FFill);
    FFill = 0;
    Assert(queued <= kBufferCount, "no more than four buffers queued");
  }
  const int result = FDevice->Write(FHeaders[index]);
  if (result != platform::MMSYSERR_NOERROR) {
    // The device did not take the buffer, so it will never come back: count it out again, or
    // waiting for all buffers would never end. Its sound is lost; the buffer is used next.
    {
      TMPMutexLock lock(FFillLock);
      if (FQueued.fetch_sub(1) - 1 == 0) FAllDone.SetEvent();
    }
    Check(result, "TSoundOut.WaveWrite");
  }
  TMPMutexLock lock(FFillLock);
  FIndex = (index + 1) % kBufferCount;
}

void TSoundOut::Flush() {
  if (!FOpened.load()) return;
  bool pending = false;
  {
    TMPMutexLock lock(FFillLock);
    pending = FFill > 0;
  }
  if (!pending) return;
  WaveWrite();
  FOutputThread->Sync();
}

void TSoundOut::WaitAllDone() { FOutputThread->WaitForEventOrEnd(FAllDone); }

void TSoundOut::Reset() {
  if (!FOpened.load()) return;
  {
    TMPMutexLock lock(FFillLock);
    FFill = 0;
  }
  if (FDevice) Check(FDevice->Reset(), "TSoundOut.Reset");
  FLastDoneBytes = 0;
}

void TSoundOut::Pause() {
  if (!FOpened.load() || !FDevice) return;
  Check(FDevice->Pause(), "TSoundOut.Pause");
  FPaused = true;
}

void TSoundOut::Unpause() {
  if (!FOpened.load() || !FDevice) return;
  Check(FDevice->Restart(), "TSoundOut.Unpause");
  FPaused = false;
}

void TSoundOut::SetWakeEvent(TMPEvent* event) {
  {
    TMPMutexLock lock(FWakeLock);
    FWakeEvent = event;
  }
  NotifyIfRoom();
}

int64_t TSoundOut::GetDoneBytes() {
  if (!FOpened.load() || !FDevice) return 0;
  uint64_t position = 0;
  Check(FDevice->GetPosition(position), "TSoundOut.GetDoneBytes");
  // The device starts again at 0 after a reset.
  const uint64_t grown = position >= FLastDoneBytes ? position - FLastDoneBytes : position;
  FLastDoneBytes = position;
  return static_cast<int64_t>(grown);
}

void TSoundOut::SetVolume(int32_t value) {
  if (value < 0 || value > 100) return;
  FVolume = value;
  if (FOpened.load()) SetVolumeToWaveDevice();
}

void TSoundOut::SetBalance(int32_t value) {
  if (value < -100 || value > 100) return;
  FBalance = value;
  if (FOpened.load()) SetVolumeToWaveDevice();
}

void TSoundOut::RefreshVolume() { FVolume = GetWaveVolume(); }

void TSoundOut::SetVolumeToWaveDevice() {
  if (!FDevice) return;
  const uint32_t base = (static_cast<uint32_t>(FVolume) * 65535 + 50) / 100;
  uint32_t left = base;
  uint32_t right = base;
  if (FBalance < 0) {
    right = (base * static_cast<uint32_t>(100 + FBalance) + 50) / 100;
  } else if (FBalance > 0) {
    left = (base * static_cast<uint32_t>(100 - FBalance) + 50) / 100;
  }
  const int result = FDevice->SetVolume((left & 0xFFFF) | (right << 16));
  if (result == platform::MMSYSERR_NOTSUPPORTED) return;
  Check(result, "TSoundOut.SetVolumeToWaveDevice");
}

int32_t TSoundOut::GetWaveVolume() {
  try {
    constexpr const char* kLocation = "TSoundOut.GetWaveVolume";
    uint32_t volume = 0;
    platform::WaveFormat format;
    format.channels = FChannels;
    format.sample_rate = FSampleRate;
    format.bits_per_sample = FBitsPerSample;
    std::unique_ptr<platform::WaveDevice> device;
    if (FDriver->Open(FDeviceID, format, nullptr, device) == platform::MMSYSERR_NOERROR) {
      const int result = device->GetVolume(volume);
      device->Close();
      Check(result, kLocation);
    } else if (FDriver->NumDevices() > 0) {
      Check(FDriver->GetDeviceVolume(0, volume), kLocation);
    } else {
      return 100;
    }
    const uint32_t loudest = std::max(volume & 0xFFFF, volume >> 16);
    return static_cast<int32_t>((loudest * 100 + 32767) / 65535);
  } catch (...) {
    return 100;
  }
}

void TSoundOut::SetSampleRate(int32_t value) {
  if (value > 0) FSampleRate = value;
}

void TSoundOut::SetChannels(int32_t value) {
  if (value == 1 || value == 2) FChannels = value;
}

void TSoundOut::SetBitsPerSample(int32_t value) {
  if (value == 8 || value == 16) FBitsPerSample = value;
}

void TSoundOut::SetOnException(TExceptionEvent handler) {
  std::lock_guard lock(FEventMutex);
  FOnException = std::move(handler);
}

void TSoundOut::SetOnPosition(TNotifyEvent handler) {
  std::lock_guard lock(FEventMutex);
  FOnPosition = std::move(handler);
}

// Device thread: hand the notification to the output thread.
void TSoundOut::DeviceDone(platform::WaveHeader* header, int error) {
  FOutputThread->Post(platform::MM_WOM_DONE, static_cast<uintptr_t>(error),
                      reinterpret_cast<intptr_t>(header));
}

// Output thread.
void TSoundOut::Dispatch(TMessage& msg) {
  switch (msg.code) {
    case platform::MM_WOM_DONE:
      if (msg.lParam != 0) {
        BufferDone();
      } else if (msg.wParam != 0) {
        // The device failed in the middle of playback.
        Check(static_cast<int>(msg.wParam), "TSoundOut.WaveOutDone");
      }
      break;
    case MPM_TIMEOUT:
      NotifyPosition();
      break;
    default:
      break;
  }
}

void TSoundOut::BufferDone() {
  {
    // Under the fill lock, so that a buffer queued meanwhile cannot find the all-done event
    // signalled after it was reset.
    TMPMutexLock lock(FFillLock);
    const int32_t queued = FQueued.fetch_sub(1) - 1;
    if (queued > 0) {
      FOutputThread->SetTimeout(TimeoutForInterval());
    } else {
      FAllDone.SetEvent();
      FOutputThread->SetTimeout(INFINITE);
    }
    if (queued < 0) FQueued.store(0);
    Assert(queued >= 0, "queued buffer count not below zero");
  }
  NotifyIfRoom();
  NotifyPosition();
}

void TSoundOut::NotifyIfRoom() {
  TMPMutexLock lock(FWakeLock);
  if (FWakeEvent != nullptr && CanWrite()) {
    FWakeEvent->SetEvent();
    FWakeEvent = nullptr;
  }
}

void TSoundOut::NotifyPosition() {
  const int32_t interval = FNotifyInterval.load();
  if (interval == -1) return;
  TNotifyEvent handler;
  {
    std::lock_guard lock(FEventMutex);
    handler = FOnPosition;
  }
  if (!handler) return;
  const uint32_t now = platform::TickCount();
  if (now - FLastNotifyTick.load() > static_cast<uint32_t>(interval)) {
    FLastNotifyTick.store(now);
    handler(this);
  }
}

}  // namespace plumo
