// The installer that the packaged tool built (tests/package_test.sh, which runs first),
// installed under Wine with every default: the package's files, byte for byte.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "walk.h"

namespace winetest {
namespace {

TEST(PackagedTool, ItsInstallerInstallsItsFiles) {
  fs::path made = fs::path(WINE_UI_BUILD_DIR) / "package-test";
  std::string image = ReadFile(made / "packaged-setup.exe");
  ASSERT_FALSE(image.empty()) << made / "packaged-setup.exe"
                              << " is missing: the package test makes it (ctest -R '^package$')";
  Session::Options options;
  options.name = "packaged-tool";
  options.startInstaller = false;
  Session session(options);
  session.StartInstaller(image);
  WalkWithDefaults(session, fs::path());

  fs::path installed = session.DriveC() / "vexa";
  std::set<std::string> want, got;
  for (const auto& entry : fs::directory_iterator(made / "files"))
    want.insert(entry.path().filename().string());
  for (const auto& entry : fs::directory_iterator(installed))
    got.insert(entry.path().filename().string());
  EXPECT_EQ(got, want);
  for (const std::string& name : want) {
    EXPECT_EQ(ReadFile(installed / name), ReadFile(made / "files" / name)) << name;
  }
}

}  // namespace
}  // namespace winetest
