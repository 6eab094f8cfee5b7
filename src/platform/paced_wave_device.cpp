#include "paced_wave_device.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "event.h"
#include "thread.h"

namespace plumo::platform {

namespace {

size_t StepBytes(const WaveFormat& format) {
  const size_t block = static_cast<size_t>(std::max(1, format.BlockAlign()));
  const size_t per_10ms = static_cast<size_t>(format.BytesPerSecond() / 100);
  return std::max(block, per_10ms / block * block);
}

}  // namespace

PacedWaveDevice::PacedWaveDevice(const WaveFormat& format, WaveDoneCallback done, bool real_time,
                                 std::unique_ptr<PacedSink> sink)
    : FFormat(format),
      FDone(std::move(done)),
      FRealTime(real_time),
      FSink(std::move(sink)),
      FStep(StepBytes(format)) {
  if (FDone) FThread = std::thread([this] { Run(); });
}

PacedWaveDevice::~PacedWaveDevice() {
  StopThread();
  bool closed = false;
  {
    std::lock_guard lock(FMutex);
    closed = FClosed;
    FClosed = true;
  }
  if (!closed) FSink->Close();
}

void PacedWaveDevice::StopThread() {
  {
    std::lock_guard lock(FMutex);
    FStop = true;
    ++FGeneration;
  }
  FCond.notify_all();
  if (FThread.joinable()) FThread.join();
}

void PacedWaveDevice::Notify(std::unique_lock<std::mutex>& lock, WaveHeader* header, int error) {
  lock.unlock();
  FDone(header, error);
  lock.lock();
}

void PacedWaveDevice::Run() {
  SetCurrentThreadName("plumo-wave");
  using namespace std::chrono;
  const double ns_per_byte = 1e9 / static_cast<double>(FFormat.BytesPerSecond());
  std::unique_lock lock(FMutex);
  Clock::time_point due = Clock::now();
  bool idle = true;
  while (!FStop) {
    if (FPaused || FQueue.empty()) {
      idle = true;
      FCond.wait(lock);
      continue;
    }
    if (idle) {
      due = Clock::now();
      idle = false;
    }
    WaveHeader* header = FQueue.front();
    const size_t remaining = header->length > FOffset ? header->length - FOffset : 0;
    const size_t chunk = FRealTime ? std::min(remaining, FStep) : remaining;
    if (FRealTime && chunk > 0) {
      // Sound leaves at the format's rate: the chunk counts as played once its time has passed.
      due += duration_cast<Clock::duration>(nanoseconds(static_cast<int64_t>(chunk * ns_per_byte)));
      const uint64_t generation = FGeneration;
      if (FCond.wait_until(lock, due, [&] { return FStop || FGeneration != generation; })) {
        idle = true;  // paused, reset or closing: the chunk was not played
        continue;
      }
      // Far behind (a loaded machine): take up the pace from now instead of rushing.
      if (Clock::now() - due > milliseconds(100)) due = Clock::now();
    }
    const int failure = chunk > 0 ? FSink->Played(header->data + FOffset, chunk) : 0;
    FOffset += chunk;
    FPosition += chunk;
    WaveHeader* finished = nullptr;
    if (FOffset >= header->length) {
      FQueue.pop_front();
      FOffset = 0;
      header->flags.store((header->flags.load() & ~WHDR_INQUEUE) | WHDR_DONE);
      finished = header;
      FSink->Finished();
    }
    if (failure != 0 && !FFailureReported) {
      FFailureReported = true;
      Notify(lock, nullptr, failure);
    }
    if (finished) Notify(lock, finished, 0);
  }
}

int PacedWaveDevice::Prepare(WaveHeader& header) {
  std::lock_guard lock(FMutex);
  if (FClosed) return MMSYSERR_INVALHANDLE;
  if (header.flags.load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header.flags.store(header.flags.load() | WHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

int PacedWaveDevice::Unprepare(WaveHeader& header) {
  std::lock_guard lock(FMutex);
  if (FClosed) return MMSYSERR_INVALHANDLE;
  if (header.flags.load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header.flags.store(header.flags.load() & ~WHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

int PacedWaveDevice::Write(WaveHeader& header) {
  std::unique_lock lock(FMutex);
  if (FClosed) return MMSYSERR_INVALHANDLE;
  if (!FDone) return MMSYSERR_NOTSUPPORTED;
  const uint32_t flags = header.flags.load();
  if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  if (const int refused = FSink->BeforeWrite(); refused != 0) return refused;
  header.flags.store((flags & ~WHDR_DONE) | WHDR_INQUEUE);
  FQueue.push_back(&header);
  lock.unlock();
  FCond.notify_all();
  return MMSYSERR_NOERROR;
}

int PacedWaveDevice::Pause() {
  std::unique_lock lock(FMutex);
  if (FClosed) return MMSYSERR_INVALHANDLE;
  if (const int refused = FSink->BeforePause(); refused != 0) return refused;
  FPaused = true;
  ++FGeneration;
  lock.unlock();
  FCond.notify_all();
  return MMSYSERR_NOERROR;
}

int PacedWaveDevice::Restart() {
  std::unique_lock lock(FMutex);
  if (FClosed) return MMSYSERR_INVALHANDLE;
  if (const int refused = FSink->BeforeRestart(); refused != 0) return refused;
  FPaused = false;
  lock.unlock();
  FCond.notify_all();
  return MMSYSERR_NOERROR;
}

int PacedWaveDevice::Reset() {
  std::unique_lock lock(FMutex);
  if (FClosed) return MMSYSERR_INVALHANDLE;
  std::deque<WaveHeader*> returned;
  returned.swap(FQueue);
  FSink->Reset();
  FOffset = 0;
  FPosition = 0;
  ++FGeneration;
  for (WaveHeader* header : returned) {
    header->flags.store((header->flags.load() & ~WHDR_INQUEUE) | WHDR_DONE);
  }
  lock.unlock();
  FCond.notify_all();
  for (WaveHeader* header : returned) FDone(header, MMSYSERR_NOERROR);
  return MMSYSERR_NOERROR;
}

int PacedWaveDevice::GetPosition(uint64_t& bytes) {
  std::lock_guard lock(FMutex);
  if (FClosed) return MMSYSERR_INVALHANDLE;
  bytes = FPosition;
  return MMSYSERR_NOERROR;
}

int PacedWaveDevice::GetVolume(uint32_t& volume) {
  std::lock_guard lock(FMutex);
  if (FClosed) return MMSYSERR_INVALHANDLE;
  return FSink->GetVolume(volume);
}

int PacedWaveDevice::SetVolume(uint32_t volume) {
  std::lock_guard lock(FMutex);
  if (FClosed) return MMSYSERR_INVALHANDLE;
  return FSink->SetVolume(volume);
}

int PacedWaveDevice::Close() {
  {
    std::lock_guard lock(FMutex);
    if (FClosed) return MMSYSERR_INVALHANDLE;
    if (!FQueue.empty()) return WAVERR_STILLPLAYING;
  }
  StopThread();
  std::lock_guard lock(FMutex);
  FClosed = true;
  return FSink->Close();
}

}  // namespace plumo::platform
