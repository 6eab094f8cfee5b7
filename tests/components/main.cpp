// The components need a Qt application; the tests run on Qt's offscreen platform, on a screen
// that does not begin at the desktop's origin (as a primary monitor right of another).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  const std::string screens = "/tmp/plumo-components-screens-" + std::to_string(::getpid()) + ".json";
  std::ofstream(screens) << R"({"screens": [{"name": "Primary", "x": 1024, "y": 120, "width": 1280, "height": 800}]})";
  setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens).c_str(), 1);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ::unlink(screens.c_str());
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
