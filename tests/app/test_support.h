// Helpers of the panel's tests: files, programs on the PATH; child processes in child_process.h.
#pragma once

#include <memory>
#include <string>

#include "child_process.h"
#include "file_stream.h"

namespace plumo::test {

// A D-Bus session bus of its own (dbus-daemon --session), stopped at the end.
class SessionBus {
 public:
  SessionBus();
  // The bus's address ("" when dbus-daemon could not be started).
  const std::string& Address() const { return FAddress; }
  static bool Available();

 private:
  std::unique_ptr<Child> FDaemon;
  std::string FAddress;
};

// A file stream that gives its first block and then fails, as a file on a failing disk or share.
class FailsAfterFirstBlock final : public TStream {
 public:
  explicit FailsAfterFirstBlock(const std::string& path) : FFile(path) {}
  int32_t Read(void* buffer, int32_t count) override {
    if (FReads++ > 0) throw EStreamError("Stream read error: the disk went away");
    return FFile.Read(buffer, count);
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FFile.Seek(offset, origin); }

 private:
  TFileStream FFile;
  int FReads = 0;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
void CopyFile(const std::string& from, const std::string& to);
// A sample's frames a hundred times over (about a minute for the playlist samples) with its
// ID3v1 tag at the end, so that nothing ends by itself while a test goes on.
void LongCopy(const std::string& from, const std::string& to);
std::string DataPath(const std::string& relative);
// Whether a program of that name is on the PATH.
bool HaveProgram(const std::string& name);
// "http://127.0.0.1:PORT" of a loopback port nothing listens on (bound and given up at once).
std::string UnusedLoopbackAddress();

// A loopback server that takes connections and never answers (a station hanging up the listener).
class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  // "http://127.0.0.1:PORT".
  const std::string& Address() const { return FAddress; }

 private:
  int FFd = -1;
  std::string FAddress;
};

}  // namespace plumo::test
