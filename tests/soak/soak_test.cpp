// Plays 1000 short files back to back through the simulated device at full speed while the main
// thread stops, pauses, resumes and changes the equalizer at random, and checks that memory, open
// file descriptors and threads do not grow.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "player.h"
#include "simulated_wave_device.h"
#include "test_files.h"

namespace plumo {
namespace {

struct Usage {
  long rss_kib = 0;
  long fds = 0;
  long threads = 0;
};

long CountEntries(const char* folder) {
  long n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

Usage Measure() {
  Usage u;
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  u.rss_kib = resident * (sysconf(_SC_PAGESIZE) / 1024);
  u.fds = CountEntries("/proc/self/fd");
  u.threads = CountEntries("/proc/self/task");
  return u;
}

TEST(Soak, AThousandFilesWithRandomCommandsLeaveNothingBehind) {
  std::vector<std::string> files;
  for (const test::ManifestRow& row : test::ReadSamplesManifest())
    if (row.at("layer") != "-" && row.at("bitrate_kind") != "free" && row.at("file").rfind("dmg_", 0) != 0)
      files.push_back(test::DataPath("samples/" + row.at("file")));
  ASSERT_GT(files.size(), 20u);

  platform::SimulatedWaveOptions options;
  options.real_time = false;
  TMP3Player player(platform::MakeSimulatedWaveDriver(options));
  std::mt19937 rng(20261208);
  int ended = 0, failures = 0;
  player.OnEndPlay = [&](TMP3Player*, TMP3EndPlayReason r) {
    ++ended;
    failures += r == merFailure;
  };
  player.ShowException = [&](const std::exception_ptr&) { ++failures; };

  Usage warm;
  for (int i = 0; i < 1000; ++i) {
    if (i == 100) warm = Measure();
    player.SetFileName(files[static_cast<size_t>(i) % files.size()]);
    const int before = ended;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ended == before) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "file " << i << " did not end";
      switch (rng() % 16) {
        case 0: player.Stop(); break;
        case 1: player.Pause(); break;
        case 2: player.Resume(); break;
        case 3: player.SetEqualizerEnabled(!player.EqualizerEnabled()); break;
        case 4: player.SetEqualizerMode(player.EqualizerMode() == memSubBand ? memFreq : memSubBand); break;
        case 5: player.SetEqualizerLevel(static_cast<int>(rng() % 32), static_cast<int32_t>(rng() % 200) - 100); break;
        default: break;
      }
      if (player.Status() == mpsPaused && rng() % 4 == 0) player.Resume();
      player.Window().WaitForMessage(1);
      player.Window().ProcessMessages();
    }
  }
  player.Close();
  player.Window().ProcessMessages();
  const Usage end = Measure();
  EXPECT_EQ(failures, 0);
  EXPECT_LE(end.fds, warm.fds);
  EXPECT_LE(end.threads, warm.threads);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers keep freed memory in quarantine; leaks are their own report there.
  (void)end.rss_kib;
#else
  EXPECT_LT(end.rss_kib - warm.rss_kib, 4096) << "resident memory grew from " << warm.rss_kib << " KiB";
#endif
}

}  // namespace
}  // namespace plumo
