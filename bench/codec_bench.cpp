// Speed and size of the LZHUF codec on the payload: the installer's decoder on the largest
// file, the release tool's encoder on the whole archive, and our encodings of the
// reference vectors next to the reference encoder's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/classic_model.h"
#include "bench/payload.h"
#include "engine/lzhuf_decoder.h"
#include "pack/archive.h"
#include "pack/lzhuf_encoder.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using vexa::bench::GetPayload;
using vexa::bench::PayloadBytes;

// A real file in the temporary directory, removed again at the end.
class TempFile {
 public:
  TempFile() {
    std::string pattern = (fs::temp_directory_path() / "codec_bench.XXXXXX").string();
    int fd = mkstemp(pattern.data());
    if (fd >= 0) close(fd);
    path_ = fd >= 0 ? pattern : "";
  }
  ~TempFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const char* path() const { return path_.c_str(); }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const char* path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
  return (bool)out;
}

// Decimal megabytes per second of wall time, next to the library's binary bytes_per_second.
void ReportRate(benchmark::State& state, size_t bytesPerIteration) {
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytesPerIteration);
  state.counters["MB/s"] = benchmark::Counter(
      (double)state.iterations() * (double)bytesPerIteration / 1e6, benchmark::Counter::kIsRate);
}

std::string Percent(double value) {
  char text[32];
  snprintf(text, sizeof text, "%+.2f%%", value);
  return text;
}

// ---- Decoding: the installer's decoder, file to file, on row 0.

void BM_DecodeRow0(benchmark::State& state) {
  const Bytes& row = GetPayload().files[0];
  static const Bytes body = vexa::PackSegment(row).body;
  TempFile input, output;
  if (!input.ok() || !output.ok() || !WriteFile(input.path(), body)) {
    state.SkipWithError("cannot set up the temporary files");
    return;
  }
  for (auto _ : state) {
    FILE* in = fopen(input.path(), "rb");
    FILE* out = fopen(output.path(), "wb");
    int ok = in != nullptr && out != nullptr && LzhufDecode(in, out, nullptr) == 1;
    if (in != nullptr) fclose(in);
    if (out != nullptr && fclose(out) != 0) ok = 0;
    if (!ok) {
      state.SkipWithError("decode failed");
      return;
    }
  }
  // A fast decoder that writes the wrong bytes measures nothing.
  if (ReadFile(output.path()) != row) {
    state.SkipWithError("decoded output differs from the input");
    return;
  }
  ReportRate(state, row.size());
  state.counters["body_bytes"] = (double)body.size();
}
BENCHMARK(BM_DecodeRow0)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- Encoding: the whole payload archive, both parses.

struct ArchiveSizes {
  size_t optimal = 0;
  size_t greedy = 0;
  bool readsBack = true;
};

bool ReadsBack(const vexa::Archive& archive, const std::vector<Bytes>& files) {
  vexa::ScanReport scan = vexa::ScanArchive(archive.bytes, true);
  if (!scan.problems.empty() || scan.sum != archive.sum || scan.segments.size() != files.size())
    return false;
  for (size_t row = 0; row < files.size(); row++) {
    if (scan.segments[row].output != files[row]) return false;
  }
  return true;
}

// Built once, outside any timing, so each case can show both sizes.
const ArchiveSizes& Sizes() {
  static const ArchiveSizes sizes = [] {
    const auto& files = GetPayload().files;
    vexa::Archive optimal = vexa::BuildArchive(files, vexa::Parse::Optimal);
    vexa::Archive greedy = vexa::BuildArchive(files, vexa::Parse::Greedy);
    return ArchiveSizes{optimal.bytes.size(), greedy.bytes.size(),
                        ReadsBack(optimal, files) && ReadsBack(greedy, files)};
  }();
  return sizes;
}

void BM_EncodeArchive(benchmark::State& state, vexa::Parse parse) {
  const auto& files = GetPayload().files;
  for (auto _ : state) {
    vexa::Archive archive = vexa::BuildArchive(files, parse);
    benchmark::DoNotOptimize(archive.bytes.data());
  }
  const ArchiveSizes& sizes = Sizes();
  if (!sizes.readsBack) {
    state.SkipWithError("the archive does not read back");
    return;
  }
  size_t mine = parse == vexa::Parse::Optimal ? sizes.optimal : sizes.greedy;
  double gain = 100.0 * ((double)sizes.greedy - (double)sizes.optimal) / (double)sizes.greedy;
  ReportRate(state, PayloadBytes());
  state.counters["input_bytes"] = (double)PayloadBytes();
  state.counters["archive_bytes"] = (double)mine;
  state.counters["optimal_gain_%"] = gain;
  state.SetLabel("archive=" + std::to_string(mine) + " optimal=" + std::to_string(sizes.optimal) +
                 " greedy=" + std::to_string(sizes.greedy) + " optimal smaller by " +
                 Percent(gain));
}
// The archive is encoded on all cores, so only wall time is meaningful.
BENCHMARK_CAPTURE(BM_EncodeArchive, optimal, vexa::Parse::Optimal)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_EncodeArchive, greedy, vexa::Parse::Greedy)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// ---- Encoding one segment, row 0, on one thread.

