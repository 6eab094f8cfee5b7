// The wave devices: queueing and done notifications, pause, reset, position, volume, the
// simulated device's faults, the WAV recording, SDL with and without an audio device, and the
// real sound devices (PulseAudio's own and SDL's) on a PulseAudio server of the test's own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "event.h"
#include "pulse_server.h"
#include "pulse_wave_device.h"
#include "sdl_wave_device.h"
#include "simulated_wave_device.h"
#include "wav_file_wave_device.h"
#include "wave_device.h"

namespace plumo::platform {
namespace {

constexpr int32_t kHangGuardMs = 30000;

// Collects done notifications and lets a test wait for a number of them.
class DoneLog {
 public:
  WaveDoneCallback Callback() {
    return [this](WaveHeader* header, int error) {
      std::lock_guard lock(FMutex);
      if (header) {
        // Marked done before the notification.
        EXPECT_TRUE(header->flags.load() & WHDR_DONE);
        EXPECT_FALSE(header->flags.load() & WHDR_INQUEUE);
        FHeaders.push_back(header);
      }
      if (error) FErrors.push_back(error);
      FChanged.Set();
    };
  }

  // Waits until at least n buffers came back; false after the hang guard.
  bool WaitBuffers(size_t n) {
    for (;;) {
      {
        std::lock_guard lock(FMutex);
        if (FHeaders.size() >= n) return true;
        FChanged.Reset();
      }
      if (!FChanged.Wait(kHangGuardMs)) return false;
    }
  }

  bool WaitError() {
    for (;;) {
      {
        std::lock_guard lock(FMutex);
        if (!FErrors.empty()) return true;
        FChanged.Reset();
      }
      if (!FChanged.Wait(kHangGuardMs)) return false;
    }
  }

  std::vector<WaveHeader*> Headers() {
    std::lock_guard lock(FMutex);
    return FHeaders;
  }
  std::vector<int> Errors() {
    std::lock_guard lock(FMutex);
    return FErrors;
  }

