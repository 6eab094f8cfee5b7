// Network streams against the tests' own radio server on 127.0.0.1: the audio and titles that
// come through, the faults a station or the network can make, cancelling, and plumo-decode on
// stream addresses and pipes.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "child_process.h"
#include "http_stream.h"
#include "radio_server.h"
#include "test_files.h"

namespace plumo {
namespace {

const std::string kFile = test::DataPath("samples/l3_m1_44k_128_joint_info.mp3");

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

using TRadioServer = test::RadioServer;

// A loopback port nobody listens on.
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// Everything a stream gives (at most limit bytes), with the audio byte at which each title began.
struct TTaken {
  std::string Bytes;
  std::vector<std::pair<size_t, std::string>> Titles;
  std::string Error;  // the EStreamError Read raised
};

TTaken ReadAll(THttpStream& stream, size_t limit = SIZE_MAX) {
  TTaken t;
  stream.OnTitleChange = [&] { t.Titles.emplace_back(t.Bytes.size(), stream.StreamTitle()); };
  char buffer[4096];
  try {
    for (int32_t n; t.Bytes.size() < limit &&
                    (n = stream.Read(buffer, static_cast<int32_t>(std::min(sizeof buffer, limit - t.Bytes.size())))) > 0;)
      t.Bytes.append(buffer, n);
  } catch (const EStreamError& e) {
    t.Error = e.what();
  }
  return t;
}

using TTitles = std::vector<std::pair<size_t, std::string>>;

TEST(HttpStream, AudioComesThroughExactlyAndTitlesChangeAtTheirByte) {
  const TRadioServer server;
  const std::string file = Slurp(kFile), f = "file=" + kFile;
  // A station name longer than a header value is kept: cut before a character that would not fit.
  std::string utf8Name = "x", longName = "x";
  for (int i = 0; i < 600; ++i) utf8Name += "%C3%A9", longName += i < 511 ? "\u00e9" : "";
  std::string rounds;
  for (int i = 0; i < 10; ++i) rounds += file;
  const struct {
    std::string Path;
    std::string Audio;
    TTitles Titles;
    std::string Station;
    size_t Limit = SIZE_MAX;
  } cases[] = {
      {"/stream?" + f + "&metaint=1000&titles=A|B|C&name=Radio%20T%C3%A9st", file,
       {{1000, "A"}, {2000, "B"}, {3000, "C"}}, "Radio Tést"},
      {"/redirect?" + f + "&metaint=997&titles=X&name=Caf%E9%20%93FM%94", file, {{997, "X"}}, "Caf\u00e9 \u201cFM\u201d"},
      // A SHOUTcast v1 answer; Shift-JIS read as Japanese, a NUL ends a title, overrides go.
      {"/stream?" + f + "&icy=1&metaint=1000&titles=%82%B1%82%F1%82%C9%82%BF%82%CD|A%00B|%E2%80%AEevil%E2%81%A6&name=V1", file,
       {{1000, "\u3053\u3093\u306b\u3061\u306f"}, {2000, "A"}, {3000, "evil"}}, "V1"},
      // Control characters dropped, Latin-1 read as such, a block of the greatest size, a quote
      // inside a title; the blocks without a readable title leave the title alone.
      {"/badmeta?" + f + "&metaint=2000", file,
       {{4000, "Lineoneandtwo"}, {6000, "Caf\u00e9 \u201cLatin\u201d"}, {10000, std::string(4000, 'H')},
        {12000, "Guns N' Roses"}},
       ""},
      // Cut in the middle of a block: the audio before it, nothing of the block.
      {"/cutmeta?" + f + "&metaint=3000", file.substr(0, 3000), {}, ""},
      // A reset after 20000 audio bytes, one new connection with another interval.
      {"/drop?" + f + "&metaint=1000&at=20000&metaint2=700", file, {{1000, "Before"}, {20700, "After"}}, "Second"},
      // An interval of 0, too large or not a number: no metadata.
      {"/stream?" + f + "&header=0&name=" + utf8Name, file, {}, longName},
      {"/stream?" + f + "&header=99999999999", file, {}, ""},
      {"/stream?" + f + "&header=-5", file, {}, ""},
      // A live stream far larger than the read-ahead buffer, read as it comes.
      {"/stream?" + f + "&metaint=8192&titles=Live&repeat=1", rounds, {{8192, "Live"}}, "", rounds.size()},
  };
  for (const auto& c : cases) {
    THttpOptions options;
    options.BufferBytes = 0;  // the smallest: the transfer pauses when it is full
    options.ReconnectAfterEnd = false;
    options.ReconnectFirstDelayMs = 100;
    THttpStream stream(server.Url(c.Path), options);
    const TTaken t = ReadAll(stream, c.Limit);
    EXPECT_EQ(t.Error, "") << c.Path;
    EXPECT_TRUE(t.Bytes.substr(0, c.Audio.size()) == c.Audio) << c.Path << ": " << t.Bytes.size() << " bytes";
    EXPECT_EQ(t.Bytes.size(), c.Audio.size()) << c.Path;
    EXPECT_EQ(t.Titles, c.Titles) << c.Path;
    EXPECT_EQ(stream.StationName(), c.Station) << c.Path;
    EXPECT_EQ(stream.ContentType(), "audio/mpeg") << c.Path;
    EXPECT_EQ(stream.EndMessage(), "") << c.Path;
    EXPECT_THROW(stream.Seek(0, soCurrent), EStreamError);
    EXPECT_THROW(stream.Size(), EStreamError);
  }
}

TEST(HttpStream, FailuresAndBreaksNameTheAddressAndTheReason) {
  const TRadioServer server, tls(true);
  const std::string file = Slurp(kFile), f = "file=" + kFile;
  const std::string refused = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
  const struct {
    std::string Url;
    size_t Audio;            // bytes read before the stream ended
    std::string Error;       // what Read and WaitReady raised, after the address and ": "
    std::string EndMessage;  // after the address and ": "
    bool Reconnect = true;
  } cases[] = {
      {server.Url("/404"), 0, "HTTP 404 Not Found", ""},
      {server.Url("/loop"), 0, "too many redirects (more than 8)", ""},
      // Redirects lead to http and https only.
      {server.Url("/goto?to=file:///etc/hostname"), 0, "Protocol \"file\" not supported", ""},
      {tls.Url("/stream?" + f), 0, "SSL certificate problem: self-signed certificate", ""},
      {refused, 0, "Failed to connect to 127.0.0.1 port " + refused.substr(17, refused.size() - 18), ""},
      {server.Url("/stall?" + f + "&after=0"), 0, "no data for 0.3 s", ""},
      {server.Url("/stall?" + f + "&after=20000"), 20000, "", "no data for 0.3 s", false},
      {server.Url("/drop?" + f + "&at=20000"), 20000, "", "Recv failure: Connection reset by peer", false},
      // Resets, a clean close, a 503, an empty answer: connected to again each time, every byte
      // comes through; the mount gone ends it.
      {server.Url("/flaky?" + f + "&metaint=1000"), file.size(), "", "HTTP 404 Not Found"},
  };
  for (const auto& c : cases) {
    THttpOptions options;
    options.StallTimeoutMs = 300;
    options.Reconnect = c.Reconnect;
    options.ReconnectFirstDelayMs = 50;
    THttpStream stream(c.Url, options);
    std::string waited;
    try {
      stream.WaitReady();
    } catch (const EStreamError& e) {
      waited = e.what();
    }
    const TTaken t = ReadAll(stream);
    EXPECT_TRUE(t.Bytes == file.substr(0, c.Audio)) << c.Url << ": " << t.Bytes.size() << " bytes";
    if (c.Error.empty()) {
      EXPECT_EQ(t.Error, "") << c.Url;
      EXPECT_EQ(waited, "") << c.Url;
    } else {
      EXPECT_EQ(t.Error.rfind(c.Url + ": " + c.Error, 0), 0u) << c.Url << ": " << t.Error;
      EXPECT_EQ(waited, t.Error) << c.Url;
    }
    EXPECT_EQ(stream.EndMessage(), c.EndMessage.empty() ? "" : c.Url + ": " + c.EndMessage) << c.Url;
  }
}

TEST(HttpStream, CancelAndDestructionDoNotWaitForASilentServer) {
  const TRadioServer server;
  THttpOptions options;
  options.StallTimeoutMs = 3600 * 1000;
  {
    THttpStream stream(server.Url("/silent"), options);
    int32_t got = -1;
    std::thread reader([&] {
      char buffer[100];
      got = stream.Read(buffer, sizeof buffer);
    });
    EXPECT_FALSE(stream.Ready());
    stream.Cancel();
    reader.join();
    EXPECT_EQ(got, 0);
    EXPECT_TRUE(stream.Ready());
    stream.WaitReady();
  }
  // Destroyed while it waits for the answer (and while a live transfer runs).
  for (const std::string& path : {std::string("/silent"), "/stream?repeat=1&file=" + kFile})
    THttpStream stream(server.Url(path), options);
}

// plumo-decode as a user runs it.
struct TToolRun {
  int Status;
  std::string Errors, Output;
};

TToolRun RunTool(const test::TempDir& dir, const std::string& args) {
  const std::string command = "{ " + args + "; } >" + (dir / "stdout") + " 2>" + (dir / "stderr");
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir / "stderr"), Slurp(dir / "stdout")};
}

