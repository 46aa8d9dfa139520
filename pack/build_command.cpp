// build: a finished installer from the prebuilt stub and the eleven files of a folder.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "pack/commands.h"
#include "pack/files.h"
#include "pack/stub.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;

// The stub installed with the tool: beside the program, or in the package's data folder.
std::optional<fs::path> InstalledStub() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  fs::path folder = self.parent_path();
  for (const fs::path& candidate :
       {folder / kStubName, folder.parent_path() / "share" / "vexa-pack" / kStubName}) {
    if (fs::is_regular_file(candidate, error)) return candidate;
  }
  return std::nullopt;
}

}  // namespace

int Build(const Options& options) {
  return Guarded(options.input, [&]() -> int {
    std::string stubPath = options.stub;
    if (stubPath.empty()) {
      std::optional<fs::path> found = InstalledStub();
      if (!found) {
        return Report(kStubName,
                      "not found beside vexa-pack nor in ../share/vexa-pack; give --stub STUB");
      }
      stubPath = found->string();
    }
    RefuseSameFile(stubPath, options.output);
    std::optional<InputFile> stubFile;
    try {
      stubFile.emplace(stubPath);
    } catch (const TooLargeError& e) {
      return Report(stubPath, std::string("not an installer stub: ") + e.what(), STATUS_NOT_STUB);
    }
    std::span<const uint8_t> stub = stubFile->bytes();
    try {
      CheckStub(stub);
    } catch (const StubError& e) {
      return Report(stubPath, e.what(), STATUS_NOT_STUB);
    }
    std::optional<InputFile> licenceFile;
    std::vector<uint8_t> licence;
    if (!options.licence.empty()) {
      RefuseSameFile(options.licence, options.output);
      licenceFile.emplace(options.licence);
      licence.assign(licenceFile->bytes().begin(), licenceFile->bytes().end());
      if (std::optional<std::string> problem = LicenceProblem(licence))
        return Report(options.licence, *problem);
    }

    std::optional<std::vector<std::vector<uint8_t>>> files =
        ReadPayload(options.input, {options.output});
    if (!files) return EXIT_FAILURE_;
    Archive archive = BuildArchive(*files, options.parse);
    std::vector<uint8_t> installer;
    try {
      installer =
          BuildInstaller(stub, archive, *files, options.licence.empty() ? nullptr : &licence);
    } catch (const StubError& e) {
      return Report(stubPath, e.what(), STATUS_NOT_STUB);
    }
    PendingFile out(options.output);
    out.Write(installer);
    // An installer is a program: executable like the linker's output.
    fchmod(fileno(out.Stream()), 0755);
    out.Commit();
    return EXIT_OK;
  });
}

}  // namespace vexa