 private:
  std::mutex FMutex;
  Event FChanged;
  std::vector<WaveHeader*> FHeaders;
  std::vector<int> FErrors;
};

// A buffer and its header.
struct Buffer {
  explicit Buffer(size_t n, uint8_t seed = 0) : bytes(n) {
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13);
    header.data = bytes.data();
    header.length = static_cast<uint32_t>(n);
  }
  std::vector<uint8_t> bytes;
  WaveHeader header;
};

WaveFormat Format(int channels, int rate, int bits) {
  WaveFormat f;
  f.channels = channels;
  f.sample_rate = rate;
  f.bits_per_sample = bits;
  return f;
}

std::unique_ptr<WaveDevice> OpenOk(WaveDriver& driver, const WaveFormat& format, DoneLog& log) {
  std::unique_ptr<WaveDevice> device;
  EXPECT_EQ(driver.Open(kWaveMapper, format, log.Callback(), device), MMSYSERR_NOERROR);
  return device;
}

TEST(SimulatedWaveDeviceTest, PlaysBuffersInOrderAndCountsTheirBytes) {
  auto driver = MakeSimulatedWaveDriver({.real_time = false});
  DoneLog log;
  auto device = OpenOk(*driver, Format(2, 44100, 16), log);
  ASSERT_TRUE(device);
  Buffer a(1000), b(3000), c(0);
  for (Buffer* buf : {&a, &b, &c}) {
    ASSERT_EQ(device->Prepare(buf->header), MMSYSERR_NOERROR);
    ASSERT_EQ(device->Write(buf->header), MMSYSERR_NOERROR);
  }
  ASSERT_TRUE(log.WaitBuffers(3));
  EXPECT_EQ(log.Headers(), (std::vector<WaveHeader*>{&a.header, &b.header, &c.header}));
  uint64_t position = 0;
  EXPECT_EQ(device->GetPosition(position), MMSYSERR_NOERROR);
  EXPECT_EQ(position, 4000u);
  const auto stats = driver->Stats();
  EXPECT_EQ(stats.bytes_played, 4000u);
  EXPECT_EQ(stats.buffers_written, 3u);
  EXPECT_EQ(stats.buffers_played, 3u);
  EXPECT_EQ(stats.open_devices, 1);
  for (Buffer* buf : {&a, &b, &c}) EXPECT_EQ(device->Unprepare(buf->header), MMSYSERR_NOERROR);
  EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
  EXPECT_EQ(driver->Stats().open_devices, 0);
  EXPECT_EQ(device->Close(), MMSYSERR_INVALHANDLE);
}

TEST(SimulatedWaveDeviceTest, HeadersMustBePreparedAndCannotBeUnpreparedWhileQueued) {
  auto driver = MakeSimulatedWaveDriver({.real_time = false});
  DoneLog log;
  auto device = OpenOk(*driver, Format(1, 8000, 8), log);
  Buffer a(100);
  EXPECT_EQ(device->Write(a.header), WAVERR_UNPREPARED);
  ASSERT_EQ(device->Pause(), MMSYSERR_NOERROR);
  ASSERT_EQ(device->Prepare(a.header), MMSYSERR_NOERROR);
  ASSERT_EQ(device->Write(a.header), MMSYSERR_NOERROR);
  EXPECT_EQ(device->Write(a.header), WAVERR_STILLPLAYING);
  EXPECT_EQ(device->Unprepare(a.header), WAVERR_STILLPLAYING);
  EXPECT_EQ(device->Close(), WAVERR_STILLPLAYING);
  ASSERT_EQ(device->Restart(), MMSYSERR_NOERROR);
  ASSERT_TRUE(log.WaitBuffers(1));
  EXPECT_EQ(device->Unprepare(a.header), MMSYSERR_NOERROR);
  EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
}

TEST(SimulatedWaveDeviceTest, PauseStopsConsumptionAndRestartResumesIt) {
  auto driver = MakeSimulatedWaveDriver({.real_time = true});
  DoneLog log;
  auto device = OpenOk(*driver, Format(1, 8000, 8), log);
  ASSERT_EQ(device->Pause(), MMSYSERR_NOERROR);
  Buffer a(800);  // 100 ms
  device->Prepare(a.header);
  ASSERT_EQ(device->Write(a.header), MMSYSERR_NOERROR);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  uint64_t position = 1;
  device->GetPosition(position);
  EXPECT_EQ(position, 0u);
  EXPECT_TRUE(log.Headers().empty());
  ASSERT_EQ(device->Restart(), MMSYSERR_NOERROR);
  ASSERT_TRUE(log.WaitBuffers(1));
  device->GetPosition(position);
  EXPECT_EQ(position, 800u);
  EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
}

TEST(SimulatedWaveDeviceTest, ResetReturnsEveryQueuedBufferAndRewindsThePosition) {
  auto driver = MakeSimulatedWaveDriver({.real_time = true});
  DoneLog log;
  auto device = OpenOk(*driver, Format(2, 44100, 16), log);
  std::vector<std::unique_ptr<Buffer>> buffers;
  for (int i = 0; i < 4; ++i) {
    buffers.push_back(std::make_unique<Buffer>(88200));
    device->Prepare(buffers.back()->header);
    ASSERT_EQ(device->Write(buffers.back()->header), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(device->Reset(), MMSYSERR_NOERROR);
  ASSERT_TRUE(log.WaitBuffers(4));
  for (auto& b : buffers) {
    EXPECT_TRUE(b->header.flags.load() & WHDR_DONE);
    EXPECT_EQ(device->Unprepare(b->header), MMSYSERR_NOERROR);
  }
  uint64_t position = 1;
  device->GetPosition(position);
  EXPECT_EQ(position, 0u);
  EXPECT_EQ(driver->Stats().resets, 1);
  EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
}

TEST(SimulatedWaveDeviceTest, VolumeIsKeptPerDevice) {
  auto driver = MakeSimulatedWaveDriver({.real_time = false, .initial_volume = 0x40008000});
  uint32_t volume = 0;
  EXPECT_EQ(driver->GetDeviceVolume(0, volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0x40008000u);
  std::unique_ptr<WaveDevice> query;
  ASSERT_EQ(driver->Open(kWaveMapper, Format(2, 44100, 16), nullptr, query), MMSYSERR_NOERROR);
  EXPECT_EQ(query->SetVolume(0x12345678), MMSYSERR_NOERROR);
  EXPECT_EQ(query->GetVolume(volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0x12345678u);
  EXPECT_EQ(driver->Volume(kWaveMapper), 0x12345678u);
  EXPECT_EQ(driver->Volume(0), 0x40008000u);
  // A volume-only device plays nothing.
  Buffer a(10);
  query->Prepare(a.header);
  EXPECT_NE(query->Write(a.header), MMSYSERR_NOERROR);
  EXPECT_EQ(query->Close(), MMSYSERR_NOERROR);
  EXPECT_EQ(driver->Stats().opens, 0);
}

TEST(SimulatedWaveDeviceTest, InjectedFaultsAnswerWithTheirCodes) {
  {
    auto driver = MakeSimulatedWaveDriver({.num_devices = 0});
    EXPECT_EQ(driver->NumDevices(), 0);
    DoneLog log;
    std::unique_ptr<WaveDevice> device;
    EXPECT_EQ(driver->Open(kWaveMapper, Format(2, 44100, 16), log.Callback(), device),
              MMSYSERR_BADDEVICEID);
    EXPECT_FALSE(device);
  }
  {
    auto driver = MakeSimulatedWaveDriver({.fail_open = MMSYSERR_ALLOCATED});
    DoneLog log;
    std::unique_ptr<WaveDevice> device;
    EXPECT_EQ(driver->Open(kWaveMapper, Format(2, 44100, 16), log.Callback(), device),
              MMSYSERR_ALLOCATED);
    // Volume queries still open.
    EXPECT_EQ(driver->Open(kWaveMapper, Format(2, 44100, 16), nullptr, device), MMSYSERR_NOERROR);
  }
  {
    auto driver = MakeSimulatedWaveDriver({.real_time = false,
                                           .fail_write_at = 2,
                                           .fail_write_result = MMSYSERR_NOMEM,
                                           .fail_pause = MMSYSERR_ERROR,
                                           .fail_restart = MMSYSERR_INVALPARAM,
                                           .fail_set_volume = MMSYSERR_NOTSUPPORTED});
    DoneLog log;
    auto device = OpenOk(*driver, Format(2, 44100, 16), log);
    Buffer a(4), b(4), c(4);
    for (Buffer* buf : {&a, &b, &c}) device->Prepare(buf->header);
    EXPECT_EQ(device->Write(a.header), MMSYSERR_NOERROR);
    EXPECT_EQ(device->Write(b.header), MMSYSERR_NOMEM);
    EXPECT_EQ(b.header.flags.load() & WHDR_INQUEUE, 0u);
    EXPECT_EQ(device->Write(c.header), MMSYSERR_NOERROR);
    EXPECT_EQ(device->Pause(), MMSYSERR_ERROR);
    EXPECT_EQ(device->Restart(), MMSYSERR_INVALPARAM);
    EXPECT_EQ(device->SetVolume(0), MMSYSERR_NOTSUPPORTED);
    ASSERT_TRUE(log.WaitBuffers(2));
    EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
  }
}

TEST(SimulatedWaveDeviceTest, FailureInThePlaybackIsReportedOnceAndPlayingGoesOn) {
  auto driver = MakeSimulatedWaveDriver(
      {.real_time = false, .fail_after_bytes = 1500, .fail_playback_result = MMSYSERR_NODRIVER});
  DoneLog log;
  auto device = OpenOk(*driver, Format(2, 44100, 16), log);
  Buffer a(1000), b(1000), c(1000);
  for (Buffer* buf : {&a, &b, &c}) {
    device->Prepare(buf->header);
    device->Write(buf->header);
  }
  ASSERT_TRUE(log.WaitBuffers(3));
  EXPECT_EQ(log.Errors(), std::vector<int>{MMSYSERR_NODRIVER});
  EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
}

TEST(SimulatedWaveDeviceTest, ErrorTextsComeFromTheOptionsThenTheStandardList) {
  SimulatedWaveOptions options;
  options.error_texts[MMSYSERR_ERROR] = "simulated device lost";
  auto driver = MakeSimulatedWaveDriver(options);
  std::string text;
  EXPECT_TRUE(driver->ErrorText(MMSYSERR_ERROR, text));
  EXPECT_EQ(text, "simulated device lost");
  EXPECT_TRUE(driver->ErrorText(WAVERR_STILLPLAYING, text));
  EXPECT_FALSE(text.empty());
  EXPECT_FALSE(driver->ErrorText(12345, text));
}

TEST(SimulatedWaveDeviceTest, RealTimeDeviceNeedsAboutTheSoundsDurationNeverLess) {
  auto driver = MakeSimulatedWaveDriver({.real_time = true});
  DoneLog log;
  auto device = OpenOk(*driver, Format(1, 8000, 8), log);
  Buffer a(1600);  // 200 ms of sound
  device->Prepare(a.header);
  const auto start = Clock::now();
  device->Write(a.header);
  ASSERT_TRUE(log.WaitBuffers(1));
  // Sound cannot leave faster than its rate (a lower bound only; a loaded machine may be slower).
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(190));
  EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
}

TEST(ApplyWaveVolumeTest, ScalesEachChannelByItsWord) {
  const int16_t in[4] = {1000, -1000, 32767, -32768};
  uint8_t bytes[8];
  std::memcpy(bytes, in, 8);
  ApplyWaveVolume(bytes, 8, Format(2, 44100, 16), 0x0000FFFF);  // left full, right silent
  int16_t out[4];
  std::memcpy(out, bytes, 8);
  EXPECT_EQ(out[0], 1000);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 32767);
  EXPECT_EQ(out[3], 0);

  std::memcpy(bytes, in, 8);
  ApplyWaveVolume(bytes, 8, Format(1, 44100, 16), 0x00008000);  // mono takes the left word
  std::memcpy(out, bytes, 8);
  EXPECT_EQ(out[0], 500);
  EXPECT_EQ(out[1], -500);

  uint8_t u8[4] = {128, 255, 0, 200};
  ApplyWaveVolume(u8, 4, Format(1, 8000, 8), 0);
  for (uint8_t v : u8) EXPECT_EQ(v, 128);  // silence is the middle value
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "plumo_" + std::to_string(::getpid()) + "_" + name;
}

TEST(WavFileWaveDeviceTest, RecordsExactlyWhatWasPlayedWithACorrectHeader) {
  const std::string path = TempPath("record.wav");
  std::vector<uint8_t> expected;
  {
    auto driver = MakeWavFileWaveDriver(path);
    DoneLog log;
    auto device = OpenOk(*driver, Format(2, 22050, 16), log);
    Buffer a(1000, 1), b(2002, 7);
    for (Buffer* buf : {&a, &b}) {
      device->Prepare(buf->header);
      ASSERT_EQ(device->Write(buf->header), MMSYSERR_NOERROR);
      expected.insert(expected.end(), buf->bytes.begin(), buf->bytes.end());
    }
    ASSERT_TRUE(log.WaitBuffers(2));
    EXPECT_EQ(driver->DataBytes(), 3002u);
    EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
    // The header is right as soon as the device closed.
    const auto file = ReadFile(path);
    ASSERT_EQ(file.size(), 44u + 3002u);
    EXPECT_EQ(Le32(file, 40), 3002u);
  }
  const auto file = ReadFile(path);
  ASSERT_EQ(file.size(), 44u + expected.size());
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
  EXPECT_EQ(Le32(file, 4), 36u + 3002u);
  EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(Le16(file, 20), 1);
  EXPECT_EQ(Le16(file, 22), 2);
  EXPECT_EQ(Le32(file, 24), 22050u);
  EXPECT_EQ(Le32(file, 28), 22050u * 4);
  EXPECT_EQ(Le16(file, 32), 4);
  EXPECT_EQ(Le16(file, 34), 16);
  EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 44, file.end()), expected);
  std::remove(path.c_str());
}

TEST(WavFileWaveDeviceTest, ResetDropsWhatWasNotPlayedAndLaterOpensAppend) {
  const std::string path = TempPath("append.wav");
  {
    auto driver = MakeWavFileWaveDriver(path);
    DoneLog log;
    auto device = OpenOk(*driver, Format(1, 8000, 8), log);
    Buffer a(500, 3);
    device->Prepare(a.header);
    device->Write(a.header);
    ASSERT_TRUE(log.WaitBuffers(1));
    device->Pause();
    Buffer dropped(700, 9);
    device->Prepare(dropped.header);
    device->Write(dropped.header);
    EXPECT_EQ(device->Reset(), MMSYSERR_NOERROR);
    ASSERT_TRUE(log.WaitBuffers(2));
    EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);

    // The same format goes on in the same file; another format is refused.
    std::unique_ptr<WaveDevice> other;
    EXPECT_EQ(driver->Open(kWaveMapper, Format(2, 8000, 8), log.Callback(), other), WAVERR_BADFORMAT);
    std::string text;
    EXPECT_TRUE(driver->ErrorText(WAVERR_BADFORMAT, text));
    EXPECT_NE(text.find(path), std::string::npos);
    auto again = OpenOk(*driver, Format(1, 8000, 8), log);
    // One device at a time.
    EXPECT_EQ(driver->Open(kWaveMapper, Format(1, 8000, 8), log.Callback(), other), MMSYSERR_ALLOCATED);
    Buffer b(300, 5);
    again->Prepare(b.header);
    again->Write(b.header);
    ASSERT_TRUE(log.WaitBuffers(3));
    EXPECT_EQ(again->Close(), MMSYSERR_NOERROR);

    std::vector<uint8_t> expected = a.bytes;
    expected.insert(expected.end(), b.bytes.begin(), b.bytes.end());
    const auto file = ReadFile(path);
    ASSERT_EQ(file.size(), 44u + expected.size());
    EXPECT_EQ(Le32(file, 40), expected.size());
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 44, file.end()), expected);
  }
  std::remove(path.c_str());
}

