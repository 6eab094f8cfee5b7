#include "session_bus.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace plumo::platform {

bool SessionBusExpected() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && address[0] != '\0') return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code error;
  return runtime != nullptr && runtime[0] == '/' && std::filesystem::is_socket(std::string(runtime) + "/bus", error);
}

}  // namespace plumo::platform
