#include "settings_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "instance_lock.h"
#include "test_support.h"

namespace plumo::platform {
namespace {

TEST(SettingsPathTest, ExtensionBecomesIni) {
  EXPECT_EQ(ChangeExtensionToIni("/usr/bin/plumo"), "/usr/bin/plumo.INI");
  EXPECT_EQ(ChangeExtensionToIni("/opt/p.lumo/PLUMO.EXE"), "/opt/p.lumo/PLUMO.INI");
  EXPECT_EQ(ChangeExtensionToIni("/opt/p.lumo/plumo"), "/opt/p.lumo/plumo.INI");
}

TEST(SettingsPathTest, BesideAWritableExecutableElseInTheConfigFolder) {
  test::TempDir dir;
  EXPECT_EQ(SettingsFileNameFor(dir / "plumo", "", "/home/u"), dir / "plumo.INI");
  const std::string locked = dir / "locked";
  ASSERT_EQ(::mkdir(locked.c_str(), 0555), 0);
  if (::geteuid() != 0) {
    EXPECT_EQ(SettingsFileNameFor(locked + "/plumo", "/cfg", "/home/u"), "/cfg/plumo/PLUMO.INI");
    EXPECT_EQ(SettingsFileNameFor(locked + "/plumo", "", "/home/u"), "/home/u/.config/plumo/PLUMO.INI");
  }
  EXPECT_EQ(SettingsFileNameFor("/nonexistent-folder/plumo", "/cfg", "/home/u"), "/cfg/plumo/PLUMO.INI");
  EXPECT_EQ(SettingsFileNameFor("/nonexistent-folder/plumo", "relative", "/home/u"), "/home/u/.config/plumo/PLUMO.INI");
}

TEST(SettingsPathTest, ThisProcessUsesItsExecutablesName) {
  const std::string exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(SettingsFileName(), ChangeExtensionToIni(exe)) << "the build folder is writable";
}

TEST(InstanceLockTest, SecondHolderIsRefusedUntilTheFirstGoes) {
  auto first = InstanceLock::TryAcquire("PLUMO-test-lock");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(InstanceLock::TryAcquire("PLUMO-test-lock"), nullptr);
  first.reset();
  EXPECT_NE(InstanceLock::TryAcquire("PLUMO-test-lock"), nullptr);
}

}  // namespace
}  // namespace plumo::platform
