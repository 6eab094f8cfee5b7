#include "pulse_wave_device.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "sdl_wave_device.h"

namespace plumo::platform {

namespace {

constexpr const char* kClientName = "PLUMO";
// How long a server may take to accept the connection or a stream before it counts as not
// answering.
constexpr pa_usec_t kAnswerTimeout = 5 * PA_USEC_PER_SEC;
// What the server keeps queued beyond its two requests, for the sink's own buffer.
constexpr uint64_t kSinkMs = 50;
// Between two timing updates while playing on (the position is reckoned on in between).
constexpr pa_usec_t kTimingInterval = 2 * PA_USEC_PER_SEC;
// Between two timing updates while the server has not yet begun playing a new stream.
constexpr pa_usec_t kStartCheckInterval = 100 * PA_USEC_PER_MSEC;

// One libpulse thread and a connection to the server; the thread stops and the connection goes
// with the object. Every call into libpulse from another thread holds Lock.
class PulseConnection {
 public:
  PulseConnection() : FLoop(pa_threaded_mainloop_new()) {}
  ~PulseConnection() {
    if (!FLoop) return;
    if (FStarted) {
      pa_threaded_mainloop_lock(FLoop);
      if (FContext) {
        pa_context_set_state_callback(FContext, nullptr, nullptr);
        pa_context_disconnect(FContext);
      }
      pa_threaded_mainloop_unlock(FLoop);
      pa_threaded_mainloop_stop(FLoop);
    }
    if (FContext) pa_context_unref(FContext);
    pa_threaded_mainloop_free(FLoop);
  }
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // Connects without starting a server; false with libpulse's text in error when the server
  // refuses or stays silent.
  bool Connect(std::string& error) {
    if (!FLoop) {
      error = pa_strerror(PA_ERR_INTERNAL);
      return false;
    }
    FContext = pa_context_new(pa_threaded_mainloop_get_api(FLoop), kClientName);
    if (!FContext) {
      error = pa_strerror(PA_ERR_INTERNAL);
      return false;
    }
    pa_context_set_state_callback(FContext, &PulseConnection::StateChanged, this);
    if (pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      error = pa_strerror(pa_context_errno(FContext));
      return false;
    }
    pa_threaded_mainloop_lock(FLoop);
    if (pa_threaded_mainloop_start(FLoop) < 0) {
      pa_threaded_mainloop_unlock(FLoop);
      error = pa_strerror(PA_ERR_INTERNAL);
      return false;
    }
    FStarted = true;
    pa_context_state_t state = pa_context_get_state(FContext);
    const bool answered = WaitLocked([&] {
      state = pa_context_get_state(FContext);
      return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    const bool ready = state == PA_CONTEXT_READY;
    if (!ready) error = pa_strerror(answered ? pa_context_errno(FContext) : PA_ERR_TIMEOUT);
    pa_threaded_mainloop_unlock(FLoop);
    return ready;
  }

  // With the lock held: waits for the libpulse thread's signals until done() or the server has
  // been silent too long (false).
  template <class F>
  bool WaitLocked(F done) {
    FTimedOut = false;
    pa_time_event* timer =
        pa_context_rttime_new(FContext, pa_rtclock_now() + kAnswerTimeout, &PulseConnection::TimedOut, this);
    bool result = done();
    while (!result && !FTimedOut) {
      pa_threaded_mainloop_wait(FLoop);
      result = done();
    }
    if (timer) pa_threaded_mainloop_get_api(FLoop)->time_free(timer);
    return result;
  }

  pa_threaded_mainloop* Loop() const { return FLoop; }
  pa_context* Context() const { return FContext; }
  // Called on the libpulse thread (locked) when a ready connection fails.
  void OnLost(std::function<void()> lost) { FLost = std::move(lost); }

 private:
  static void StateChanged(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) self->FReady = true;
    if (!PA_CONTEXT_IS_GOOD(state) && self->FReady && self->FLost) self->FLost();
    pa_threaded_mainloop_signal(self->FLoop, 0);
  }

  static void TimedOut(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    self->FTimedOut = true;
    pa_threaded_mainloop_signal(self->FLoop, 0);
  }

  pa_threaded_mainloop* const FLoop;
  pa_context* FContext = nullptr;
  bool FStarted = false;
  bool FReady = false;
  bool FTimedOut = false;
  std::function<void()> FLost;
};

// Holds the libpulse thread's lock for a scope.
class LoopLock {
 public:
  explicit LoopLock(pa_threaded_mainloop* loop) : FLoop(loop) { pa_threaded_mainloop_lock(FLoop); }
  ~LoopLock() { pa_threaded_mainloop_unlock(FLoop); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pa_threaded_mainloop* const FLoop;
};

// An open playback stream. Its queue holds every header not yet done: those whose sound the
// server has wholly, those partly written (at most one) and those still waiting. Everything
// below is guarded by the libpulse thread's lock.
class PulseWaveDevice final : public WaveDevice {
 public:
  PulseWaveDevice(std::shared_ptr<PulseWaveDriver> driver, int device_id, const WaveFormat& format,
                  WaveDoneCallback done)
      : FDriver(std::move(driver)),
        FDeviceId(device_id),
        FFormat(format),
        FDone(std::move(done)),
        FVolume(FDriver->StoredVolume(device_id)) {
    FFinished.reserve(8);
  }

