#include "test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace plumo::test {

namespace fs = std::filesystem;

SessionBus::SessionBus() {
  if (!Available()) return;
  int fds[2];
  if (::pipe(fds) != 0) return;
  FDaemon = std::make_unique<Child>(
      std::vector<std::string>{"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                               "--print-address=" + std::to_string(fds[1])},
      std::map<std::string, std::string>{}, std::string(), fds[1]);
  ::close(fds[1]);
  char c;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') FAddress += c;
  ::close(fds[0]);
}

bool SessionBus::Available() { return fs::exists("/usr/bin/dbus-daemon"); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void CopyFile(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void LongCopy(const std::string& from, const std::string& to) {
  const std::string data = ReadFile(from);
  const bool tagged = data.size() > 128 && data.compare(data.size() - 128, 3, "TAG") == 0;
  const std::string frames = tagged ? data.substr(0, data.size() - 128) : data;
  std::string out;
  for (int i = 0; i < 100; ++i) out += frames;
  if (tagged) out += data.substr(data.size() - 128);
  WriteFile(to, out);
}

std::string DataPath(const std::string& relative) { return std::string(PLUMO_TEST_DATA) + "/" + relative; }

bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

namespace {

// A socket bound to a free loopback port; its "http://127.0.0.1:PORT".
int BindLoopback(std::string& address_text) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    throw std::runtime_error("no loopback port");
  address_text = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  return fd;
}

}  // namespace

std::string UnusedLoopbackAddress() {
  std::string address;
  ::close(BindLoopback(address));
  return address;
}

SilentServer::SilentServer() {
  FFd = BindLoopback(FAddress);
  // The kernel completes the connections; no one ever reads or answers them.
  if (::listen(FFd, 16) != 0) {
    ::close(FFd);
    throw std::runtime_error("cannot listen on " + FAddress);
  }
}

SilentServer::~SilentServer() { ::close(FFd); }

}  // namespace plumo::test
