#include "http_stream.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "icy_demux.h"
#include "named_stream.h"
#include "text_conversion.h"

namespace plumo {

namespace {

using TClock = std::chrono::steady_clock;

// Longest header value kept (station names, content types); the rest is cut off.
constexpr size_t kMaxHeaderValue = 1024;
// The read-ahead buffer must hold at least a few of libcurl's deliveries.
constexpr int32_t kMinBuffer = 4 * CURL_MAX_WRITE_SIZE;
// How often the transfer loop looks at the clock while nothing happens.
constexpr int kPollMs = 250;
// A pause after some audio that makes the stream ready before its prebuffer is full.
constexpr int kEarlyReadyMs = 1000;
constexpr int64_t kEarlyReadyBytes = 16384;

// libcurl's process-wide set-up, done once before the first transfer.
void InitCurl() {
  static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)init;
}

// CURL and CURLM are both void in libcurl's headers: one deleter each.
struct TEasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct TMultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct TListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

std::string SecondsText(int32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", ms / 1000.0);
  return text;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

// Lower-case media type of a Content-Type value, without its parameters.
std::string MediaType(std::string_view type) {
  type = Trimmed(type.substr(0, type.find(';')));
  std::string lower(type);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && StartsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

// Whether the address's path (without query and fragment) names a playlist file.
bool PlaylistAddress(std::string_view address) {
  const std::string_view path = address.substr(0, address.find_first_of("?#"));
  return EndsWithNoCase(path, ".pls") || EndsWithNoCase(path, ".m3u") || EndsWithNoCase(path, ".m3u8");
}

// Whether the first bytes of a body read as a playlist: "[playlist]", "#EXTM3U" or an address.
bool LooksLikePlaylist(std::string_view body) {
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  while (!body.empty() && (body.front() == ' ' || body.front() == '\t' || body.front() == '\r' || body.front() == '\n'))
    body.remove_prefix(1);
  return StartsWithNoCase(body, "[playlist]") || StartsWithNoCase(body, "#extm3u") ||
         StartsWithNoCase(body, "http://") || StartsWithNoCase(body, "https://");
}

// The bit rate (bit/s) of an MPEG audio frame at p when another frame header follows it where
// its length says, so that a stray sync pattern is not taken; 0 otherwise.
int32_t FrameBitRate(std::span<const uint8_t> bytes, size_t p) {
  static constexpr int16_t kRates[2][3][15] = {
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},   // MPEG-2/2.5 layer I
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},        // layer II
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},       // layer III
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 layer I
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // layer II
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}}};    // layer III
  static constexpr int32_t kSampleRates[3] = {44100, 48000, 32000};
  if (p + 4 > bytes.size() || bytes[p] != 0xFF || (bytes[p + 1] & 0xE0) != 0xE0) return 0;
  const int version = (bytes[p + 1] >> 3) & 3, layer = (bytes[p + 1] >> 1) & 3;
  const int rateIndex = bytes[p + 2] >> 4, srIndex = (bytes[p + 2] >> 2) & 3, padding = (bytes[p + 2] >> 1) & 1;
  if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || srIndex == 3) return 0;
  const bool mpeg1 = version == 3;
  const int32_t kbps = kRates[mpeg1 ? 1 : 0][3 - layer][rateIndex];
  const int32_t rate = kSampleRates[srIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  size_t length = 0;
  if (layer == 3)
    length = static_cast<size_t>((12 * kbps * 1000 / rate + padding) * 4);
  else
    length = static_cast<size_t>((layer == 1 && !mpeg1 ? 72 : 144) * kbps * 1000 / rate + padding);
  const size_t next = p + length;
  if (next + 2 > bytes.size() || bytes[next] != 0xFF || (bytes[next + 1] & 0xFE) != (bytes[p + 1] & 0xFE)) return 0;
  return kbps * 1000;
}

// The bit rate of the first frame in bytes, 0 when none is found.
int32_t FirstFrameBitRate(std::span<const uint8_t> bytes) {
  for (size_t p = 0; p + 4 <= bytes.size(); ++p)
    if (const int32_t rate = FrameBitRate(bytes, p); rate > 0) return rate;
  return 0;
}

}  // namespace

struct THttpStream::TState {
  std::string Address;
  std::string Shown;  // the address as messages show it: without credentials
  THttpOptions Options;
  std::unique_ptr<CURLM, TMultiDeleter> Multi;