  ~PulseWaveDevice() override { Disconnect(); }

  // Connects and opens the stream; false with libpulse's text in error.
  bool Start(std::string& error) {
    if (!FConnection.Connect(error)) return false;
    LoopLock lock(FConnection.Loop());
    FConnection.OnLost([this] { Lost(); });
    pa_sample_spec spec{};
    spec.format = FFormat.bits_per_sample == 16 ? PA_SAMPLE_S16LE : PA_SAMPLE_U8;
    spec.rate = static_cast<uint32_t>(FFormat.sample_rate);
    spec.channels = static_cast<uint8_t>(FFormat.channels);
    if (!pa_sample_spec_valid(&spec)) {
      error = pa_strerror(PA_ERR_NOTSUPPORTED);
      return false;
    }
    FStream = pa_stream_new(FConnection.Context(), kClientName, &spec, nullptr);
    if (!FStream) {
      error = pa_strerror(pa_context_errno(FConnection.Context()));
      return false;
    }
    pa_stream_set_state_callback(FStream, &PulseWaveDevice::StateChanged, this);
    pa_stream_set_write_callback(FStream, &PulseWaveDevice::Requested, this);
    pa_stream_set_underflow_callback(FStream, &PulseWaveDevice::RanDry, this);
    pa_stream_set_started_callback(FStream, &PulseWaveDevice::Started, this);
    // The player queues half-second buffers. The server asks for one such period at a time and
    // holds two of them plus the sink's share: one request, and so one wake-up, per period.
    // Playing starts with the first frame (a short file never fills two periods), and after an
    // underrun with the next.
    const uint32_t frame = static_cast<uint32_t>(FFormat.BlockAlign());
    const uint32_t period = static_cast<uint32_t>(FFormat.BytesPerSecond() / 2) / frame * frame;
    const uint32_t sink = static_cast<uint32_t>(FFormat.BytesPerSecond() * kSinkMs / 1000) / frame * frame;
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = 2 * period + 2 * sink;
    attr.prebuf = frame;
    attr.minreq = period;
    attr.fragsize = static_cast<uint32_t>(-1);
    // libpulse's automatic timing updates would ask the server after every write; the device
    // asks itself where the timing changes and otherwise every few seconds, and reckons on from
    // the last report (GetPosition).
    const auto flags = PA_STREAM_ADJUST_LATENCY;
    const pa_cvolume volume = ServerVolume();
    if (pa_stream_connect_playback(FStream, nullptr, &attr, flags, &volume, nullptr) < 0) {
      error = pa_strerror(pa_context_errno(FConnection.Context()));
      return false;
    }
    pa_stream_state_t state = pa_stream_get_state(FStream);
    const bool answered = FConnection.WaitLocked([&] {
      state = pa_stream_get_state(FStream);
      return state != PA_STREAM_CREATING;
    });
    if (!answered) {
      error = pa_strerror(PA_ERR_TIMEOUT);
      return false;
    }
    if (state != PA_STREAM_READY) {
      error = pa_strerror(pa_context_errno(FConnection.Context()));
      return false;
    }
    ReadBufferAttr();
    UpdateTiming();
    FReady = true;
    return true;
  }

