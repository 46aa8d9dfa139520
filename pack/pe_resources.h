// Edits the resources of a 32-bit Windows GUI program the way a resource editor does: the
// resource tree is read into plain leaves, changed, and written as a whole new resource
// section; the sections behind it (only the base relocations may be there) move by whole
// alignment steps, and the headers that describe the layout are rewritten. Nothing else in
// the image changes.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "pack/pe_image.h"

namespace vexa {

// One resource in one language.
struct ResourceLeaf {
  ResourceId type, name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> bytes;
};

enum class ImageFault {
  NotPe32GuiI386,  // not a PE32 i386 GUI program (a PE32+ image, a console program, a DLL)
  Signed,          // it carries a certificate table, which a change would void
  CannotRebuild,   // its layout is not one this editor can rebuild safely
  Malformed,       // it cannot be read: cut short, or headers or tree that lie
};

// what() is one line without the file's name, e.g. "its resource section is followed by
// .idata, not only by base relocations".
struct ImageEditError : std::runtime_error {
  ImageEditError(ImageFault fault, const std::string& message)
      : std::runtime_error(message), fault(fault) {}
  ImageFault fault;
};

// The resources of a readable PE32 image, in the order of its tree. Throws ImageEditError:
// NotPe32GuiI386 for an image that is not PE32, Malformed for one that cannot be read.
std::vector<ResourceLeaf> ReadResourceLeaves(std::span<const uint8_t> image);

// Replaces every leaf of leaf's type and name (all languages of it; names compare without
// regard to ASCII case) by leaf, in the place of the first; or appends it.
void SetResource(std::vector<ResourceLeaf>& leaves, ResourceLeaf leaf);

// A resource section holding leaves, for a section at sectionRva; the bytes it uses, not
// padded to the file alignment. The same leaves in any order give the same bytes: tables
// breadth-first (root, then the tables of each type, then those of each type and name),
// named entries before ordinals at each level, names in upper-cased order, ordinals and
// languages ascending; then the names (a 16-bit length and UTF-16LE, no terminator); then
// the data entries on a 4-byte boundary; then the data, each on an 8-byte boundary, in
// tree order. Throws std::invalid_argument for two leaves of one type, name and language
// or a name longer than 65535 UTF-16 units, std::length_error when it would not fit in a
// 32-bit image.
std::vector<uint8_t> BuildResourceSection(const std::vector<ResourceLeaf>& leaves,
                                          uint32_t sectionRva);

// The image with its resource section rebuilt from leaves (see BuildResourceSection) and
// the base relocations behind it moved; the header checksum is recomputed. Throws
// ImageEditError when the image is not one it can rebuild, with the reason (leaves that
// BuildResourceSection refuses: CannotRebuild).
std::vector<uint8_t> RebuildResources(std::span<const uint8_t> image,
                                      const std::vector<ResourceLeaf>& leaves);

// The standard PE image checksum: the 16-bit words of the file summed with the carries
// folded back in, the CheckSum field counted as zero (an odd last byte as a word of its
// own), plus the file's length. Works for PE32 and PE32+; throws std::runtime_error when
// the file has no PE header.
uint32_t PeHeaderChecksum(std::span<const uint8_t> image);
void WriteHeaderChecksum(std::vector<uint8_t>& image);

}  // namespace vexa