  mutable std::mutex Lock;
  std::condition_variable Changed;
  // Guarded by Lock. The ring holds the response bytes as they came (metadata included).
  std::vector<uint8_t> Ring;
  size_t Head = 0, Count = 0;
  int64_t Written = 0, Taken = 0;  // ring bytes ever written and ever taken
  // Where each response's body begins among the written bytes, and its metadata interval.
  std::deque<std::pair<int64_t, int64_t>> Bodies;
  bool IsReady = false, Ended = false, Cancelled = false, Paused = false, AnyBody = false;
  bool Reconnecting = false;
  size_t PausedNeed = 0;
  std::string Failure;  // the connection failed before any byte arrived
  std::string EndText;
  std::string Station, Title, Type;
  // Bytes buffered before Ready: PrebufferBytes until the bit rate is known.
  int64_t ReadyAt = 0;
  // The response is a playlist (or may be one: Probing), and its body.
  bool Playlist = false, Probing = false;
  std::string PlaylistBody;

  // The transfer thread's own.
  struct TResponse {
    long Status = 0;
    std::string Reason;
    std::string Location;
    bool HasLocation = false, HasLength = false, Ranges = false;
    int64_t Length = 0;                   // Content-Length
    int64_t RangeStart = -1, Total = -1;  // Content-Range: bytes RangeStart-.../Total
    int64_t MetaInt = 0;
    int32_t BitRate = 0;       // icy-br, bit/s
    int32_t RetryAfterMs = 0;  // Retry-After
    std::string Name, Type;
  } Response;
  std::string AbortReason;
  // AbortReason is final: a new connection would be refused the same way.
  bool AbortFinal = false;
  // The answer was 404: the mount is not there (now).
  bool Missing = false;
  // The response being read came over https: its redirects must stay there.
  bool Secure = false;
  TClock::time_point LastData;
  bool ReadyAnnounced = false;
  // Body bytes still to drop: the server answered a Range request with the whole resource.
  int64_t Skip = 0;
  // The response is a file, and its size (under Lock).
  bool File = false, FileRanges = false;
  int64_t FileBytes = 0;
  // Raw body bytes of the first response, for its bit rate.
  std::vector<uint8_t> Probe;

  // The reading thread's own (under Lock, as StreamTitle reads Title).
  TIcyDemux Demux;
  std::optional<std::string> PendingTitle;

  std::thread Worker;

  void Run();
  // One connection; true when the server ended it cleanly, else reason says why it failed and
  // retry whether a new connection may help.
  bool Transfer(std::string& reason, bool& retry);
  void AnnounceReady();
  // Lock held: Cancelled, also once the owner's Abort flag is set.
  bool CancelledNow() {
    if (!Cancelled && Options.Abort && Options.Abort->load()) {
      Cancelled = true;
      Changed.notify_all();
    }
    return Cancelled;
  }
  // Lock held: the end of the headers of a final response.
  bool TakeResponse();
  // Lock held: body bytes of a playlist response; false ends the transfer (the body is whole,
  // or refused).
  bool TakePlaylist(const char* data, size_t count);
  // Lock held: appends body bytes to the ring, which has room for them.
  void PutRing(const char* data, size_t count);
  // Lock held: the prebuffer from the bit rate, once it is known.
  void SetPrebuffer(int32_t bitRate);
  static size_t OnWrite(char* data, size_t size, size_t count, void* self);
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
};

void THttpStream::TState::AnnounceReady() {
  {
    std::lock_guard lock(Lock);
    IsReady = true;
    Changed.notify_all();
  }
  if (!ReadyAnnounced) {
    ReadyAnnounced = true;
    if (Options.OnReady) Options.OnReady();
  }
}

