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

}  // namespace

struct THttpStream::TState {
  std::string Address;
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
  size_t PausedNeed = 0;
  std::string Failure;  // the connection failed before any byte arrived
  std::string EndText;
  std::string Station, Title, Type;

  // The transfer thread's own.
  struct TResponse {
    long Status = 0;
    std::string Reason;
    bool Location = false;
    int64_t MetaInt = 0;
    std::string Name, Type;
  } Response;
  std::string AbortReason;
  TClock::time_point LastData;
  bool ReadyAnnounced = false;

  // The reading thread's own (under Lock, as StreamTitle reads Title).
  TIcyDemux Demux;
  std::optional<std::string> PendingTitle;

  std::thread Worker;

  void Run();
  // One connection; true when the server ended it cleanly, else reason says why it failed and
  // retry whether a new connection may help.
  bool Transfer(std::string& reason, bool& retry);
  void AnnounceReady();
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
  for (int attempt = 0;; ++attempt) {
    std::string reason;
    bool retry = false;
    const bool clean = Transfer(reason, retry);
    std::lock_guard lock(Lock);
    if (Cancelled || clean) break;
    if (!AnyBody) {
      Failure = Address + ": " + reason;
      break;
    }
    if (attempt == 0 && retry && Options.ReconnectOnce) continue;
    EndText = Address + ": " + reason;
    break;
  }
  {
    std::lock_guard lock(Lock);
    Ended = true;
  }
  AnnounceReady();
}

bool THttpStream::TState::Transfer(std::string& reason, bool& retry) {
  std::unique_ptr<CURL, TEasyDeleter> easy(curl_easy_init());
  std::unique_ptr<curl_slist, TListDeleter> headers(curl_slist_append(nullptr, "Icy-MetaData: 1"));
  if (!easy || !headers) {
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
  curl_easy_setopt(e, CURLOPT_USERAGENT, "PLUMO/" PLUMO_VERSION);
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  // Cancelling never waits for a name lookup that hangs.
  curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &TState::OnWrite);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &TState::OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  Response = {};
  AbortReason.clear();
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
      if (Cancelled) break;
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
    return false;
  }
  retry = true;
  if (result == CURLE_TOO_MANY_REDIRECTS)
    reason = "too many redirects (more than " + std::to_string(Options.MaxRedirects) + ")";
  else if (error[0] != '\0')
    reason = error;
  else
    reason = curl_easy_strerror(result);
  return false;
}

size_t THttpStream::TState::OnWrite(char* data, size_t, size_t count, void* self) {
  auto& s = *static_cast<TState*>(self);
  bool ready = false;
  {
    std::lock_guard lock(s.Lock);
    if (s.Cancelled) return 0;
    if (s.Ring.size() - s.Count < count) {
      s.Paused = true;
      s.PausedNeed = count;
      return CURL_WRITEFUNC_PAUSE;
    }
    size_t tail = (s.Head + s.Count) % s.Ring.size();
    for (size_t done = 0; done < count;) {
      const size_t n = std::min(count - done, s.Ring.size() - tail);
      std::memcpy(s.Ring.data() + tail, data + done, n);
      done += n;
      tail = (tail + n) % s.Ring.size();
    }
    s.Count += count;
    s.Written += static_cast<int64_t>(count);
    s.AnyBody = s.AnyBody || count > 0;
    s.LastData = TClock::now();
    // Counted as they arrive, so that a reader that takes them at once does not hold it back.
    ready = !s.IsReady && s.Written >= s.Options.PrebufferBytes;
    s.Changed.notify_all();
  }
  if (ready) s.AnnounceReady();
  return count;
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
    if (r.Status / 100 == 1 || (r.Status / 100 == 3 && r.Location)) return count;  // more follows
    if (r.Status >= 400) {
      s.AbortReason = "HTTP " + std::to_string(r.Status) + (r.Reason.empty() ? "" : " " + IcyText(r.Reason));
      return 0;
    }
    std::lock_guard lock(s.Lock);
    s.Station = IcyText(r.Name);
    s.Type = IcyText(r.Type);
    s.Bodies.emplace_back(s.Written, r.MetaInt);
    return count;
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
  if (is("icy-metaint"))
    r.MetaInt = ParseIcyMetaInt(value);
  else if (is("icy-name"))
    r.Name = value;
  else if (is("content-type"))
    r.Type = value;
  else if (is("location"))
    r.Location = true;
  return count;
}

THttpStream::THttpStream(std::string address, THttpOptions options) : FState(std::make_unique<TState>()) {
  InitCurl();
  TState& s = *FState;
  s.Address = std::move(address);
  s.Options = std::move(options);
  s.Ring.resize(static_cast<size_t>(std::max(s.Options.BufferBytes, kMinBuffer)));
  s.Options.PrebufferBytes = std::clamp<int32_t>(s.Options.PrebufferBytes, 1, static_cast<int32_t>(s.Ring.size()));
  s.Options.StallTimeoutMs = std::max<int32_t>(s.Options.StallTimeoutMs, 1);
  s.Multi.reset(curl_multi_init());
  if (!s.Multi) throw EStreamError(s.Address + ": out of memory");
  s.Worker = std::thread([&s] { s.Run(); });
}

THttpStream::~THttpStream() {
  Cancel();
  if (FState->Worker.joinable()) FState->Worker.join();
}

bool THttpStream::Ready() const {
  std::lock_guard lock(FState->Lock);
  return FState->IsReady || FState->Cancelled;
}

void THttpStream::WaitReady() {
  std::unique_lock lock(FState->Lock);
  FState->Changed.wait(lock, [this] { return FState->IsReady || FState->Cancelled; });
  if (!FState->Cancelled && !FState->Failure.empty()) throw EStreamError(FState->Failure);
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
        s.Changed.wait(lock, [&s] { return s.Cancelled || s.Count > 0 || s.Ended; });
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
  throw EStreamError("Stream seek error: " + FState->Address + ". Illegal seek");
}

int64_t THttpStream::Size() { throw EStreamError("Stream seek error: " + FState->Address + ". Illegal seek"); }

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

}  // namespace plumo
