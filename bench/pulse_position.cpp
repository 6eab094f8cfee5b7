// Shows how TMP3Player's Position follows the sound on a real PulseAudio server (a null sink of
// its own) after a burst of restarts: plays FILE for LEAD ms (default 1500), restarts it N times
// (default 5) GAP ms apart (default 150) by Stop+Play, by a new SetFileName as the panel's Next
// does, or by a Seek to the start, then prints Position every 50 ms for three seconds, with when
// it first moved and the longest time it stood still after that. The device is PulseAudio's
// own, or SDL's on the same server.
//
//   plumo_pulse_position FILE [stop|open|seek] [N] [GAP] [LEAD] [pulse|sdl]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "player.h"
#include "pulse_server.h"
#include "pulse_wave_device.h"
#include "sdl_wave_device.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// What Position did while the player was pumped for a while.
struct Watched {
  int64_t first_move = -1;   // ms until Position first moved
  int64_t longest_hold = 0;  // the longest stand-still after that, in ms
};

// Pumps the player for ms, reading Position every 50 ms (and printing it when asked).
Watched Watch(plumo::TMP3Player& player, int ms, bool print) {
  const Clock::time_point start = Clock::now();
  Watched watched;
  int32_t first = -1;
  int32_t last = -1;
  int64_t still_since = 0;
  int64_t next_read = 0;
  while (MsSince(start) < ms) {
    player.Window().WaitForMessage(10);
    player.Window().ProcessMessages();
    const int64_t now = MsSince(start);
    if (now < next_read) continue;
    next_read += 50;
    const int32_t position = player.Position();
    if (first < 0) first = position;
    if (position != first && watched.first_move < 0) watched.first_move = now;
    if (position != last) {
      still_since = now;
      last = position;
    }
    if (watched.first_move >= 0) watched.longest_hold = std::max(watched.longest_hold, now - still_since);
    if (print) std::printf("%6lld ms  Position %6d\n", static_cast<long long>(now), position);
  }
  return watched;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [stop|open|seek] [N] [GAP] [LEAD] [pulse|sdl]\n", argv[0]);
    return 2;
  }
  const std::string file = argv[1];
  const std::string mode = argc > 2 ? argv[2] : "stop";
  const int count = argc > 3 ? std::atoi(argv[3]) : 5;
  const int gap = argc > 4 ? std::atoi(argv[4]) : 150;
  const int lead = argc > 5 ? std::atoi(argv[5]) : 1500;
  const bool sdl = argc > 6 && std::string(argv[6]) == "sdl";
  plumo::test::PulseServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "no PulseAudio server:\n%s\n", server.Log().c_str());
    return 1;
  }
  server.UseInThisProcess();
  plumo::Decoder decoder;
  std::shared_ptr<plumo::platform::WaveDriver> driver = plumo::platform::MakePulseWaveDriver();
  if (sdl) driver = plumo::platform::MakeSdlWaveDriver();
  plumo::TMP3Player player(driver,
                           decoder);
  player.SetFileName(file);
  Watch(player, lead, false);
  for (int i = 0; i < count; ++i) {
    if (mode == "open") {
      player.SetFileName(file);
    } else if (mode == "seek") {
      player.Seek(0);
    } else {
      player.Stop();
      player.Play();
    }
    Watch(player, gap, false);
  }
  const Watched watched = Watch(player, 3000, true);
  std::printf("Position first moved after %lld ms; longest stand-still after that: %lld ms\n",
              static_cast<long long>(watched.first_move), static_cast<long long>(watched.longest_hold));
  player.Stop();
  return 0;
}
