// A disk that fills up under the run: writes to the targets, or to the temporary file, fail
// after N bytes, for N on both sides of every row's size and halfway. The run fails exactly
// when some row no longer fits ([5] for a target, [11] for the temporary file), and then
// the rollback leaves what was there before (the rules of tests/fuzz/fuzz_checks.h: no new
// file, no temporary file, no created folder, earlier files back from their backups);
// otherwise every row is installed whole. A device that loses one write and takes the next
// ones is held to the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "engine/install_run.h"
#include "tests/fuzz/fuzz_checks.h"

namespace {

using fuzzcheck::Bytes;

// Header flags of a fuzz input (see fuzz_checks.h).
enum : uint8_t {
  BACKUPS = 1,
  KEEP_SETTINGS = 2,
  EARLIER = 4,
  TARGETS_FAIL = 8,
  TEMP_FAILS = 16,
  FAIL_ONCE = 64,
};

Bytes Input(uint8_t flags, long failAfter) {
  Bytes input = {flags, (uint8_t)(failAfter & 0xFF), (uint8_t)(failAfter >> 8)};
  const Bytes& archive = fuzzcheck::SeedArchive().bytes;
  input.insert(input.end(), archive.begin(), archive.end());
  return input;
}

// Every budget on both sides of the given lengths and halfway to them, and none at all.
std::set<long> BudgetsAround(const std::vector<long>& lengths) {
  std::set<long> budgets = {0};
  for (long length : lengths) {
    budgets.insert(length / 2);
    budgets.insert(length - 1);
    budgets.insert(length);
  }
  return budgets;
}

void ExpectRuns(uint8_t flags, const std::vector<long>& lengths, const std::string& caption) {
  long needed = *std::max_element(lengths.begin(), lengths.end());
  for (long budget : BudgetsAround(lengths)) {
    SCOPED_TRACE("flags " + std::to_string(flags) + ", writes fail after " +
                 std::to_string(budget));
    fuzzcheck::InstallReport run = fuzzcheck::RunInstall(Input(flags, budget));
    EXPECT_EQ(run.broken, "");
    if (budget < needed) {
      EXPECT_EQ(run.result, RUN_FAILED);
      EXPECT_EQ(run.captions, std::vector<std::string>{caption});
    } else {
      EXPECT_EQ(run.result, RUN_DONE);
      EXPECT_TRUE(run.captions.empty());
    }
  }
  // Nothing of a failed run stands in the way of the next one.
  fuzzcheck::InstallReport again =
      fuzzcheck::RunInstall(Input(flags & (BACKUPS | KEEP_SETTINGS | EARLIER), 0));
  EXPECT_EQ(again.broken, "");
  EXPECT_EQ(again.result, RUN_DONE);
}

TEST(WriteFailure, TargetsFailInEveryRowOfFreshInstallsAndUpgrades) {
  const vexa::Archive& archive = fuzzcheck::SeedArchive();
  vexa::ScanReport scan = vexa::ScanArchive(archive.bytes);
  ASSERT_EQ(scan.segments.size(), (size_t)SEGMENT_COUNT);
  const struct {
    const char* name;
    uint8_t flags;
    int rowsWritten;  // kept settings files are never opened for writing
  } cases[] = {
      {"fresh", 0, SEGMENT_COUNT},
      {"upgrade without backups", EARLIER, SEGMENT_COUNT},
      {"upgrade with backups", EARLIER | BACKUPS, SEGMENT_COUNT},
      {"upgrade keeping settings", EARLIER | BACKUPS | KEEP_SETTINGS, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<long> sizes;
    sizes.reserve(c.rowsWritten);
    for (int row = 0; row < c.rowsWritten; row++)
      sizes.push_back((long)scan.segments[row].declaredSize);
    for (uint8_t shape : {uint8_t{0}, uint8_t{FAIL_ONCE}})
      ExpectRuns(TARGETS_FAIL | c.flags | shape, sizes, "Vexa Installation Error [5]");
  }
}

// Every write to the temporary file and its closing count: a file cut short or with a hole
// no longer holds the segment, whatever the decoder would make of it, so the run ends with
// the temporary file's own message, [11], and never succeeds with a damaged file.
TEST(WriteFailure, TemporaryFileCutShortOrHoledEndsWithItsOwnMessage) {
  const vexa::Archive& archive = fuzzcheck::SeedArchive();
  std::vector<long> sizes;
  for (const auto& segment : archive.segments) sizes.push_back((long)segment.body.size());
  for (uint8_t flags : {0, EARLIER | BACKUPS}) {
    for (uint8_t shape : {uint8_t{0}, uint8_t{FAIL_ONCE}})
      ExpectRuns(TEMP_FAILS | flags | shape, sizes, "Vexa Installation Error [11]");
  }
}

}  // namespace