TEST(DecodeToolOnStreams, DecodesAddressesAndPipesAsFiles) {
  const TRadioServer server;
  const test::TempDir dir;
  const std::string tool = PLUMO_DECODE_TOOL, f = "file=" + kFile, out = dir / "out.pcm";
  ASSERT_EQ(RunTool(dir, tool + " " + kFile + " " + (dir / "file.pcm")).Status, 0);
  const std::string reference = Slurp(dir / "file.pcm");
  const std::string live = server.Url("/stream?" + f + "&metaint=1000&titles=Now&name=Test%20FM&repeat=1");
  const std::string html = server.Url("/html"), missing = server.Url("/404");
  // A station behind a .pls address, an .m3u by its type; refusals that name what was sent.
  std::string to = server.Url("/stream?" + f + "&metaint=1000&titles=A");
  for (const auto& [c, escape] : {std::pair{'&', "%26"}, {'=', "%3D"}, {'?', "%3F"}})
    for (size_t at; (at = to.find(c)) != std::string::npos;) to.replace(at, 1, escape);
  const std::string pls = server.Url("/listen.pls?to=" + to), m3u = server.Url("/list?kind=m3u&type=audio/x-mpegurl&to=" + to);
  const std::string aac = server.Url("/aac?" + f), hls = server.Url("/list?kind=hls&type=audio/mpegurl");
  const std::string hlsType = server.Url("/list?kind=hls&type=application/vnd.apple.mpegurl");
  const struct {
    std::string Args;
    int Status;
    std::string Output;  // what out.pcm holds
    std::string Errors;
  } cases[] = {
      {"'" + server.Url("/stream?" + f + "&metaint=1000&titles=A|B") + "' " + out, 0, reference, ""},
      {"cat " + kFile + " | " + tool + " /dev/stdin " + out, 0, reference, ""},
      // One second of a stream without end, at 44.1 kHz stereo.
      {"--length 1 '" + live + "' " + out, 0, reference.substr(0, 44100 * 4), ""},
      {"'" + html + "' " + out, 1, "", "plumo-decode: " + html + ": unknown MPEG Audio format.\n"},
      {"'" + missing + "' " + out, 1, "", "plumo-decode: " + missing + ": HTTP 404 Not Found\n"},
      {"'" + pls + "' " + out, 0, reference, ""},
      {"'" + m3u + "' " + out, 0, reference, ""},
      {"'" + aac + "' " + out, 1, "", "plumo-decode: " + aac + ": sends AAC audio, which PLUMO does not play\n"},
      {"'" + hls + "' " + out, 1, "", "plumo-decode: " + hls + ": is an HLS playlist, which PLUMO does not play\n"},
      {"'" + hlsType + "' " + out, 1, "", "plumo-decode: " + hlsType + ": is an HLS playlist, which PLUMO does not play\n"},
  };
  for (const auto& c : cases) {
    std::remove(out.c_str());
    const std::string command = c.Args.rfind("cat ", 0) == 0 ? c.Args : tool + " " + c.Args;
    const TToolRun r = RunTool(dir, command);
    EXPECT_EQ(r.Status, c.Status) << c.Args;
    EXPECT_EQ(r.Errors, c.Errors) << c.Args;
    EXPECT_TRUE(Slurp(out) == c.Output) << c.Args << ": " << Slurp(out).size() << " bytes";
  }
  const TToolRun info = RunTool(dir, tool + " --info '" + live + "'");
  EXPECT_EQ(info.Status, 0);
  EXPECT_NE(info.Output.find("\nstation: Test FM\ntitle: Now\n"), std::string::npos) << info.Output;
  EXPECT_NE(info.Output.find("\naudio: to the end of the stream from offset 417\n"), std::string::npos) << info.Output;
  EXPECT_NE(info.Output.find("\nlength: unknown\n"), std::string::npos) << info.Output;
}