void BM_EncodeSegmentRow0(benchmark::State& state, vexa::Parse parse) {
  const Bytes& row = GetPayload().files[0];
  vexa::EncodeOptions options;
  options.parse = parse;
  size_t size = 0;
  for (auto _ : state) {
    vexa::EncodedSegment segment = vexa::EncodeSegment(row, options);
    size = segment.body.size();
    benchmark::DoNotOptimize(segment.body.data());
  }
  ReportRate(state, row.size());
  state.counters["body_bytes"] = (double)size;
  state.SetLabel("body=" + std::to_string(size));
}
BENCHMARK_CAPTURE(BM_EncodeSegmentRow0, optimal, vexa::Parse::Optimal)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_EncodeSegmentRow0, greedy, vexa::Parse::Greedy)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// ---- Payload rows: both parses next to the classic greedy encoder (as modelled; main
// checks the model against the reference vectors).

void BM_PayloadRow(benchmark::State& state, size_t row) {
  const Bytes& data = GetPayload().files[row];
  size_t optimal = 0;
  for (auto _ : state) {
    optimal = vexa::PackSegment(data).body.size();
    benchmark::DoNotOptimize(optimal);
  }
  size_t greedy = vexa::PackSegment(data, vexa::Parse::Greedy).body.size();
  size_t classic = vexa::bench::ClassicGreedyBody(data).size();
  auto delta = [&](size_t size) {
    return 100.0 * ((double)size - (double)classic) / (double)classic;
  };
  ReportRate(state, data.size());
  state.counters["optimal"] = (double)optimal;
  state.counters["greedy"] = (double)greedy;
  state.counters["classic"] = (double)classic;
  state.SetLabel("optimal=" + std::to_string(optimal) + " (" + Percent(delta(optimal)) +
                 ") greedy=" + std::to_string(greedy) + " (" + Percent(delta(greedy)) +
                 ") classic=" + std::to_string(classic));
}

void RegisterPayloadRows() {
  for (size_t row = 0; row < vexa::bench::kPayloadRows; row++) {
    benchmark::RegisterBenchmark(("BM_PayloadRow/" + std::string(TargetFileTable[row])).c_str(),
                                 [row](benchmark::State& state) { BM_PayloadRow(state, row); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
}

// "all N": the model writes every reference vector byte for byte; otherwise the misses.
std::string CheckClassicModel() {
  std::vector<std::string> misses;
  size_t count = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(VEXA_VECTOR_DIR, error)) {
    if (entry.path().extension() != ".bin") continue;
    fs::path reference = fs::path(entry.path()).replace_extension(".lzh");
    if (!fs::exists(reference)) continue;
    count++;
    if (vexa::bench::ClassicGreedyBody(ReadFile(entry.path())) != ReadFile(reference))
      misses.push_back(entry.path().stem().string());
  }
  if (count == 0) return "no reference vectors found";
  if (misses.empty()) return "reproduces all " + std::to_string(count) + " reference encodings";
  std::string text = "DIFFERS from the reference on";
  for (const std::string& m : misses) text += " " + m;
  return text;
}

// ---- Reference vectors: our packed body next to the reference encoder's output.

void BM_Vector(benchmark::State& state, const Bytes& data, size_t referenceSize) {
  size_t size = 0;
  for (auto _ : state) {
    vexa::PackedSegment packed = vexa::PackSegment(data);
    size = packed.body.size();
    benchmark::DoNotOptimize(packed.body.data());
  }
  size_t greedy = vexa::PackSegment(data, vexa::Parse::Greedy).body.size();
  auto delta = [&](size_t mine) {
    return 100.0 * ((double)mine - (double)referenceSize) / (double)referenceSize;
  };
  ReportRate(state, data.size());
  state.counters["ours"] = (double)size;
  state.counters["greedy"] = (double)greedy;
  state.counters["reference"] = (double)referenceSize;
  state.counters["ours-ref"] = (double)size - (double)referenceSize;
  state.SetLabel("ours=" + std::to_string(size) + " ref=" + std::to_string(referenceSize) + " " +
                 Percent(delta(size)) + " greedy=" + std::to_string(greedy) + " " +
                 Percent(delta(greedy)));
}

void RegisterVectors() {
  std::vector<fs::path> inputs;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(VEXA_VECTOR_DIR, error)) {
    if (entry.path().extension() == ".bin") inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path& input : inputs) {
    fs::path reference = fs::path(input).replace_extension(".lzh");
    if (!fs::exists(reference)) continue;
    // Loaded once here; the lambda keeps its own copy.
    Bytes data = ReadFile(input);
    size_t referenceSize = (size_t)fs::file_size(reference);
    if (data.empty()) continue;
    benchmark::RegisterBenchmark(
        ("BM_Vector/" + input.stem().string()).c_str(),
        [data, referenceSize](benchmark::State& state) { BM_Vector(state, data, referenceSize); })
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterVectors();
  RegisterPayloadRows();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const vexa::bench::Payload& payload = GetPayload();
  benchmark::AddCustomContext("payload_bytes", std::to_string(PayloadBytes()));
  benchmark::AddCustomContext("payload_code", payload.codeSource);
  benchmark::AddCustomContext("payload_text", payload.textSource);
  benchmark::AddCustomContext("classic_model", CheckClassicModel());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
