// A disk that fills up under the run: writes to the targets, or to the temporary file, fail
// after N bytes, for N on both sides of every row's size. The run fails with [5] exactly
// when some row no longer fits, and then the rollback leaves what was there before (the
// rules of tests/fuzz/fuzz_checks.h: no new file, no temporary file, no created folder,
// earlier files back from their backups); otherwise every row is installed whole.
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
};

Bytes Input(uint8_t flags, long failAfter) {
  Bytes input = {flags, (uint8_t)(failAfter & 0xFF), (uint8_t)(failAfter >> 8)};
  const Bytes& archive = fuzzcheck::SeedArchive().bytes;
  input.insert(input.end(), archive.begin(), archive.end());
  return input;
}

// Every budget on both sides of the given lengths, and none at all.
std::set<long> BudgetsAround(const std::vector<long>& lengths) {
  std::set<long> budgets = {0};
  for (long length : lengths) {
    budgets.insert(length - 1);
    budgets.insert(length);
  }
  return budgets;
}

void ExpectRuns(uint8_t flags, const std::vector<long>& lengths) {
  long needed = *std::max_element(lengths.begin(), lengths.end());
  for (long budget : BudgetsAround(lengths)) {
    SCOPED_TRACE("flags " + std::to_string(flags) + ", writes fail after " +
                 std::to_string(budget));
    fuzzcheck::InstallReport run = fuzzcheck::RunInstall(Input(flags, budget));
    EXPECT_EQ(run.broken, "");
    if (budget < needed) {
      EXPECT_EQ(run.result, RUN_FAILED);
      EXPECT_EQ(run.captions, std::vector<std::string>{"Vexa Installation Error [5]"});
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
    ExpectRuns(TARGETS_FAIL | c.flags, sizes);
  }
}

// The scan ignores failed writes to the temporary file; the cut segment then cannot decode
// (the decoder would need a second byte past its end), so the loss still ends in [5].
// A body's fill byte is never decoded, so losing only that is harmless.
TEST(WriteFailure, TemporaryFileCutShortIsNeverASilentSuccess) {
  const vexa::Archive& archive = fuzzcheck::SeedArchive();
  std::vector<long> needed = {3, 4, 5};  // the size field
  for (const auto& segment : archive.segments) {
    needed.push_back((long)segment.body.size() - (segment.fillByte ? 1 : 0));
  }
  for (uint8_t flags : {0, EARLIER | BACKUPS}) ExpectRuns(TEMP_FAILS | flags, needed);
}

}  // namespace