// A file on a server (Content-Length, no ICY metadata) plays as the file: the same samples, also
// across dropped connections (asked for again by range, or from the start where the server takes
// no ranges), the file's length, an exact start in plumo-decode; plumo-play starts beyond what
// has come by a Range request near the place asked for; the end is a normal end.
TEST(DecodeToolOnStreams, RemoteFilesPlayAsTheFileDoes) {
  const TRadioServer server;
  const test::TempDir dir;
  const std::string tool = PLUMO_DECODE_TOOL, file = dir / "episode.mp3", out = dir / "out.pcm";
  ASSERT_EQ(RunTool(dir, "sox -n -r 44100 -c 2 -b 16 " + (dir / "in.wav") + " synth 60 sine 200:4000 && lame --quiet -V 0 --tt Episode --add-id3v2 " +
                             (dir / "in.wav") + " " + file).Status, 0);
  const auto decoded = [&](const std::string& args) {
    std::remove(out.c_str());
    const TToolRun r = RunTool(dir, tool + " " + args + " " + out);
    EXPECT_EQ(r.Status, 0) << args << ": " << r.Errors;
    return Slurp(out);
  };
  const std::string whole = decoded(file), from50 = decoded("--start 50 " + file);
  const auto length = [&](const std::string& name) {
    const std::string info = RunTool(dir, tool + " --info '" + name + "'").Output;
    const size_t at = info.find("\nlength: ");
    return at == std::string::npos ? info : info.substr(at, info.find('\n', at + 1) - at);
  };
  const std::string ranged = server.Url("/file?ranges=1&file=" + file);
  for (const std::string& url : {ranged, ranged + "&drop=30000", server.Url("/file?drop=30000&file=" + file)}) {
    EXPECT_TRUE(decoded("'" + url + "'") == whole) << url;
    EXPECT_TRUE(decoded("--start 50 '" + url + "'") == from50) << url;
  }
  EXPECT_EQ(length(ranged), length(file));
  EXPECT_EQ(length(server.Url("/file?file=" + file)), "\nlength: unknown");

  const std::string wav = dir / "out.wav", slow = ranged + "&rate=100000";
  const TToolRun play = RunTool(dir, std::string(PLUMO_PLAY_TOOL) + " --device wav:" + wav + " --start 50 '" + slow + "'");
  EXPECT_EQ(play.Status, 0);
  EXPECT_EQ(play.Errors, "");
  EXPECT_EQ(play.Output, "Episode\n");
  // The place is estimated from the VBR header's table: within a second.
  const double heard = (static_cast<double>(Slurp(wav).size()) - 44) / 4, expected = static_cast<double>(from50.size()) / 4;
  EXPECT_NEAR(heard, expected, 44100) << heard / 44100 << " s heard";
  const double size = static_cast<double>(Slurp(file).size());
  const std::string asked = server.Output();
  bool near_place = false;
  for (size_t at = 0; (at = asked.find("range ", at)) != std::string::npos; ++at) {
    const double first = std::atof(asked.c_str() + at + 6);
    near_place = near_place || (first > size * 0.7 && first < size * 0.95);
  }
  EXPECT_TRUE(near_place) << asked;
}

}  // namespace
}  // namespace plumo