TEST(WavFileWaveDeviceTest, VolumeQueriesDoNotCreateTheFile) {
  const std::string path = TempPath("untouched.wav");
  auto driver = MakeWavFileWaveDriver(path);
  std::unique_ptr<WaveDevice> query;
  ASSERT_EQ(driver->Open(kWaveMapper, Format(2, 44100, 16), nullptr, query), MMSYSERR_NOERROR);
  uint32_t volume = 0;
  EXPECT_EQ(query->GetVolume(volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0xFFFFFFFFu);
  EXPECT_EQ(query->Close(), MMSYSERR_NOERROR);
  EXPECT_FALSE(std::ifstream(path).good());
}

TEST(WavFileWaveDeviceTest, AFileThatCannotBeCreatedFailsTheOpenWithItsReason) {
  auto driver = MakeWavFileWaveDriver("/nonexistent-folder/plumo.wav");
  DoneLog log;
  std::unique_ptr<WaveDevice> device;
  const int result = driver->Open(kWaveMapper, Format(2, 44100, 16), log.Callback(), device);
  EXPECT_NE(result, MMSYSERR_NOERROR);
  std::string text;
  EXPECT_TRUE(driver->ErrorText(result, text));
  EXPECT_NE(text.find("/nonexistent-folder/plumo.wav"), std::string::npos);
}

// SDL reads SDL_AUDIODRIVER when its audio subsystem starts.
class ScopedAudioDriver {
 public:
  explicit ScopedAudioDriver(const char* name) {
    if (const char* old = std::getenv("SDL_AUDIODRIVER")) FOld = old;
    ::setenv("SDL_AUDIODRIVER", name, 1);
  }
  ~ScopedAudioDriver() {
    if (FOld.empty()) {
      ::unsetenv("SDL_AUDIODRIVER");
    } else {
      ::setenv("SDL_AUDIODRIVER", FOld.c_str(), 1);
    }
  }

 private:
  std::string FOld;
};

TEST(SdlWaveDeviceTest, WithoutAudioTheCountIsZeroAndOpeningFailsWithSdlsText) {
  ScopedAudioDriver none("plumo-no-such-audio-driver");
  auto driver = MakeSdlWaveDriver();
  EXPECT_FALSE(driver->Available());
  EXPECT_EQ(driver->NumDevices(), 0);
  DoneLog log;
  std::unique_ptr<WaveDevice> device;
  const int result = driver->Open(kWaveMapper, Format(2, 44100, 16), log.Callback(), device);
  EXPECT_NE(result, MMSYSERR_NOERROR);
  EXPECT_FALSE(device);
  std::string text;
  ASSERT_TRUE(driver->ErrorText(result, text));
  EXPECT_NE(text.find("plumo-no-such-audio-driver"), std::string::npos) << text;
  EXPECT_NE(driver->Open(kWaveMapper, Format(2, 44100, 16), nullptr, device), MMSYSERR_NOERROR);
}

TEST(SdlWaveDeviceTest, DummyDevicePlaysBuffersAndReturnsThem) {
  ScopedAudioDriver dummy("dummy");
  auto driver = MakeSdlWaveDriver();
  ASSERT_TRUE(driver->Available());
  EXPECT_GE(driver->NumDevices(), 1);
  DoneLog log;
  auto device = OpenOk(*driver, Format(1, 8000, 8), log);
  ASSERT_TRUE(device);
  Buffer a(400), b(400);  // 50 ms each
  for (Buffer* buf : {&a, &b}) {
    device->Prepare(buf->header);
    ASSERT_EQ(device->Write(buf->header), MMSYSERR_NOERROR);
  }
  ASSERT_TRUE(log.WaitBuffers(2));
  EXPECT_EQ(log.Headers(), (std::vector<WaveHeader*>{&a.header, &b.header}));
  uint64_t position = 0;
  device->GetPosition(position);
  EXPECT_EQ(position, 800u);
  EXPECT_EQ(device->SetVolume(0x80008000), MMSYSERR_NOERROR);
  uint32_t volume = 0;
  device->GetVolume(volume);
  EXPECT_EQ(volume, 0x80008000u);
  for (Buffer* buf : {&a, &b}) EXPECT_EQ(device->Unprepare(buf->header), MMSYSERR_NOERROR);
  EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
  // The volume stays with the device id.
  EXPECT_EQ(driver->GetDeviceVolume(kWaveMapper, volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0x80008000u);
}

TEST(SdlWaveDeviceTest, DummyDeviceResetReturnsQueuedBuffersWhilePaused) {
  ScopedAudioDriver dummy("dummy");
  auto driver = MakeSdlWaveDriver();
  DoneLog log;
  auto device = OpenOk(*driver, Format(2, 44100, 16), log);
  ASSERT_TRUE(device);
  ASSERT_EQ(device->Pause(), MMSYSERR_NOERROR);
  Buffer a(88200), b(88200);
  for (Buffer* buf : {&a, &b}) {
    device->Prepare(buf->header);
    device->Write(buf->header);
  }
  EXPECT_EQ(device->Close(), WAVERR_STILLPLAYING);
  EXPECT_EQ(device->Reset(), MMSYSERR_NOERROR);
  ASSERT_TRUE(log.WaitBuffers(2));
  uint64_t position = 1;
  device->GetPosition(position);
  EXPECT_EQ(position, 0u);
  EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
}

// The devices that play through a sound server, by name.
std::shared_ptr<WaveDriver> MakeServerDriver(const std::string& name) {
  if (name == "pulse") return MakePulseWaveDriver();
  return MakeSdlWaveDriver();
}

class ServerWaveDeviceTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!test::PulseServer::Installed()) GTEST_SKIP() << "pulseaudio is not installed";
    ASSERT_TRUE(server.Start()) << server.Log();
    server.UseInThisProcess();
    driver = MakeServerDriver(GetParam());
  }

  uint64_t Position(WaveDevice& device) {
    uint64_t position = 0;
    EXPECT_EQ(device.GetPosition(position), MMSYSERR_NOERROR);
    return position;
  }

  test::PulseServer server;
  std::shared_ptr<WaveDriver> driver;
};

