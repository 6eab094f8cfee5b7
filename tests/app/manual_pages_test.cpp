// The manual pages render without a warning and name every option their program's --help lists.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "test_support.h"

namespace plumo {
namespace {

TEST(ManualPagesTest, RenderCleanlyAndNameEveryOption) {
  if (!test::HaveProgram("man")) GTEST_SKIP() << "man is not installed";
  const std::pair<std::string, std::string> programs[] = {
      {PLUMO_PANEL_BINARY, "/src/app/plumo.1"},
      {PLUMO_PLAY_BINARY, "/tools/plumo-play/plumo-play.1"},
      {PLUMO_DECODE_BINARY, "/tools/plumo-decode/plumo-decode.1"}};
  for (const auto& [program, page] : programs) {
    const std::string path = std::string(PLUMO_SOURCE_DIR) + page;
    SCOPED_TRACE(path);
    EXPECT_EQ(test::Capture("LC_ALL=C MANWIDTH=80 man --warnings -l '" + path + "' 2>&1 >/dev/null"), "");
    const std::string text = test::Capture("LC_ALL=C MANWIDTH=200 man -l '" + path + "' 2>/dev/null | col -b");
    const std::string help = test::Capture("QT_QPA_PLATFORM=offscreen '" + program + "' --help");
    ASSERT_FALSE(help.empty());
    // Each "--name" of the help text.
    for (size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
      size_t end = at + 2;
      while (end < help.size() && (std::islower(static_cast<unsigned char>(help[end])) || help[end] == '-')) ++end;
      if (end == at + 2) continue;
      const std::string option = help.substr(at, end - at);
      EXPECT_NE(text.find(option), std::string::npos) << option << " is not in the page";
      at = end - 2;
    }
  }
}

}  // namespace
}  // namespace plumo