void THttpStream::TState::Run() {
  int32_t delay = std::max(Options.ReconnectFirstDelayMs, 1);
  // A station's mount missing (404) this many times in a row is gone for good.
  constexpr int kMaxMissing = 2;
  int missing = 0;
  for (;;) {
    std::string reason;
    bool retry = false;
    const int64_t before = Written;
    const bool clean = Transfer(reason, retry);
    std::unique_lock lock(Lock);
    if (CancelledNow()) break;
    if (Playlist || Probing) {
      // A playlist has been read whole (or as far as it goes): that is its end, a fault or not.
      if (!clean && PlaylistBody.empty()) {
        Failure = Shown + ": " + reason;
      } else if (Probing && !LooksLikePlaylist(PlaylistBody)) {
        // A few bytes that are no playlist: the reader of the audio says what they are.
        std::string held;
        held.swap(PlaylistBody);
        if (Ring.size() >= held.size()) PutRing(held.data(), held.size());
        Probing = false;
      } else {
        Playlist = true;
        Probing = false;
      }
      break;
    }
    if (!AnyBody) {
      Failure = Shown + ": " + reason;
      break;
    }
    missing = Missing ? missing + 1 : 0;
    // A response with a length is a file: its clean end is the end, and a drop is not connected
    // again from its first byte (its reader asks for the rest by range).
    const bool again = clean ? Options.ReconnectAfterEnd && !Response.HasLength : !File && retry && missing <= kMaxMissing;
    if (!Options.Reconnect || !again) {
      if (!clean) EndText = Shown + ": " + reason;
      break;
    }
    // A connection that brought audio starts the back-off again.
    if (Written > before) delay = std::max(Options.ReconnectFirstDelayMs, 1);
    const int32_t wait = std::max(delay, Response.RetryAfterMs);
    delay = std::min(delay * 2, std::max(Options.ReconnectMaxDelayMs, 1));
    Reconnecting = true;
    Changed.notify_all();
    const auto until = TClock::now() + std::chrono::milliseconds(wait);
    while (!CancelledNow() && TClock::now() < until)
      Changed.wait_until(lock, std::min(until, TClock::now() + std::chrono::milliseconds(kPollMs)));
    if (Cancelled) break;
  }
  {
    std::lock_guard lock(Lock);
    Ended = true;
    Reconnecting = false;
  }
  AnnounceReady();
}

bool THttpStream::TState::Transfer(std::string& reason, bool& retry) {
  std::unique_ptr<CURL, TEasyDeleter> easy(curl_easy_init());
  std::unique_ptr<curl_slist, TListDeleter> headers(curl_slist_append(nullptr, "Icy-MetaData: 1"));
  // SHOUTcast v1 servers answer with "ICY 200 OK" instead of an HTTP status line.
  std::unique_ptr<curl_slist, TListDeleter> aliases(curl_slist_append(nullptr, "ICY 200 OK"));
  if (!easy || !headers || !aliases) {
    reason = "out of memory";
    return false;
  }
  char error[CURL_ERROR_SIZE] = "";
  CURL* e = easy.get();
  curl_easy_setopt(e, CURLOPT_URL, Address.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(Options.MaxRedirects));
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(Options.ConnectTimeoutMs));
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(e, CURLOPT_HTTP200ALIASES, aliases.get());
  curl_easy_setopt(e, CURLOPT_USERAGENT, "PLUMO/" PLUMO_VERSION);
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  // Cancelling never waits for a name lookup that hangs.
  curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &TState::OnWrite);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &TState::OnHeader);
  const std::string range = std::to_string(Options.RangeFrom) + "-";
  if (Options.RangeFrom > 0) curl_easy_setopt(e, CURLOPT_RANGE, range.c_str());
  Response = {};
  AbortReason.clear();
  AbortFinal = false;
  Missing = false;
  Secure = StartsWithNoCase(Address, "https://");
  LastData = TClock::now();
  if (curl_multi_add_handle(Multi.get(), e) != CURLM_OK) {
    reason = "out of memory";
    return false;
  }
  CURLcode result = CURLE_OK;
  for (bool done = false; !done;) {
    int running = 0;
    curl_multi_perform(Multi.get(), &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(Multi.get(), &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == e) {
        result = message->data.result;
        done = true;
      }
    }
    if (done) break;
    bool resume = false;
    {
      std::lock_guard lock(Lock);
      if (CancelledNow()) break;
      // A full buffer pauses the transfer; that time is not a stall.
      if (Paused && Ring.size() - Count >= PausedNeed) {
        Paused = false;
        resume = true;
      }
      if (Paused || resume) LastData = TClock::now();
    }
    if (resume) {
      curl_easy_pause(e, CURLPAUSE_CONT);
      continue;
    }
    const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - LastData).count();
    // Enough audio to open that came and then paused is ready without the full prebuffer: it
    // plays meanwhile. (A trickle never is: opening would wait on it.)
    bool early = false;
    if (idle >= kEarlyReadyMs) {
      std::lock_guard lock(Lock);
      early = !IsReady && Count >= static_cast<size_t>(std::min<int64_t>(ReadyAt, kEarlyReadyBytes));
    }
    if (early) AnnounceReady();
    if (idle >= Options.StallTimeoutMs) {
      AbortReason = "no data for " + SecondsText(Options.StallTimeoutMs);
      break;
    }
    const int wait = static_cast<int>(std::min<int64_t>(kPollMs, Options.StallTimeoutMs - idle));
    curl_multi_poll(Multi.get(), nullptr, 0, std::max(wait, 1), nullptr);
  }
  curl_multi_remove_handle(Multi.get(), e);
  {
    std::lock_guard lock(Lock);
    Paused = false;
  }
  if (result == CURLE_OK && AbortReason.empty()) {
    // Cancelled, or the server ended the stream.
    return true;
  }
  if (!AbortReason.empty()) {
    reason = AbortReason;
    retry = !AbortFinal;
    return false;
  }
  // A refused, lost or timed-out connection may work again; a redirect loop or a refused
  // protocol will not.
  retry = result != CURLE_TOO_MANY_REDIRECTS && result != CURLE_UNSUPPORTED_PROTOCOL;
  if (result == CURLE_TOO_MANY_REDIRECTS)
    reason = "too many redirects (more than " + std::to_string(Options.MaxRedirects) + ")";
  else if (error[0] != '\0')
    reason = error;
  else
    reason = curl_easy_strerror(result);
  return false;
}

