#include "http_file_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace plumo {

namespace {

// A read this far ahead of the fetch waits for it rather than asking for a range of its own.
constexpr int64_t kNearBytes = 512 * 1024;
// Fetches in a row that break off without a byte before reading fails.
constexpr int kMaxFailures = 3;
constexpr int kPollMs = 250;
constexpr int32_t kPiece = 65536;

// An unnamed file in the temporary directory: it goes when it is closed, also after a crash.
int OpenScratchFile() {
  const char* dir = std::getenv("TMPDIR");
  const std::string base = dir && *dir ? dir : "/tmp";
  int fd = open(base.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = base + "/plumo-XXXXXX";
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

}  // namespace

struct THttpFileStream::TState {
  std::string Address, Shown;
  THttpOptions Options;
  int64_t Size = 0;
  int Fd = -1;

  mutable std::mutex Lock;
  std::condition_variable Changed;
  // Under Lock: the byte ranges fetched (first -> end), where the fetch goes on, where a reader
  // wants it to go on (-1: nowhere else; FetchAt is Size while nothing is fetched), the transfer
  // (set and cleared by the fetching thread).
  std::map<int64_t, int64_t> Have;
  int64_t FetchAt = 0;
  int64_t Want = -1;
  THttpStream* Transfer = nullptr;
  bool Cancelled = false;
  int Interrupts = 0;  // InterruptReads on less off
  std::string Failure;

  // The reader's own.
  int64_t Position = 0;

  std::thread Fetcher;

  // Under Lock: fetched bytes from p on, in one piece.
  int64_t HaveFrom(int64_t p) const {
    auto it = Have.upper_bound(p);
    if (it == Have.begin()) return 0;
    --it;
    return it->second > p ? it->second - p : 0;
  }
  // Under Lock: the first byte not fetched at or after p, wrapping round to the start; Size when
  // every byte is.
  int64_t NextGap(int64_t p) const {
    for (int round = 0; round < 2; ++round, p = 0) {
      while (p < Size) {
        const int64_t have = HaveFrom(p);
        if (have == 0) return p;
        p += have;
      }
    }
    return Size;
  }
  void Add(int64_t first, int64_t end) {
    auto it = Have.upper_bound(first);
    if (it != Have.begin() && std::prev(it)->second >= first) {
      --it;
      first = it->first;
    }
    while (it != Have.end() && it->first <= end) {
      end = std::max(end, it->second);
      it = Have.erase(it);
    }
    Have[first] = end;
  }
  void Run(std::unique_ptr<THttpStream> first);
};

void THttpFileStream::TState::Run(std::unique_ptr<THttpStream> transfer) {
  std::vector<uint8_t> piece(kPiece);
  int failures = 0;
  int64_t at = 0;
  std::unique_lock lock(Lock);
  Transfer = transfer.get();
  // Under Lock: readers call Transfer->Cancel() while it is set.
  const auto drop = [&] {
    Transfer = nullptr;
    transfer.reset();
  };
  while (!Cancelled) {
    // A reader far from the fetch moves it; the transfer going on is given up.
    if (Want >= 0) {
      const int64_t gap = NextGap(Want);
      Want = -1;
      if (gap != at) {
        drop();
        at = gap;
        failures = 0;
        Failure.clear();
      }
    }
    if (transfer && HaveFrom(at) > 0) drop();  // it came to bytes fetched before
    if (!transfer) {
      at = NextGap(at);
      FetchAt = at;
      if (at >= Size || failures >= kMaxFailures) {
        // Everything is here, or the server gives no more: wait for a reader's wish.
        Changed.notify_all();
        Changed.wait(lock, [&] { return Cancelled || Want >= 0; });
        continue;
      }
      if (failures > 0) {
        // A pause before asking again: 1, 2 s.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1 << (failures - 1));
        while (!Cancelled && Want < 0 && std::chrono::steady_clock::now() < until)
          Changed.wait_for(lock, std::chrono::milliseconds(kPollMs));
        if (Cancelled || Want >= 0) continue;
      }
      THttpOptions options = Options;
      options.RangeFrom = at;
      options.Reconnect = false;
      options.OnReady = nullptr;
      lock.unlock();
      auto fresh = std::make_unique<THttpStream>(Address, options);
      lock.lock();
      transfer = std::move(fresh);
      Transfer = transfer.get();
      if (Cancelled || Want >= 0) continue;
    }
    FetchAt = at;
    lock.unlock();
    int32_t got = 0;
    std::string broke;
    try {
      got = transfer->Read(piece.data(), kPiece);
      if (got == 0) broke = transfer->EndMessage();
      if (got == 0 && broke.empty()) broke = Shown + ": the server ended the file early";
    } catch (const EStreamError& e) {
      broke = e.what();
    }
    const size_t n = static_cast<size_t>(std::min<int64_t>(got, std::max<int64_t>(0, Size - at)));
    int error = 0;
    for (size_t done = 0; done < n && error == 0;) {
      const ssize_t w = pwrite(Fd, piece.data() + done, n - done, at + static_cast<int64_t>(done));
      if (w > 0)
        done += static_cast<size_t>(w);
      else if (w == 0)
        error = ENOSPC;
      else if (errno != EINTR)
        error = errno;
    }
    lock.lock();
    if (error != 0) {
      Failure = Shown + ": cannot keep the file's bytes (" + std::strerror(error) + ")";
      Cancelled = true;
      Changed.notify_all();
      break;
    }
    if (n > 0) {
      Add(at, at + static_cast<int64_t>(n));
      at += static_cast<int64_t>(n);
      FetchAt = at;
      failures = 0;
      Changed.notify_all();
      continue;
    }
    // Ended without a byte: asked elsewhere, cancelled, at the end, or broken off.
    drop();
    if (Cancelled || Want >= 0) continue;
    if (at < Size && ++failures >= kMaxFailures) {
      Failure = broke;
      Changed.notify_all();
    }
  }
  drop();
}

THttpFileStream::THttpFileStream(std::unique_ptr<THttpStream> first, THttpOptions options)
    : FState(std::make_unique<TState>()) {
  TState& s = *FState;
  s.Address = first->Address();
  s.Shown = WithoutCredentials(s.Address);
  s.Options = std::move(options);
  s.Size = first->FileSize();
  s.Fd = OpenScratchFile();
  if (s.Fd < 0) throw EStreamError(s.Shown + ": no room for the file's bytes (" + std::strerror(errno) + ")");
  s.Fetcher = std::thread([&s, f = std::move(first)]() mutable { s.Run(std::move(f)); });
}

THttpFileStream::~THttpFileStream() {
  {
    std::lock_guard lock(FState->Lock);
    FState->Cancelled = true;
    if (FState->Transfer) FState->Transfer->Cancel();
    FState->Changed.notify_all();
  }
  if (FState->Fetcher.joinable()) FState->Fetcher.join();
  close(FState->Fd);
}

int32_t THttpFileStream::Read(void* buffer, int32_t count) {
  TState& s = *FState;
  if (count <= 0) return 0;
  std::unique_lock lock(s.Lock);
  for (;;) {
    if (s.Cancelled && s.Failure.empty()) return 0;
    if (s.Position >= s.Size) return 0;
    if (const int64_t have = s.HaveFrom(s.Position); have > 0) {
      const int64_t at = s.Position;
      const size_t n = static_cast<size_t>(std::min<int64_t>(count, have));
      lock.unlock();
      // Fetched bytes are written once and never again: they are read without the lock.
      for (size_t done = 0; done < n;) {
        const ssize_t r = pread(s.Fd, static_cast<uint8_t*>(buffer) + done, n - done, at + static_cast<int64_t>(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) throw EStreamError("Stream read error: " + s.Shown + ". " + std::strerror(errno));
        done += static_cast<size_t>(r);
      }
      s.Position += static_cast<int64_t>(n);
      return static_cast<int32_t>(n);
    }
    if (!s.Failure.empty()) throw EStreamError(s.Failure);
    if (s.Options.Abort && s.Options.Abort->load()) return 0;
    if (s.Interrupts > 0) throw TReadInterrupted{};
    // Far from the fetch (or before it): the fetch goes on from here.
    const bool near = s.Position >= s.FetchAt && s.Position - s.FetchAt < kNearBytes;
    if (!near && s.Want != s.Position) {
      s.Want = s.Position;
      if (s.Transfer) s.Transfer->Cancel();
      s.Changed.notify_all();
    }
    s.Changed.wait_for(lock, std::chrono::milliseconds(kPollMs));
  }
}

int64_t THttpFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  TState& s = *FState;
  const int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? s.Position : s.Size;
  if (base + offset < 0) throw EStreamError("Stream seek error: " + s.Shown + ". Invalid argument");
  s.Position = base + offset;
  return s.Position;
}

int64_t THttpFileStream::Size() { return FState->Size; }

void THttpFileStream::InterruptReads(bool on) {
  std::lock_guard lock(FState->Lock);
  FState->Interrupts += on ? 1 : -1;
  FState->Changed.notify_all();
}

int64_t THttpFileStream::ReadyBytes() {
  std::lock_guard lock(FState->Lock);
  return FState->HaveFrom(FState->Position);
}

TNamedStream FileOrStation(std::unique_ptr<THttpStream> response, THttpOptions options) {
  TNamedStream result;
  if (!response->IsFile()) {
    result.Stream = std::move(response);
    return result;
  }
  result.Seekable = response->AcceptsRanges();
  result.Stream = std::make_unique<THttpFileStream>(std::move(response), std::move(options));
  return result;
}

}  // namespace plumo
