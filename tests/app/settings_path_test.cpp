#include "settings_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

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

// Without $XDG_RUNTIME_DIR (and without $HOME for the settings) the files live in the user's
// private folder in /tmp, which must be a real folder of the user's own, closed to others.
TEST(SettingsPathTest, PrivateFolderIsTheUsersOwnOrRefused) {
  test::TempDir dir;
  const std::string own = dir / ("plumo-" + std::to_string(::geteuid()));
  EXPECT_EQ(SettingsFileNameFor("/nonexistent-folder/plumo", "", "", dir.Path()), own + "/.config/plumo/PLUMO.INI");
  struct stat st {};
  ASSERT_EQ(::lstat(own.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(PrivateFolder(dir.Path()), own) << "found again";

  const std::string elsewhere = dir / "elsewhere";
  ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
  const std::pair<const char*, std::function<void()>> squatted[] = {
      {"a link", [&] { ASSERT_EQ(::symlink(elsewhere.c_str(), own.c_str()), 0); }},
      {"a file", [&] { test::WriteFile(own, ""); }},
      {"open to others", [&] { ASSERT_EQ(::mkdir(own.c_str(), 0777), 0); ASSERT_EQ(::chmod(own.c_str(), 0777), 0); }},
      {"another user's", [&] { ASSERT_EQ(::mkdir(own.c_str(), 0700), 0); ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0); }},
  };
  for (const auto& [what, make] : squatted) {
    if (std::string(what) == "another user's" && ::geteuid() != 0) continue;  // only root gives folders away
    std::filesystem::remove_all(own);
    make();
    try {
      PrivateFolder(dir.Path());
      ADD_FAILURE() << what << " was taken";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), own + " is not a folder of this user's own (mode 0700); it is not used") << what;
    }
  }
}

// The lock lies in the runtime folder; one that cannot be made is said, not taken for another
// instance running.
TEST(InstanceLockTest, LockLiesInTheRuntimeFolderAndAFailureIsSaid) {
  test::TempDir dir;
  const char* old = getenv("XDG_RUNTIME_DIR");
  const std::string saved = old != nullptr ? old : "";
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceLock::LockFileName("PLUMO"), "/tmp/plumo-" + std::to_string(::geteuid()) + "/PLUMO.lock");
  setenv("XDG_RUNTIME_DIR", (dir / "missing").c_str(), 1);
  EXPECT_EQ(InstanceLock::LockFileName("PLUMO"), dir / "missing/PLUMO.lock");
  try {
    InstanceLock::TryAcquire("PLUMO");
    ADD_FAILURE() << "no failure";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "cannot make the lock file " + dir / "missing/PLUMO.lock" + ": No such file or directory");
  }
  if (old != nullptr) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else unsetenv("XDG_RUNTIME_DIR");
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