bool THttpStream::TState::TakeResponse() {
  const TResponse& r = Response;
  Station = IcyText(r.Name);
  Type = IcyText(r.Type);
  const std::string type = MediaType(r.Type);
  if (type == "audio/aac" || type == "audio/aacp" || type == "audio/mp4" || type == "audio/x-aac") {
    AbortReason = "sends AAC audio, which PLUMO does not play";
    AbortFinal = true;
    return false;
  }
  if (type == "application/vnd.apple.mpegurl") {
    AbortReason = "is an HLS playlist, which PLUMO does not play";
    AbortFinal = true;
    return false;
  }
  // Only the first response can be a playlist: a reconnection goes on with audio.
  if (!AnyBody && Written == 0) {
    if (type == "audio/x-scpls" || type == "audio/x-mpegurl" || type == "audio/mpegurl" ||
        type == "application/x-mpegurl")
      Playlist = true;
    else if (PlaylistAddress(Address) && type != "audio/mpeg")
      Probing = true;
  }
  Bodies.emplace_back(Written, Playlist || Probing ? 0 : r.MetaInt);
  // A file (an empty length, as some stations send, is none): its size, and the bytes before
  // the range asked for when the server sent them all.
  if (r.HasLength && r.Length > 0 && r.MetaInt == 0 && !Playlist && !Probing) {
    const bool ranged = r.Status == 206 && r.RangeStart >= 0;
    if (ranged && r.RangeStart != Options.RangeFrom) {
      AbortReason = "the server sent another range than the one asked for";
      AbortFinal = true;
      return false;
    }
    File = true;
    FileRanges = r.Ranges || ranged;
    FileBytes = ranged && r.Total >= 0 ? r.Total : (ranged ? Options.RangeFrom : 0) + r.Length;
    Skip = ranged ? 0 : Options.RangeFrom;
  }
  if (r.BitRate > 0) SetPrebuffer(r.BitRate);
  return true;
}

bool THttpStream::TState::TakePlaylist(const char* data, size_t count) {
  const size_t limit = static_cast<size_t>(std::max(Options.MaxPlaylistBytes, 16));
  PlaylistBody.append(data, std::min(limit - std::min(limit, PlaylistBody.size()), count));
  LastData = TClock::now();
  // An address that only may be a playlist, whose first bytes are not one, is audio after all.
  if (Probing && PlaylistBody.size() >= 16 && !LooksLikePlaylist(PlaylistBody)) {
    Probing = false;
    Bodies.back().second = Response.MetaInt;
    return true;
  }
  // An HLS playlist names itself by its tags, whatever its Content-Type said.
  if (PlaylistBody.find("#EXT-X-") != std::string::npos) {
    AbortReason = "is an HLS playlist, which PLUMO does not play";
    AbortFinal = true;
    Playlist = Probing = false;
    PlaylistBody.clear();
    return false;
  }
  // Cut at the limit: the transfer ends here.
  return PlaylistBody.size() < limit;
}

