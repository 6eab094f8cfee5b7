#include "icecast_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <vector>

namespace plumo::test {

namespace {

constexpr const char* kSourcePassword = "plumo-source";
constexpr const char* kAdminPassword = "plumo-admin";

// A loopback port nothing listens on now.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

IcecastServer::IcecastServer() {
  // When the tests run as root the server runs as nobody: it must reach its folder through the
  // temporary one and write its logs there.
  ::chmod(FDir.Path().c_str(), 0711);
  FRoot = FDir / "icecast";
  ::mkdir(FRoot.c_str(), 0777);
  ::chmod(FRoot.c_str(), 0777);
}

IcecastServer::~IcecastServer() {
  KillSource();
  Kill();
}

bool IcecastServer::Installed() {
  return !FindProgram("icecast2").empty() && !FindProgram("ffmpeg").empty() && !FindProgram("curl").empty() &&
         !FindProgram("setpriv").empty();
}

std::string IcecastServer::Url(const std::string& mount) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + mount;
}

bool IcecastServer::Start(int port) {
  Kill();
  // Another program may take the free port before the server binds it: try again then.
  for (int attempt = 0; attempt < 5; ++attempt) {
    FPort = port > 0 ? port : FreePort();
    if (FPort == 0) return false;
    const std::string config = FRoot + "/icecast.xml";
    {
      std::ofstream out(config);
      out << "<icecast>\n"
             "  <location>PLUMO tests</location><admin>plumo@localhost</admin>\n"
             "  <limits><clients>32</clients><sources>4</sources><queue-size>524288</queue-size>\n"
             "    <client-timeout>30</client-timeout><header-timeout>15</header-timeout>\n"
             "    <source-timeout>10</source-timeout><burst-on-connect>1</burst-on-connect>\n"
             "    <burst-size>65535</burst-size></limits>\n"
             "  <authentication><source-password>"
          << kSourcePassword << "</source-password><admin-user>admin</admin-user><admin-password>"
          << kAdminPassword
          << "</admin-password></authentication>\n"
             "  <hostname>127.0.0.1</hostname>\n"
             "  <listen-socket><port>"
          << FPort
          << "</port><bind-address>127.0.0.1</bind-address></listen-socket>\n"
             "  <fileserve>0</fileserve>\n"
             // Titles reach the listeners in UTF-8 as given (an MP3 mount's default is Latin-1).
             "  <mount type=\"default\"><charset>UTF-8</charset></mount>\n"
             "  <paths><basedir>"
          << FRoot << "</basedir><logdir>" << FRoot << "</logdir><webroot>" << FRoot << "</webroot><adminroot>"
          << FRoot << "</adminroot><pidfile>" << FRoot
          << "/icecast.pid</pidfile></paths>\n"
             "  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog><loglevel>3</loglevel>"
             "</logging>\n"
             "  <security><chroot>0</chroot></security>\n"
             "</icecast>\n";
    }
    ::chmod(config.c_str(), 0644);
    std::vector<std::string> argv{FindProgram("setpriv"), "--pdeathsig=KILL", FindProgram("icecast2"), "-c", config};
    // Icecast refuses root.
    if (::geteuid() == 0) argv.insert(argv.begin() + 2, {"--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    FServer = std::make_unique<Child>(argv, std::map<std::string, std::string>{}, FDir / "server.out");
    const bool up = PollUntil(
        [&] { return !FServer->Running() || Admin({"/admin/stats"}).find("<icestats>") != std::string::npos; },
        20000);
    if (up && FServer->Running()) return true;
    Kill();
  }
  return false;
}

bool IcecastServer::StartSource(const std::string& file, const std::string& station_name, const std::string& mount) {
  KillSource();
  const std::string target =
      "icecast://source:" + std::string(kSourcePassword) + "@127.0.0.1:" + std::to_string(FPort) + mount;
  FSource = std::make_unique<Child>(
      std::vector<std::string>{FindProgram("setpriv"), "--pdeathsig=KILL", FindProgram("ffmpeg"), "-nostdin", "-loglevel", "error", "-re", "-stream_loop", "-1",
                               "-i", file, "-c", "copy", "-content_type", "audio/mpeg", "-ice_name", station_name,
                               "-id3v2_version", "0", "-write_xing", "0", "-f", "mp3", target},
      std::map<std::string, std::string>{}, FDir / "source.out");
  return PollUntil([&] { return !FSource->Running() || MountLive(mount); }, 20000) && FSource->Running();
}

bool IcecastServer::MountLive(const std::string& mount) {
  return Admin({"/admin/stats"}).find("<source mount=\"" + mount + "\">") != std::string::npos;
}

bool IcecastServer::SetTitle(const std::string& title, const std::string& mount) {
  return Admin({"/admin/metadata", "mount=" + mount, "mode=updinfo", "charset=UTF-8", "song=" + title})
             .find("<return>1</return>") != std::string::npos;
}

std::string IcecastServer::Admin(const std::vector<std::string>& args) {
  std::vector<std::string> argv{FindProgram("curl"), "-s", "-f", "-m", "10", "-u",
                                std::string("admin:") + kAdminPassword, "-G"};
  for (size_t i = 1; i < args.size(); ++i) {
    argv.push_back("--data-urlencode");
    argv.push_back(args[i]);
  }
  argv.push_back(Url(args.at(0)));
  const std::string out = FDir / "admin.out";
  Child curl(argv, {}, out);
  if (curl.Wait(15000) != 0) return "";
  return ReadText(out);
}

void IcecastServer::KillSource() {
  if (!FSource) return;
  FSource->Signal(SIGKILL);
  FSource->Wait(10000);
  FSource.reset();
}

void IcecastServer::Kill() {
  if (!FServer) return;
  FServer->Signal(SIGKILL);
  FServer->Wait(10000);
  FServer.reset();
}

std::string IcecastServer::Log() const {
  return ReadText(FDir / "server.out") + ReadText(FRoot + "/error.log") + ReadText(FDir / "source.out");
}

}  // namespace plumo::test
