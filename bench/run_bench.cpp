// Whole installation runs, natively through the POSIX file-system layer, over a carrier
// holding the benchmark payload: each RunStep is clocked on its own, since the dialog
// runs one step per timer message and a long step is a frozen window.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/payload.h"
#include "bench/quiet_wizard.h"
#include "engine/file_system.h"
#include "engine/file_system_posix.h"
#include "engine/install_run.h"
#include "engine/shared.h"
#include "engine/wizard_link.h"
#include "pack/archive.h"

uint32_t ExpectedArchiveSum;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const char kCarrier[] = "c:\\setup.exe";
const char kTempFolder[] = "c:\\temp";
const char kDestination[] = "c:\\vexa";
const size_t kCodeBytes = (size_t)80 * 1024;
const size_t kTrailingBytes = (size_t)4 * 1024;

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Code in front that holds none of the marker's letters (all bytes below 0x40, apart from
// "MZ"), the archive, and what a real carrier has behind it.
Bytes MakeCarrier(const Bytes& archive) {
  Bytes carrier = {'M', 'Z'};
  uint64_t state = 12345;
  while (carrier.size() < kCodeBytes) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    carrier.push_back((uint8_t)((state >> 33) & 0x3F));
  }
  carrier.insert(carrier.end(), archive.begin(), archive.end());
  for (char c : std::string("ARNI\r\n")) carrier.push_back((uint8_t)c);
  carrier.insert(carrier.end(), kTrailingBytes, 0xCC);
  return carrier;
}

void WriteHost(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The temporary root with the carrier and the temporary folder in place, made once.
struct Setup {
  std::string root;
  size_t carrierBytes = 0;
  size_t archiveBytes = 0;
  size_t row0Body = 0;
  uint32_t sum = 0;

  Setup() {
    const auto& files = vexa::bench::GetPayload().files;
    vexa::Archive archive = vexa::BuildArchive(files);
    Bytes carrier = MakeCarrier(archive.bytes);
    carrierBytes = carrier.size();
    archiveBytes = archive.bytes.size();
    row0Body = archive.segments[0].body.size();
    sum = archive.sum;

    std::string pattern = (fs::temp_directory_path() / "run_bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root = pattern;
    FsPosixSetRoot(root.c_str());
    fs::create_directories(FsHostPath(kTempFolder));
    WriteHost(FsHostPath(kCarrier), carrier);
  }
  ~Setup() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

struct StepTimes {
  int result = RUN_FAILED;
  std::vector<double> ms;     // every RunStep, in order
  std::vector<bool> decoded;  // segmentIndex changed during the step
  int row0Step = -1;          // the step in which segmentIndex went from 0 to 1
  double row0DecodeMs = 0;    // LzhufDecode of row 0 alone, from the wizard hooks
  int row0BarDraws = 0;       // file bar paints asked for while row 0 decoded
};

// One run as the wizard dialog drives it, from Install to the run's end.
StepTimes DriveRun() {
  StepTimes times;
  ResetQuietWizard();
  MakeBackups = KeepSettings = 0;
  FsUseCarrier(kCarrier);
  ExpectedArchiveSum = TheSetup().sum;
  setenv("TMP", kTempFolder, 1);
  unsetenv("TEMP");
  CopyText(DestinationFolder, FOLDER_TEXT_SIZE, kDestination);
  ResetRun();
  ShowScanStatus();
  DrawInstallBar(nullptr, nullptr);
  if (CreateDestination() != RUN_DONE || OpenCarrier() != RUN_DONE) {
    AbandonRun();
    return times;
  }
  for (;;) {
    int before = Run.segmentIndex;
    Clock::time_point start = Clock::now();
    int result = RunStep();
    Clock::time_point end = Clock::now();
    int after = Run.segmentIndex;
    if (before == 0 && after >= 1) times.row0Step = (int)times.ms.size();
    times.ms.push_back(Milliseconds(end - start));
    times.decoded.push_back(after != before);
    if (result == RUN_MORE) continue;
    if (result != RUN_DONE) AbandonRun();
    times.result = result;
    break;
  }
  times.row0DecodeMs = Milliseconds(Quiet.decodeEnd[0] - Quiet.decodeStart[0]);
  times.row0BarDraws = Quiet.fileBarDraws[0];
  return times;
}

bool InstalledAsPayload() {
  const auto& files = vexa::bench::GetPayload().files;
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    std::string path = std::string(kDestination) + "\\" + TargetFileTable[row];
    if (ReadHost(FsHostPath(path.c_str())) != files[row]) return false;
  }
  return true;
}

void RemoveDestination() {
  std::error_code ignored;
  fs::remove_all(FsHostPath(kDestination), ignored);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Manual time: the iteration time is the sum of the steps, so nothing between steps and
// nothing around the run (the folder's removal, the check) is counted.
void BM_InstallRun(benchmark::State& state) {
  Setup* setup;
  try {
    setup = &TheSetup();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  RemoveDestination();
  std::vector<double> totals, row0s, row0Decodes, row0Rests, longest, longestIdle;
  double worstStep = 0, worstIdle = 0;
  size_t steps = 0;
  int barDraws = 0;
  for (auto _ : state) {
    StepTimes times = DriveRun();
    if (times.result != RUN_DONE || times.row0Step < 0) {
      std::string why = "the run did not finish: " + std::to_string(times.result);
      if (!Quiet.lastCaption.empty()) why += ", error box \"" + Quiet.lastCaption + "\"";
      state.SkipWithError(why.c_str());
      RemoveDestination();
      return;
    }
    double total = 0, maxStep = 0, maxIdle = 0;
    for (size_t k = 0; k < times.ms.size(); k++) {
      total += times.ms[k];
      maxStep = std::max(maxStep, times.ms[k]);
      if (!times.decoded[k]) maxIdle = std::max(maxIdle, times.ms[k]);
    }
    state.SetIterationTime(total / 1000);
    totals.push_back(total);
    row0s.push_back(times.ms[(size_t)times.row0Step]);
    row0Decodes.push_back(times.row0DecodeMs);
    row0Rests.push_back(row0s.back() - times.row0DecodeMs);
    longest.push_back(maxStep);
    longestIdle.push_back(maxIdle);
    worstStep = std::max(worstStep, maxStep);
    worstIdle = std::max(worstIdle, maxIdle);
    steps = times.ms.size();
    barDraws = times.row0BarDraws;

    if (!InstalledAsPayload()) {
      state.SkipWithError("the installed files differ from the payload");
      RemoveDestination();
      return;
    }
    RemoveDestination();
  }
  // Medians over the iterations; the worst_ counters are the maxima over all of them.
  state.counters["steps"] = (double)steps;
  state.counters["total_ms"] = Median(totals);
  state.counters["longest_ms"] = Median(longest);
  state.counters["worst_ms"] = worstStep;
  state.counters["idle_longest_ms"] = Median(longestIdle);
  state.counters["idle_worst_ms"] = worstIdle;
  state.counters["row0_step_ms"] = Median(row0s);
  state.counters["row0_decode_ms"] = Median(row0Decodes);
  state.counters["row0_rest_ms"] = Median(row0Rests);
  state.counters["row0_bar_draws"] = barDraws;
  state.SetLabel("carrier " + std::to_string(setup->carrierBytes) + " B, archive " +
                 std::to_string(setup->archiveBytes) + " B, row 0 body " +
                 std::to_string(setup->row0Body) + " B");
}

BENCHMARK(BM_InstallRun)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