void THttpStream::TState::SetPrebuffer(int32_t bitRate) {
  const int64_t bytes = static_cast<int64_t>(bitRate) / 8 * Options.PrebufferMs / 1000;
  ReadyAt = std::clamp<int64_t>(bytes, 1, static_cast<int64_t>(Ring.size()) / 2);
}

size_t THttpStream::TState::OnWrite(char* data, size_t, size_t count, void* self) {
  auto& s = *static_cast<TState*>(self);
  bool ready = false;
  size_t skip = 0;
  {
    std::lock_guard lock(s.Lock);
    if (s.CancelledNow()) return 0;
    if (s.Playlist || s.Probing) {
      if (!s.TakePlaylist(data, count)) return 0;
      if (s.Playlist || s.Probing) return count;
      // Audio after all: what was held back goes first.
      std::string held;
      held.swap(s.PlaylistBody);
      held.erase(held.size() - std::min(held.size(), count));
      s.PutRing(held.data(), held.size());
    }
    // Bytes before the range asked for (a server that sent the whole resource) are dropped.
    // A paused write comes again whole, so the skip is counted only once the bytes are taken.
    skip = static_cast<size_t>(std::min<int64_t>(s.Skip, static_cast<int64_t>(count)));
    const size_t keep = count - skip;
    if (s.Ring.size() - s.Count < keep) {
      s.Paused = true;
      s.PausedNeed = keep;
      return CURL_WRITEFUNC_PAUSE;
    }
    s.Skip -= static_cast<int64_t>(skip);
    s.LastData = TClock::now();
    data += skip;
    count = keep;
    if (count == 0) return skip;
    s.PutRing(data, count);
    s.Reconnecting = false;
    // The prebuffer follows the first frames' bit rate when the station does not name it.
    if (!s.IsReady && s.Probe.size() < 8192) {
      s.Probe.insert(s.Probe.end(), data, data + std::min(count, 8192 - s.Probe.size()));
      if (const int32_t rate = FirstFrameBitRate(s.Probe); rate > 0 && s.Response.BitRate == 0) s.SetPrebuffer(rate);
    }
    // Counted as they arrive, so that a reader that takes them at once does not hold it back.
    ready = !s.IsReady && s.Written >= s.ReadyAt;
    s.Changed.notify_all();
  }
  if (ready) s.AnnounceReady();
  return skip + count;
}

void THttpStream::TState::PutRing(const char* data, size_t count) {
  size_t tail = (Head + Count) % Ring.size();
  for (size_t done = 0; done < count;) {
    const size_t n = std::min(count - done, Ring.size() - tail);
    std::memcpy(Ring.data() + tail, data + done, n);
    done += n;
    tail = (tail + n) % Ring.size();
  }
  Count += count;
  Written += static_cast<int64_t>(count);
  AnyBody = AnyBody || count > 0;
  LastData = TClock::now();
}