TEST_P(ServerWaveDeviceTest, PlaysInOrderHoldsWhilePausedAndResetsTheQueueAndThePosition) {
  EXPECT_EQ(driver->NumDevices(), 1);
  DoneLog log;
  auto device = OpenOk(*driver, Format(2, 44100, 16), log);
  ASSERT_TRUE(device);
  Buffer a(17640, 1), b(17640, 2);  // 0.1 s each
  for (Buffer* buf : {&a, &b}) {
    device->Prepare(buf->header);
    ASSERT_EQ(device->Write(buf->header), MMSYSERR_NOERROR);
  }
  ASSERT_TRUE(log.WaitBuffers(2));
  EXPECT_EQ(log.Headers(), (std::vector<WaveHeader*>{&a.header, &b.header}));
  // Played out, the position is all that was written.
  ASSERT_TRUE(test::PollUntil([&] { return Position(*device) == 35280; })) << Position(*device);

  // Paused, the queue stays and the position stands.
  ASSERT_EQ(device->Pause(), MMSYSERR_NOERROR);
  const uint64_t paused_at = Position(*device);
  Buffer c(88200, 3), d(88200, 4);
  for (Buffer* buf : {&c, &d}) {
    device->Prepare(buf->header);
    ASSERT_EQ(device->Write(buf->header), MMSYSERR_NOERROR);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(log.Headers().size(), 2u);
  EXPECT_EQ(Position(*device), paused_at);
  EXPECT_EQ(device->Close(), WAVERR_STILLPLAYING);

  // A reset hands both back and starts the position again; playing goes on after a restart.
  EXPECT_EQ(device->Reset(), MMSYSERR_NOERROR);
  ASSERT_TRUE(log.WaitBuffers(4));
  EXPECT_EQ(Position(*device), 0u);
  ASSERT_EQ(device->Restart(), MMSYSERR_NOERROR);
  Buffer e(17640, 5);
  device->Prepare(e.header);
  ASSERT_EQ(device->Write(e.header), MMSYSERR_NOERROR);
  ASSERT_TRUE(log.WaitBuffers(5));
  ASSERT_TRUE(test::PollUntil([&] { return Position(*device) == 17640; })) << Position(*device);
  EXPECT_EQ(device->SetVolume(0x4000C000), MMSYSERR_NOERROR);
  if (std::string(GetParam()) == "pulse") {
    // The stream's own volume on the server (left three quarters, right a quarter), so that a
    // change is heard at once, not after what the server holds.
    std::string inputs;
    EXPECT_TRUE(test::PollUntil([&] {
      inputs = test::Capture("pactl list sink-inputs");
      return inputs.find("front-left: 59544 /  91% / -2.50 dB,   front-right: 41285 /  63% / -12.04 dB") !=
             std::string::npos;
    })) << inputs;
  }
  for (Buffer* buf : {&a, &b, &c, &d, &e}) EXPECT_EQ(device->Unprepare(buf->header), MMSYSERR_NOERROR);
  EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
  EXPECT_EQ(device->Close(), MMSYSERR_INVALHANDLE);
  uint32_t volume = 0;
  EXPECT_EQ(driver->GetDeviceVolume(kWaveMapper, volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0x4000C000u) << "the volume stays with the device id";
  EXPECT_TRUE(log.Errors().empty());
}

TEST_P(ServerWaveDeviceTest, ALostServerIsReportedOnceWithItsTextAndWithoutOneNothingOpens) {
  DoneLog log;
  auto device = OpenOk(*driver, Format(2, 44100, 16), log);
  ASSERT_TRUE(device);
  Buffer a(88200), b(88200);
  for (Buffer* buf : {&a, &b}) {
    device->Prepare(buf->header);
    device->Write(buf->header);
  }
  server.Kill();
  ASSERT_TRUE(log.WaitError());
  std::string text;
  EXPECT_TRUE(driver->ErrorText(log.Errors()[0], text));
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(device->Reset(), MMSYSERR_NOERROR);
  ASSERT_TRUE(log.WaitBuffers(2));
  EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
  EXPECT_EQ(log.Errors().size(), 1u);

  // With the server gone the device does not open, and says why.
  if (std::string(GetParam()) == "pulse") {
    EXPECT_EQ(driver->NumDevices(), 0);
    EXPECT_FALSE(PulseWaveDriver::ServerAnswers());
    std::unique_ptr<WaveDevice> none;
    const int result = driver->Open(kWaveMapper, Format(2, 44100, 16), log.Callback(), none);
    EXPECT_NE(result, MMSYSERR_NOERROR);
    EXPECT_FALSE(none);
    ASSERT_TRUE(driver->ErrorText(result, text));
    EXPECT_EQ(text, "Connection refused");
  }
}

INSTANTIATE_TEST_SUITE_P(Devices, ServerWaveDeviceTest, ::testing::Values("pulse", "sdl"));

}  // namespace
}  // namespace plumo::platform
