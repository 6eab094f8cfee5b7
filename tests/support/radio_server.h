// tests/support/radio_server.py on a free loopback port, for the tests of stations and files on
// a server.
#pragma once

#include <memory>
#include <string>

#include "child_process.h"

namespace plumo::test {

class RadioServer {
 public:
  // With tls, it serves https with the tests' self-signed certificate.
  explicit RadioServer(bool tls = false);
  std::string Url(const std::string& path) const;
  // What the server printed: its port, then the ranges asked for.
  std::string Output() const;

 private:
  std::string FScheme;
  TempDir FDir;
  std::unique_ptr<Child> FChild;
  int FPort = 0;
};

}  // namespace plumo::test