size_t THttpStream::TState::OnHeader(char* data, size_t, size_t count, void* self) {
  auto& s = *static_cast<TState*>(self);
  const std::string_view line = Trimmed(std::string_view(data, count));
  TResponse& r = s.Response;
  s.LastData = TClock::now();
  if (StartsWithNoCase(line, "http/") || StartsWithNoCase(line, "icy ")) {
    // A new response (after a redirect or an interim answer): its own status and headers.
    r = {};
    const size_t code = line.find(' ');
    if (code == std::string_view::npos) return count;
    r.Status = std::strtol(std::string(line.substr(code + 1, 3)).c_str(), nullptr, 10);
    if (line.size() > code + 5) r.Reason = std::string(Trimmed(line.substr(code + 5, kMaxHeaderValue)));
    return count;
  }
  if (line.empty()) {
    if (r.Status / 100 == 1) return count;  // more follows
    if (r.Status / 100 == 3 && r.HasLocation) {
      // Followed by the transfer; never from https down to http. A relative location keeps
      // the scheme.
      const bool plain = StartsWithNoCase(r.Location, "http://");
      if (s.Secure && plain) {
        s.AbortReason = "a redirect from https to http (" + WithoutCredentials(r.Location) + ") is refused";
        s.AbortFinal = true;
        return 0;
      }
      s.Secure = s.Secure || StartsWithNoCase(r.Location, "https://");
      return count;
    }
    if (r.Status >= 400) {
      s.AbortReason = "HTTP " + std::to_string(r.Status) + (r.Reason.empty() ? "" : " " + IcyText(r.Reason));
      // A server's trouble may pass, as may a mount whose encoder restarts (404 for a while);
      // another refusal of the address stays.
      s.AbortFinal = r.Status < 500 && r.Status != 404;
      s.Missing = r.Status == 404;
      return 0;
    }
    std::lock_guard lock(s.Lock);
    return s.TakeResponse() ? count : 0;
  }
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return count;
  const std::string_view name = line.substr(0, colon);
  std::string_view value = Trimmed(line.substr(colon + 1));
  if (value.size() > kMaxHeaderValue) {
    // Cut before a UTF-8 character that would not fit whole.
    size_t cut = kMaxHeaderValue;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
    value = value.substr(0, cut);
  }
  const auto is = [&](std::string_view key) { return name.size() == key.size() && StartsWithNoCase(name, key); };
  // A small decimal number (a bit rate, seconds), 0 when it is none.
  const auto number = [&](int64_t most) {
    int64_t n = 0;
    for (const char c : value.substr(0, value.find(','))) {
      if (c < '0' || c > '9') return int64_t{0};
      n = std::min(most, n * 10 + (c - '0'));
    }
    return n;
  };
  if (is("icy-metaint"))
    r.MetaInt = ParseIcyMetaInt(value);
  else if (is("icy-name"))
    r.Name = value;
  else if (is("content-type"))
    r.Type = value;
  else if (is("content-length")) {
    r.HasLength = true;
    r.Length = number(INT64_MAX / 16);
  } else if (is("accept-ranges"))
    r.Ranges = StartsWithNoCase(value, "bytes");
  else if (is("content-range") && StartsWithNoCase(value, "bytes ")) {
    // "bytes FIRST-LAST/TOTAL" (TOTAL may be "*").
    const std::string text(value.substr(6));
    long long first = -1, last = -1, total = -1;
    if (std::sscanf(text.c_str(), "%lld-%lld/%lld", &first, &last, &total) >= 2 && first >= 0) {
      r.RangeStart = first;
      r.Total = total;
    }
  }
  else if (is("icy-br"))
    r.BitRate = static_cast<int32_t>(number(2000)) * 1000;
  else if (is("retry-after"))
    r.RetryAfterMs = static_cast<int32_t>(number(600)) * 1000;  // seconds; a date is not taken
  else if (is("location")) {
    r.HasLocation = true;
    r.Location = value;
  }
  return count;
}

THttpStream::THttpStream(std::string address, THttpOptions options) : FState(std::make_unique<TState>()) {
  InitCurl();
  TState& s = *FState;
  s.Address = std::move(address);
  s.Shown = WithoutCredentials(s.Address);
  s.Options = std::move(options);
  s.Ring.resize(static_cast<size_t>(std::max(s.Options.BufferBytes, kMinBuffer)));
  s.Options.PrebufferBytes = std::clamp<int32_t>(s.Options.PrebufferBytes, 1, static_cast<int32_t>(s.Ring.size()));
  s.ReadyAt = s.Options.PrebufferBytes;
  s.Options.StallTimeoutMs = std::max<int32_t>(s.Options.StallTimeoutMs, 1);
  s.Multi.reset(curl_multi_init());
  if (!s.Multi) throw EStreamError(s.Shown + ": out of memory");
  s.Worker = std::thread([&s] { s.Run(); });
}

THttpStream::~THttpStream() {
  Cancel();
  if (FState->Worker.joinable()) FState->Worker.join();
}

bool THttpStream::Ready() const {
  std::lock_guard lock(FState->Lock);
  return FState->IsReady || FState->CancelledNow();
}

void THttpStream::WaitReady() {
  TState& s = *FState;
  std::unique_lock lock(s.Lock);
  while (!s.IsReady && !s.CancelledNow()) s.Changed.wait_for(lock, std::chrono::milliseconds(kPollMs));
  if (!s.Cancelled && !s.Failure.empty()) throw EStreamError(s.Failure);
}

