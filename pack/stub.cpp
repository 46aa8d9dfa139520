#include "pack/stub.h"

#include <algorithm>

#include "pack/carrier.h"
#include "pack/pe_image.h"
#include "pack/pe_resources.h"
#include "resources/resource.h"

namespace vexa {
namespace {

constexpr uint8_t kPlaceholderTag[SUM_TAG_LENGTH] = ARCHIVE_SUM_PLACEHOLDER_TAG;
constexpr uint8_t kSumTag[SUM_TAG_LENGTH] = ARCHIVE_SUM_TAG;

// The installer shows at most this many bytes of its licence (its buffer, less the
// terminator), cut at the first "***".
constexpr size_t kLicenceShown = 2999;

std::vector<size_t> Occurrences(std::span<const uint8_t> data, std::span<const uint8_t> what) {
  std::vector<size_t> found;
  for (auto at = data.begin();
       (at = std::search(at, data.end(), what.begin(), what.end())) != data.end(); ++at) {
    found.push_back((size_t)(at - data.begin()));
  }
  return found;
}

}  // namespace

void CheckStub(std::span<const uint8_t> stub) {
  PeImage image;
  try {
    image = PeImage::Parse(stub);
  } catch (const std::exception& e) {
    throw StubError(std::string("not an installer stub: ") + e.what());
  }
  if (image.machine() != kMachineI386 || image.subsystem() != kSubsystemGui ||
      (image.characteristics() & 0x2000) != 0) {
    throw StubError("not an installer stub: not a 32-bit Windows GUI program");
  }
  if (ReadPeFileLayout(stub).certificateSize != 0) {
    throw StubError("signed: build from the unsigned stub, then sign the installer");
  }
  if (image.FindResource(kRtRcData, (uint16_t)IDR_ARCHIVE) ||
      FindMarkerBytes(stub) != std::string::npos || !Occurrences(stub, kSumTag).empty()) {
    throw StubError("already holds an archive: a finished installer, not a stub");
  }
  size_t placeholders = Occurrences(stub, kPlaceholderTag).size();
  if (placeholders != 1) {
    throw StubError(placeholders == 0
                        ? "not an installer stub: it holds no sum placeholder"
                        : std::to_string(placeholders) +
                              " sum placeholders: cannot tell which the installer reads");
  }
}

std::optional<std::string> LicenceProblem(std::span<const uint8_t> text) {
  if (FindMarkerBytes(text) != std::string::npos) {
    return std::string("holds the segment marker \"") + kMarkerText +
           "\", which the installer's scan would take for its archive";
  }
  static const uint8_t kStars[] = {'*', '*', '*'};
  std::vector<size_t> cut = Occurrences(text, kStars);
  size_t shown = cut.empty() ? text.size() : cut.front();
  if (shown + (cut.empty() ? 0 : 3) > kLicenceShown) {
    return "the licence page shows " + std::to_string(kLicenceShown) +
           " bytes, and this text has " + std::to_string(shown) +
           (cut.empty() ? "" : " before \"***\"") +
           "; shorten it, or end what the page shows with \"***\"";
  }
  return std::nullopt;
}

std::vector<uint8_t> BuildInstaller(std::span<const uint8_t> stub, const Archive& archive,
                                    const std::vector<std::vector<uint8_t>>& files,
                                    const std::vector<uint8_t>* licence) {
  CheckStub(stub);
  std::vector<uint8_t> image;
  try {
    std::vector<ResourceLeaf> leaves = ReadResourceLeaves(stub);
    // The archive goes in the licence's language, as the resource script placed them.
    uint16_t language = 0;
    uint32_t codePage = 0;
    for (const ResourceLeaf& leaf : leaves) {
      if (leaf.type == ResourceId(kRtRcData) && leaf.name == ResourceId((uint16_t)IDR_LICENCE)) {
        language = leaf.language;
        codePage = leaf.codePage;
      }
    }
    if (licence != nullptr) {
      SetResource(leaves, {ResourceId(kRtRcData), ResourceId((uint16_t)IDR_LICENCE), language,
                           codePage, *licence});
    }
    SetResource(leaves, {ResourceId(kRtRcData), ResourceId((uint16_t)IDR_ARCHIVE), language,
                         codePage, ArchiveResource(archive)});
    image = RebuildResources(stub, leaves);
  } catch (const ImageEditError& e) {
    throw StubError((e.fault == ImageFault::CannotRebuild
                         ? std::string("its resources cannot be rebuilt: ")
                         : std::string("not an installer stub: ")) +
                    e.what());
  }

  // The record lies before the resource section, which is all that moved.
  std::vector<size_t> records = Occurrences(image, kPlaceholderTag);
  if (records.size() != 1) throw std::runtime_error("internal error: the sum placeholder moved");
  std::copy(std::begin(kSumTag), std::end(kSumTag), image.begin() + (ptrdiff_t)records[0]);
  for (int k = 0; k < 4; k++)
    image[records[0] + SUM_TAG_LENGTH + k] = (uint8_t)(archive.sum >> (8 * k));
  WriteHeaderChecksum(image);

  // Read back as the installer will: the first marker opens exactly this archive, every
  // segment gives its file, and the sum is the one the record now carries.
  CarrierOptions read;
  read.keepOutputs = true;
  CarrierReport report = ReadCarrier(image, read);
  const ScanReport& scan = report.scan;
  bool same = report.Status() == 0 && report.carriedSum == archive.sum && scan.sum == archive.sum &&
              scan.segments.size() == files.size() &&
              image.size() >= scan.firstMarker + archive.bytes.size() &&
              std::equal(archive.bytes.begin(), archive.bytes.end(),
                         image.begin() + (ptrdiff_t)scan.firstMarker);
  for (size_t row = 0; same && row < files.size(); row++)
    same = scan.segments[row].output == files[row];
  if (!same) {
    std::string why = report.problems.empty() ? "" : ": " + Describe(report.problems.front());
    throw std::runtime_error("internal error: the installer does not read back" + why);
  }
  return image;
}

}  // namespace vexa
