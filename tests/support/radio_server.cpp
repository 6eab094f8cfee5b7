#include "radio_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "test_files.h"

namespace plumo::test {

RadioServer::RadioServer(bool tls) : FScheme(tls ? "https" : "http") {
  std::vector<std::string> argv = {FindProgram("python3"), PLUMO_RADIO_SERVER};
  if (tls) argv.insert(argv.end(), {"--tls", DataPath("net/selfsigned.pem"), DataPath("net/selfsigned.key")});
  FChild = std::make_unique<Child>(argv, std::map<std::string, std::string>{}, FDir / "out.txt");
  const bool up = PollUntil([&] {
    const std::string out = Output();
    if (out.find('\n') == std::string::npos) return false;
    FPort = std::atoi(out.c_str());
    return true;
  });
  EXPECT_TRUE(up && FPort > 0) << Output();
}

std::string RadioServer::Url(const std::string& path) const {
  return FScheme + "://127.0.0.1:" + std::to_string(FPort) + path;
}

std::string RadioServer::Output() const {
  std::ifstream in(FDir / "out.txt", std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace plumo::test