void THttpStream::Cancel() {
  {
    std::lock_guard lock(FState->Lock);
    FState->Cancelled = true;
    FState->Changed.notify_all();
  }
  curl_multi_wakeup(FState->Multi.get());
}

int32_t THttpStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  TState& s = *FState;
  auto* out = static_cast<uint8_t*>(buffer);
  for (;;) {
    size_t audio = 0;
    bool titled = false, wake = false;
    {
      std::unique_lock lock(s.Lock);
      // A title read behind audio already returned names the audio from here on.
      if (s.PendingTitle) {
        s.Title = std::move(*s.PendingTitle);
        s.PendingTitle.reset();
        titled = true;
      }
      while (!titled) {
        while (!s.CancelledNow() && s.Count == 0 && !s.Ended)
          s.Changed.wait_for(lock, std::chrono::milliseconds(kPollMs));
        if (s.Cancelled) return 0;
        if (s.Count == 0) {
          if (audio > 0) break;
          if (!s.Failure.empty()) throw EStreamError(s.Failure);
          return 0;
        }
        // Each response's body starts the metadata count afresh, at its own first byte.
        while (!s.Bodies.empty() && s.Bodies.front().first <= s.Taken) {
          s.Demux = TIcyDemux(s.Bodies.front().second);
          s.Bodies.pop_front();
        }
        size_t available = std::min(s.Count, s.Ring.size() - s.Head);
        if (!s.Bodies.empty()) available = std::min<size_t>(available, s.Bodies.front().first - s.Taken);
        const TIcyDemux::TStep step = s.Demux.Feed(std::span(s.Ring.data() + s.Head, available),
                                                   std::span(out + audio, static_cast<size_t>(count) - audio));
        s.Head = (s.Head + step.Consumed) % s.Ring.size();
        s.Count -= step.Consumed;
        s.Taken += static_cast<int64_t>(step.Consumed);
        audio += step.Audio;
        if (step.Title && s.Demux.Title() != s.Title) {
          if (audio > 0) {
            s.PendingTitle = s.Demux.Title();
            break;
          }
          s.Title = s.Demux.Title();
          titled = true;
        }
        if (audio == static_cast<size_t>(count) || (audio > 0 && s.Count == 0)) break;
      }
      wake = s.Paused && s.Ring.size() - s.Count >= s.PausedNeed;
    }
    if (wake) curl_multi_wakeup(s.Multi.get());
    if (titled && OnTitleChange) OnTitleChange();
    if (audio > 0) return static_cast<int32_t>(audio);
  }
}

int64_t THttpStream::Seek(int64_t, TSeekOrigin) {
  throw EStreamError("Stream seek error: " + FState->Shown + ". Illegal seek");
}

int64_t THttpStream::Size() { throw EStreamError("Stream seek error: " + FState->Shown + ". Illegal seek"); }

std::string THttpStream::Address() const { return FState->Address; }

std::string THttpStream::StationName() const {
  std::lock_guard lock(FState->Lock);
  return FState->Station;
}

std::string THttpStream::StreamTitle() const {
  std::lock_guard lock(FState->Lock);
  return FState->Title;
}

std::string THttpStream::EndMessage() const {
  std::lock_guard lock(FState->Lock);
  return FState->Count == 0 && FState->Ended ? FState->EndText : std::string();
}

std::string THttpStream::ContentType() const {
  std::lock_guard lock(FState->Lock);
  return FState->Type;
}

bool THttpStream::IsPlaylist() const {
  std::lock_guard lock(FState->Lock);
  return FState->Playlist;
}

std::string THttpStream::PlaylistText() const {
  std::lock_guard lock(FState->Lock);
  return FState->Playlist ? FState->PlaylistBody : std::string();
}

bool THttpStream::Reconnecting() const {
  std::lock_guard lock(FState->Lock);
  return FState->Reconnecting && !FState->Cancelled;
}

bool THttpStream::IsFile() const {
  std::lock_guard lock(FState->Lock);
  return FState->File;
}

int64_t THttpStream::FileSize() const {
  std::lock_guard lock(FState->Lock);
  return FState->FileBytes;
}

bool THttpStream::AcceptsRanges() const {
  std::lock_guard lock(FState->Lock);
  return FState->FileRanges;
}

bool THttpStream::BufferFull() const {
  std::lock_guard lock(FState->Lock);
  return FState->Paused && !FState->Cancelled;
}

}  // namespace plumo