  int Prepare(WaveHeader& header) override {
    LoopLock lock(FConnection.Loop());
    if (FClosed) return MMSYSERR_INVALHANDLE;
    if (header.flags.load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header.flags.store(header.flags.load() | WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }

  int Unprepare(WaveHeader& header) override {
    LoopLock lock(FConnection.Loop());
    if (FClosed) return MMSYSERR_INVALHANDLE;
    if (header.flags.load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header.flags.store(header.flags.load() & ~WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }

  int Write(WaveHeader& header) override {
    LoopLock lock(FConnection.Loop());
    if (FClosed) return MMSYSERR_INVALHANDLE;
    const uint32_t flags = header.flags.load();
    if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header.flags.store((flags & ~WHDR_DONE) | WHDR_INQUEUE);
    FQueue.push_back(&header);
    // Written at once only where the server has room (the start, after a reset or an
    // underrun); otherwise its next request takes it.
    Pump();
    return MMSYSERR_NOERROR;
  }

  int Pause() override {
    LoopLock lock(FConnection.Loop());
    if (FClosed) return MMSYSERR_INVALHANDLE;
    Cork(true);
    return MMSYSERR_NOERROR;
  }

  int Restart() override {
    LoopLock lock(FConnection.Loop());
    if (FClosed) return MMSYSERR_INVALHANDLE;
    Cork(false);
    return MMSYSERR_NOERROR;
  }

  int Reset() override {
    std::deque<WaveHeader*> returned;
    {
      LoopLock lock(FConnection.Loop());
      if (FClosed) return MMSYSERR_INVALHANDLE;
      if (!FLost && FWritten > 0) {
        if (pa_operation* op = pa_stream_flush(FStream, nullptr, nullptr)) pa_operation_unref(op);
        UpdateTiming();
      }
      FPosition = 0;
      FUnderrun = false;
      returned.swap(FQueue);
      FWriting = 0;
      FOffset = 0;
      FWritten = 0;
      FEnds.clear();
      for (WaveHeader* header : returned) {
        header->flags.store((header->flags.load() & ~WHDR_INQUEUE) | WHDR_DONE);
      }
    }
    for (WaveHeader* header : returned) FDone(header, MMSYSERR_NOERROR);
    return MMSYSERR_NOERROR;
  }

  int GetPosition(uint64_t& bytes) override {
    LoopLock lock(FConnection.Loop());
    if (FClosed) return MMSYSERR_INVALHANDLE;
    // Run dry, everything has been played; paused, the figure stands, and it never goes back
    // until a reset.
    uint64_t played = FPosition;
    if (FCorked || FLost) {
      played = FPosition;
    } else if (FUnderrun) {
      played = FWritten;
    } else if (const pa_timing_info* timing = pa_stream_get_timing_info(FStream);
               timing && !timing->read_index_corrupt && !timing->write_index_corrupt) {
      // The server's last report: how far it had read and how long its sink takes to sound
      // what it reads, moved on by the time since while it plays. The sound written since the
      // reset starts where the write index stood then. libpulse's own interpolation is not
      // used: it runs on before the server has begun playing a new stream and stops for a
      // while after a flush, and as its time never goes back it then stands still until the
      // sound has caught up.
      const bool playing = timing->playing != 0;
      const pa_usec_t age = playing ? pa_timeval_age(&timing->timestamp) : 0;
      const int64_t heard = timing->read_index - Bytes(timing->sink_usec) + Bytes(age);
      const int64_t start = timing->write_index - static_cast<int64_t>(FWritten);
      played = heard > start ? static_cast<uint64_t>(heard - start) : 0;
      // A stream the server has not begun playing is asked after often, so that its position
      // starts with the sound also where no start notice comes.
      if (pa_rtclock_now() - FLastTiming >= (playing ? kTimingInterval : kStartCheckInterval)) UpdateTiming();
    }
    FPosition = std::max(FPosition, std::min(played, FWritten));
    bytes = FPosition;
    return MMSYSERR_NOERROR;
  }

  int GetVolume(uint32_t& volume) override {
    LoopLock lock(FConnection.Loop());
    if (FClosed) return MMSYSERR_INVALHANDLE;
    volume = FVolume;
    return MMSYSERR_NOERROR;
  }

  int SetVolume(uint32_t volume) override {
    {
      LoopLock lock(FConnection.Loop());
      if (FClosed) return MMSYSERR_INVALHANDLE;
      FVolume = volume;
      if (!FLost) {
        const pa_cvolume server_volume = ServerVolume();
        if (pa_operation* op = pa_context_set_sink_input_volume(FConnection.Context(), pa_stream_get_index(FStream),
                                                                 &server_volume, nullptr, nullptr))
          pa_operation_unref(op);
      }
    }
    FDriver->StoreVolume(FDeviceId, volume);
    return MMSYSERR_NOERROR;
  }

  int Close() override {
    {
      LoopLock lock(FConnection.Loop());
      if (FClosed) return MMSYSERR_INVALHANDLE;
      if (!FQueue.empty()) return WAVERR_STILLPLAYING;
      FClosed = true;
    }
    Disconnect();
    return MMSYSERR_NOERROR;
  }

 private:
  // The stream goes before the connection; no callback comes afterwards.
  void Disconnect() {
    if (!FStream) return;
    {
      LoopLock lock(FConnection.Loop());
      FConnection.OnLost(nullptr);
      pa_stream_set_state_callback(FStream, nullptr, nullptr);
      pa_stream_set_write_callback(FStream, nullptr, nullptr);
      pa_stream_set_underflow_callback(FStream, nullptr, nullptr);
      pa_stream_set_started_callback(FStream, nullptr, nullptr);
      if (!FLost) pa_stream_disconnect(FStream);
      pa_stream_unref(FStream);
      FStream = nullptr;
      FQueue.clear();
    }
  }

  void Cork(bool cork) {
    FCorked = cork;
    if (FLost) return;
    if (pa_operation* op = pa_stream_cork(FStream, cork ? 1 : 0, nullptr, nullptr)) pa_operation_unref(op);
    UpdateTiming();
  }

  // Bytes of whole frames the stream plays in usec.
  int64_t Bytes(pa_usec_t usec) const {
    return static_cast<int64_t>(usec * static_cast<uint64_t>(FFormat.sample_rate) / PA_USEC_PER_SEC) *
           FFormat.BlockAlign();
  }

  // Asks the server for its read index and latencies (the answer comes on the libpulse thread).
  void UpdateTiming() {
    if (FLost) return;
    if (pa_operation* op = pa_stream_update_timing_info(FStream, nullptr, nullptr)) pa_operation_unref(op);
    FLastTiming = pa_rtclock_now();
  }

  // The volume is the stream's own on the server, which applies it as it mixes: a change is
  // heard at once, not after the second or so of sound the server already holds. Full volume
  // leaves the samples as they are.
  pa_cvolume ServerVolume() const {
    pa_cvolume volume;
    pa_cvolume_init(&volume);
    volume.channels = static_cast<uint8_t>(FFormat.channels);
    volume.values[0] = pa_sw_volume_from_linear((FVolume & 0xFFFF) / 65535.0);
    if (FFormat.channels == 2) volume.values[1] = pa_sw_volume_from_linear((FVolume >> 16) / 65535.0);
    return volume;
  }

  void ReadBufferAttr() {
    if (const pa_buffer_attr* attr = pa_stream_get_buffer_attr(FStream)) FTLength = attr->tlength;
  }

  // Returns the headers the server has taken wholly, then writes what it has room for. The
  // server keeps (tlength - writable) bytes queued, so everything written before that has gone
  // to the sink. Locked; done notifications go out from here on the calling thread.
  void Pump() {
    if (FLost || !FStream || pa_stream_get_state(FStream) != PA_STREAM_READY) return;
    size_t writable = pa_stream_writable_size(FStream);
    if (writable == static_cast<size_t>(-1)) return;
    const uint64_t held = FTLength > writable ? FTLength - writable : 0;
    const uint64_t taken = FWritten > held ? FWritten - held : 0;
    while (!FEnds.empty() && FEnds.front() <= taken) {
      WaveHeader* header = FQueue.front();
      FQueue.pop_front();
      FEnds.pop_front();
      --FWriting;
      header->flags.store((header->flags.load() & ~WHDR_INQUEUE) | WHDR_DONE);
      FFinished.push_back(header);
    }
    const size_t frame = static_cast<size_t>(FFormat.BlockAlign());
    while (FWriting < FQueue.size()) {
      WaveHeader* header = FQueue[FWriting];
      // A header's sound goes in whole frames; a broken last frame is left out.
      const size_t usable = header->length / frame * frame;
      size_t k = std::min(usable - FOffset, writable / frame * frame);
      if (k > 0) {
        void* target = nullptr;
        size_t room = k;
        if (pa_stream_begin_write(FStream, &target, &room) < 0 || !target) break;
        k = std::min(k, room / frame * frame);
        if (k == 0) {
          pa_stream_cancel_write(FStream);
          break;
        }
        std::memcpy(target, header->data + FOffset, k);
        if (pa_stream_write(FStream, target, k, nullptr, 0, PA_SEEK_RELATIVE) < 0) break;
        FOffset += k;
        FWritten += k;
        writable -= k;
        if (pa_rtclock_now() - FLastTiming >= kTimingInterval) UpdateTiming();
      }
      if (FOffset < usable) break;
      FEnds.push_back(FWritten);
      ++FWriting;
      FOffset = 0;
    }
    for (WaveHeader* header : FFinished) FDone(header, MMSYSERR_NOERROR);
    FFinished.clear();
  }

  // The server ended the connection or the stream. The queue is held from now on and the
  // failure is reported once.
  void Lost() {
    if (FClosed || FLost) return;
    FLost = true;
    // A stream that never became ready fails its Open instead.
    if (!FReady) return;
    const int error = pa_context_errno(FConnection.Context());
    FDone(nullptr, FDriver->Fail(MMSYSERR_NODRIVER, pa_strerror(error ? error : PA_ERR_CONNECTIONTERMINATED)));
  }

  static void StateChanged(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulseWaveDevice*>(userdata);
    if (pa_stream_get_state(stream) == PA_STREAM_FAILED) self->Lost();
    pa_threaded_mainloop_signal(self->FConnection.Loop(), 0);
  }

  static void Requested(pa_stream*, size_t, void* userdata) { static_cast<PulseWaveDevice*>(userdata)->Pump(); }
  static void RanDry(pa_stream*, void* userdata) { static_cast<PulseWaveDevice*>(userdata)->FUnderrun = true; }
  static void Started(pa_stream*, void* userdata) {
    auto* self = static_cast<PulseWaveDevice*>(userdata);
    self->FUnderrun = false;
    // A fresh report: the position runs on from where the server now reads.
    self->UpdateTiming();
  }

  const std::shared_ptr<PulseWaveDriver> FDriver;
  const int FDeviceId;
  const WaveFormat FFormat;
  const WaveDoneCallback FDone;
  PulseConnection FConnection;
  pa_stream* FStream = nullptr;
  uint32_t FVolume;
  uint64_t FTLength = 0;
  std::deque<WaveHeader*> FQueue;
  std::deque<uint64_t> FEnds;  // where each wholly written header ends, in bytes written
  size_t FWriting = 0;         // index in FQueue of the header being written
  size_t FOffset = 0;          // bytes of it written
  uint64_t FWritten = 0;       // bytes written since opening or the last reset
  uint64_t FPosition = 0;      // bytes played, as last told
  bool FCorked = false;
  pa_usec_t FLastTiming = 0;
  bool FUnderrun = false;  // the server ran out of sound to play
  bool FReady = false;
  bool FClosed = false;
  bool FLost = false;
  std::vector<WaveHeader*> FFinished;
};

}  // namespace

bool PulseWaveDriver::ServerAnswers(std::string* error) {
  PulseConnection connection;
  std::string text;
  const bool answers = connection.Connect(text);
  if (error) *error = text;
  return answers;
}

int PulseWaveDriver::NumDevices() { return ServerAnswers() ? 1 : 0; }

int PulseWaveDriver::Open(int device_id, const WaveFormat& format, WaveDoneCallback done,
                          std::unique_ptr<WaveDevice>& device) {
  device.reset();
  if (!format.Valid()) return WAVERR_BADFORMAT;
  if (device_id != kWaveMapper && device_id != 0) return MMSYSERR_BADDEVICEID;
  if (!done) {
    // Only the volume is wanted; without a server that fails like a real open would.
    std::string error;
    if (!ServerAnswers(&error)) return Fail(MMSYSERR_BADDEVICEID, error);
    device = MakeVolumeOnlyWaveDevice(shared_from_this(), device_id);
    return MMSYSERR_NOERROR;
  }
  auto opened = std::make_unique<PulseWaveDevice>(shared_from_this(), device_id, format, std::move(done));
  std::string error;
  if (!opened->Start(error)) return Fail(MMSYSERR_ERROR, error);
  device = std::move(opened);
  return MMSYSERR_NOERROR;
}

int PulseWaveDriver::GetDeviceVolume(int device_id, uint32_t& volume) {
  if (device_id != kWaveMapper && device_id != 0) return MMSYSERR_BADDEVICEID;
  volume = StoredVolume(device_id);
  return MMSYSERR_NOERROR;
}

bool PulseWaveDriver::ErrorText(int result, std::string& text) {
  return KeptErrorText(result, text);
}

std::shared_ptr<PulseWaveDriver> MakePulseWaveDriver() { return std::make_shared<PulseWaveDriver>(); }

std::shared_ptr<WaveDriver> MakeSoundWaveDriver() {
  if (PulseWaveDriver::ServerAnswers()) return MakePulseWaveDriver();
  return MakeSdlWaveDriver();
}

}  // namespace plumo::platform
