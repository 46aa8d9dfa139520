// The fuzz targets' rules in the normal test run: every seed, every input kept from long fuzz
// runs for the paths it reaches (tests/fuzz/corpus/TARGET/), and every input that once broke
// a rule (tests/fuzz/regressions/TARGET/) goes through the same checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "engine/install_run.h"
#include "tests/fuzz/fuzz_checks.h"
#include "tests/test_files.h"

namespace {

namespace fs = std::filesystem;
using fuzzcheck::Bytes;
using fuzzcheck::Target;

// The inputs kept in a folder of tests/fuzz/ for the target.
std::vector<fuzzcheck::Seed> Kept(const char* root, Target target) {
  std::vector<fuzzcheck::Seed> inputs;
  fs::path folder = fs::path(root) / fuzzcheck::TargetName(target);
  if (!fs::exists(folder)) return inputs;
  for (const auto& entry : fs::directory_iterator(folder)) {
    inputs.push_back({entry.path().filename().string(), testfiles::Read(entry.path())});
  }
  return inputs;
}

}  // namespace

namespace fuzzcheck {
// Names the target in test listings.
void PrintTo(Target target, std::ostream* out) { *out << TargetName(target); }
}  // namespace fuzzcheck

namespace {

class FuzzReplay : public testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SeedsAndRegressionsKeepEveryRule) {
  std::vector<fuzzcheck::Seed> inputs = fuzzcheck::Seeds(GetParam(), VECTOR_DIR);
  ASSERT_FALSE(inputs.empty());
  for (const char* root : {CORPUS_DIR, REGRESSION_DIR}) {
    for (auto& kept : Kept(root, GetParam())) inputs.push_back(std::move(kept));
  }
  for (const auto& input : inputs) {
    EXPECT_EQ(fuzzcheck::Check(GetParam(), input.bytes), "") << input.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
                         testing::Values(Target::Decode, Target::Scan, Target::Install),
                         [](const testing::TestParamInfo<Target>& info) {
                           return std::string(fuzzcheck::TargetName(info.param));
                         });

// The seeds start the fuzzer on the paths it is to explore: the seed archive installs in
// every circumstance without a fault, and each fault ends the way it should.
TEST(FuzzSeeds, InstallAsTheirCircumstancesSay) {
  const std::map<std::string, int> expected = {
      {"fresh", RUN_DONE},
      {"backups", RUN_DONE},
      {"upgrade", RUN_DONE},
      {"upgrade_backups", RUN_DONE},
      {"upgrade_keep_settings", RUN_DONE},
      {"upgrade_backups_keep_settings", RUN_DONE},
      {"target_full_after_100", RUN_FAILED},
      {"upgrade_backups_target_full_after_100", RUN_FAILED},
      {"upgrade_backup_folder_blocked", RUN_RETRY_OPTIONS},
      {"temp_full_after_50", RUN_FAILED},
      {"unclosed", RUN_FAILED},  // the closing marker is counted in the sum
  };
  for (const auto& seed : fuzzcheck::Seeds(Target::Install, VECTOR_DIR)) {
    ASSERT_TRUE(expected.count(seed.name)) << seed.name;
    EXPECT_EQ(fuzzcheck::RunInstall(seed.bytes).result, expected.at(seed.name)) << seed.name;
  }
  EXPECT_TRUE(vexa::ScanArchive(fuzzcheck::SeedArchive().bytes).problems.empty());
}

}  // namespace
