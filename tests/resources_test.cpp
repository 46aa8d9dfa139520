// The finished installer read back from its .exe: the image itself, the two dialog
// templates control by control, the icons, the licence, and the archive where the
// installer's own scan finds it. Also the reader of PE images that these checks rest on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/archive_format.h"
#include "pack/archive.h"
#include "pack/pe_image.h"
#include "tests/pe_test_parsers.h"
#include "tests/test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vexa::ResourceId;
namespace fs = std::filesystem;

const fs::path kWindowsBuild = fs::path(SETUP_EXE).parent_path();

const Bytes& SetupBytes() {
  static const Bytes bytes = testfiles::Read(SETUP_EXE);
  return bytes;
}

const testpe::PeImage& Installer() {
  static const testpe::PeImage image = testpe::PeImage::Parse(SetupBytes());
  return image;
}

std::string Text(const ResourceId& id) {
  return std::holds_alternative<std::string>(id) ? std::get<std::string>(id)
                                                 : "#" + std::to_string(std::get<uint16_t>(id));
}

vexa::PeResource Resource(uint16_t type, const ResourceId& name) {
  std::optional<vexa::PeResource> found = Installer().FindResource(type, name);
  if (!found) throw std::runtime_error("resource " + Text(name) + " missing from the installer");
  return *found;
}
vexa::PeResource Resource(uint16_t type, int id) {
  return Resource(type, ResourceId((uint16_t)id));
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) c = (char)std::tolower((unsigned char)c);
  return text;
}

bool Contains(const Bytes& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

// ---------------------------------------------------------------------------------------
// The image

TEST(SetupImage, IsA32BitWindowsGuiProgram) {
  EXPECT_EQ(Installer().machine(), vexa::kMachineI386);
  EXPECT_EQ(Installer().subsystem(), vexa::kSubsystemGui);
  EXPECT_TRUE(Installer().characteristics() & 0x0002) << "not marked executable";
  EXPECT_FALSE(Installer().characteristics() & 0x2000) << "marked as a DLL";
}

// The installer and the two demo programs run on a bare Windows: no compiler runtime DLLs.
TEST(SetupImage, ProgramsImportOnlyDllsEveryWindowsHas) {
  const std::set<std::string> everywhere = {"kernel32.dll", "user32.dll",  "gdi32.dll",
                                            "comdlg32.dll", "shell32.dll", "msvcrt.dll",
                                            "advapi32.dll"};
  const fs::path programs[] = {SETUP_EXE, kWindowsBuild / "payload" / "vexa32.exe",
                               kWindowsBuild / "payload" / "vxtool32.exe"};
  for (const fs::path& program : programs) {
    SCOPED_TRACE(program.string());
    testpe::PeImage image = testpe::PeImage::Parse(testfiles::Read(program));
    EXPECT_EQ(image.machine(), vexa::kMachineI386);
    EXPECT_EQ(image.subsystem(), vexa::kSubsystemGui);
    EXPECT_FALSE(image.importedDlls().empty());
    for (const std::string& dll : image.importedDlls()) {
      EXPECT_TRUE(everywhere.count(Lower(dll))) << dll << " is not a system DLL";
    }
  }
}

TEST(SetupImage, ExportsExactlyTheThreeCallbacks) {
  std::vector<std::string> names = Installer().exportedNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"DdeCallback", "FileHook", "MainWndProc"}));
}

// ---------------------------------------------------------------------------------------
// Dialog templates

struct ExpectedControl {
  uint16_t id;
  uint16_t windowClass;
  uint32_t style;
  int16_t x, y, cx, cy;
  const char* text;
};

void ExpectControls(const testpe::DialogTemplate& dialog,
                    const std::vector<ExpectedControl>& expected) {
  ASSERT_EQ(dialog.items.size(), expected.size());
  for (size_t k = 0; k < expected.size(); k++) {
    const testpe::DialogItem& item = dialog.items[k];
    const ExpectedControl& want = expected[k];
    SCOPED_TRACE("control " + std::to_string(k) + ", id " + std::to_string(want.id));
    EXPECT_EQ(item.id, want.id);
    EXPECT_EQ(item.windowClass, ResourceId(want.windowClass)) << Text(item.windowClass);
    EXPECT_EQ(Hex(item.style), Hex(want.style));
    EXPECT_EQ(item.exStyle, 0u);
    EXPECT_EQ((std::vector<int>{item.x, item.y, item.cx, item.cy}),
              (std::vector<int>{want.x, want.y, want.cx, want.cy}));
    EXPECT_EQ(item.title, ResourceId(std::string(want.text)));
    EXPECT_TRUE(item.creationData.empty());
  }
}

constexpr uint16_t kButton = testpe::kClassButton, kEdit = testpe::kClassEdit,
                   kStatic = testpe::kClassStatic, kListBox = testpe::kClassListBox,
                   kComboBox = testpe::kClassComboBox;

// The wizard's control styles.
constexpr uint32_t kText = 0x50020000;     // WS_VISIBLE, WS_GROUP, SS_LEFT
constexpr uint32_t kCheck = 0x50010003;    // WS_VISIBLE, WS_TABSTOP, BS_AUTOCHECKBOX
constexpr uint32_t kPush = 0x50010000;     // WS_VISIBLE, WS_TABSTOP, BS_PUSHBUTTON
constexpr uint32_t kDefault = 0x50010001;  // WS_VISIBLE, WS_TABSTOP, BS_DEFPUSHBUTTON
constexpr uint32_t kGroup = 0x50000007;    // WS_VISIBLE, BS_GROUPBOX
constexpr uint32_t kLicence = 0x50A10844;  // border, scroll bar, multi-line, read-only
constexpr uint32_t kAnchor = 0x48800000;   // not visible, WS_DISABLED, WS_BORDER

testpe::DialogTemplate Wizard() {
  return testpe::ParseDialogTemplate(Resource(vexa::kRtDialog, "INSTALL_DLG").bytes);
}
testpe::DialogTemplate FolderDialog() {
  return testpe::ParseDialogTemplate(Resource(vexa::kRtDialog, 1537).bytes);
}

TEST(DialogTemplates, FrameCaptionAndFont) {
  const struct {
    const char* name;
    testpe::DialogTemplate dialog;
    const char* style;
    std::vector<int> box;
    const char* caption;
  } cases[] = {
      // Popup, visible, caption, system menu, modal frame, DS_SETFONT, DS_3DLOOK.
      {"wizard", Wizard(), "0x90C800C4", {33, 26, 222, 183}, "Vexa Installer"},
      // The same but not visible: the system shows the folder dialog.
      {"folder dialog", FolderDialog(), "0x80C800C4", {79, 39, 170, 163}, "Vexa Select Folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const testpe::DialogTemplate& dialog = c.dialog;
    EXPECT_EQ(Hex(dialog.style), c.style);
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ((std::vector<int>{dialog.x, dialog.y, dialog.cx, dialog.cy}), c.box);
    EXPECT_EQ(dialog.menu, ResourceId(uint16_t{0}));
    EXPECT_EQ(dialog.windowClass, ResourceId(uint16_t{0}));
    EXPECT_EQ(dialog.caption, c.caption);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.fontName, "MS Sans Serif");
  }
}

TEST(WizardTemplate, ControlsInTemplateOrder) {
  ExpectControls(
      Wizard(),
      {
          {180, kStatic, kText, 13, 862, 126, 11, "Installation of Vexa was successful!"},
          {181, kStatic, kText, 13, 881, 181, 18,
           "After you close this window, you can run Vexa, connect to the internet, and start "
           "chatting!"},
          {182, kStatic, kText, 13, 907, 185, 27,
           "If you are new to Vexa, you might want to read the first few sections of the Vexa "
           "help file before you start. The sections are short and give a good general "
           "introduction."},
          {183, kButton, kCheck, 22, 938, 81, 12, "&Read Vexa Help file"},
          {184, kButton, kCheck, 22, 952, 81, 12, "&Launch Vexa"},
          {185, kStatic, kText, 13, 973, 186, 11,
           "To end the installation, please click the Finish button."},
          {120, kStatic, kAnchor, 187, 10, 21, 20, ""},
          {121, kButton, kPush, 83, 162, 40, 16, "< &Back"},
          {1, kButton, kDefault, 127, 162, 40, 16, "&Next >"},
          {2, kButton, kPush, 174, 162, 40, 16, "Cancel"},
          {130, kStatic, kText, 13, 233, 144, 27,
           "Welcome to the Vexa installation program! This program will install Vexa v5.61 "
           "32bit on your computer."},
          {131, kStatic, kText, 13, 267, 194, 19,
           "If you have a previous copy of Vexa installed, please make sure that it is not "
           "running during the installation."},
          {132, kStatic, kText, 13, 294, 196, 20,
           "It is also advised that you close all other applications before installing Vexa."},
          {140, kStatic, kText, 13, 361, 166, 28,
           "Please read the following license agreement before installing Vexa. You can scroll "
           "down to view the rest of the agreement."},
          {141, kEdit, kLicence, 11, 390, 201, 93, ""},
          {142, kStatic, kText, 13, 487, 187, 20,
           "Do you accept the terms of this license agreement? If you do, please click the Yes "
           "button, otherwise click No."},
          {150, kStatic, kText, 13, 565, 172, 10,
           "Vexa will be installed into the folder shown below."},
          {151, kStatic, kText, 13, 581, 169, 19,
           "If you would like to install Vexa into a different folder, click on browse and "
           "select a new folder."},
          {154, kButton, kGroup, 11, 603, 200, 27, "Destination folder:"},
          {152, kStatic, kText, 17, 615, 156, 9, ""},
          {153, kButton, kPush, 175, 612, 32, 14, "&Browse"},
          {155, kStatic, kText, 13, 637, 150, 10, "You can also change the following options:"},
          {156, kButton, kCheck, 32, 649, 147, 12, "&Make Backups of any existing Vexa files"},
          {157, kButton, kCheck, 32, 662, 181, 12,
           "&Keep your existing Vexa settings and ini files"},
          {158, kButton, kCheck, 32, 675, 105, 12, "&Create Vexa Shortcut icons"},
          {159, kStatic, kText, 22, 692, 173, 17,
           "Once you're ready to install Vexa, click the Install button to continue, or click "
           "Cancel to exit."},
          {170, kStatic, kText, 47, 759, 102, 10, "Scanning..."},
          {171, kButton, kGroup, 44, 770, 100, 3, ""},
          {172, kStatic, kText, 47, 776, 72, 10, "Install Progress:"},
          {173, kButton, kGroup, 44, 786, 107, 18, ""},
          {133, kStatic, kText, 13, 321, 186, 11, "To continue, please click the Next button."},
      });
}

// The wizard walks a page from its first id while ids exist, so each page must be a run
// of consecutive ids that stops right after its last control.
TEST(WizardTemplate, PagesAreRunsOfConsecutiveIds) {
  std::set<int> ids;
  for (const testpe::DialogItem& item : Wizard().items) ids.insert(item.id);
  const struct {
    int first, last;
  } pages[] = {{130, 133}, {140, 142}, {150, 159}, {170, 173}, {180, 185}};
  for (const auto& page : pages) {
    SCOPED_TRACE("page from " + std::to_string(page.first));
    for (int id = page.first; id <= page.last; id++) EXPECT_TRUE(ids.count(id)) << id;
    EXPECT_FALSE(ids.count(page.last + 1));
  }
}

// Styles spelled out: WS_VISIBLE 0x10000000, WS_DISABLED 0x08000000, WS_BORDER 0x00800000,
// WS_VSCROLL 0x00200000, WS_GROUP 0x00020000, WS_TABSTOP 0x00010000 on top of WS_CHILD.
TEST(FolderTemplate, ControlsInTemplateOrder) {
  ExpectControls(
      FolderDialog(),
      {
          {0xFFFF, kStatic, 0x50020000, 8, 6, 103, 9, "&Install Vexa into this folder:"},
          {102, kEdit, 0x50810080, 6, 17, 159, 12, ""},  // ES_AUTOHSCROLL
          // LBS_NOTIFY, LBS_SORT, LBS_OWNERDRAWFIXED, LBS_HASSTRINGS, LBS_DISABLENOSCROLL
          {1121, kListBox, 0x50A11053, 6, 47, 112, 86, ""},
          {1091, kStatic, 0x50020000, 8, 132, 37, 9, "Dri&ves:"},
          // CBS_DROPDOWNLIST, CBS_OWNERDRAWFIXED, CBS_AUTOHSCROLL, CBS_SORT, CBS_HASSTRINGS
          {1137, kComboBox, 0x50A10353, 6, 142, 112, 60, ""},
          {1040, kButton, 0x48020003, 294, 28, 50, 12, "&Read Only"},
          {1038, kButton, 0x48020000, 295, 50, 50, 14, "&Help"},
          {1090, kStatic, 0x50020000, 8, 35, 51, 10, "&Folders:"},
          {1152, kEdit, 0x48800480, 290, 77, 77, 12, "JUNK!"},  // ES_AUTOHSCROLL, ES_OEMCONVERT
          {1120, kListBox, 0x48A01053, 288, 99, 81, 66, ""},
          {1089, kStatic, 0x48020000, 288, 167, 69, 9, "List Files of &Type:"},
          {1136, kComboBox, 0x48A00043, 288, 177, 82, 32, ""},  // CBS_DROPDOWNLIST, CBS_AUTOHSCROLL
          {1088, kEdit, 0x40800080, -78, 252, 516, 12, ""},     // hidden but enabled
          {1, kButton, 0x50010000, 125, 48, 40, 16, "OK"},
          {2, kButton, 0x50010000, 125, 69, 40, 16, "Cancel"},
      });
}

// ---------------------------------------------------------------------------------------
// Icons

uint16_t U16(const Bytes& b, size_t at) { return (uint16_t)(b.at(at) | b.at(at + 1) << 8); }
uint32_t U32(const Bytes& b, size_t at) { return U16(b, at) | (uint32_t)U16(b, at + 2) << 16; }

TEST(Icons, EachIsOne32x32SixteenColourImageAsDrawn) {
  const Bytes vgaPalette = {
      0x00, 0x00, 0x00, 0, 0x00, 0x00, 0x80, 0, 0x00, 0x80, 0x00, 0, 0x00, 0x80, 0x80, 0,
      0x80, 0x00, 0x00, 0, 0x80, 0x00, 0x80, 0, 0x80, 0x80, 0x00, 0, 0xC0, 0xC0, 0xC0, 0,
      0x80, 0x80, 0x80, 0, 0x00, 0x00, 0xFF, 0, 0x00, 0xFF, 0x00, 0, 0x00, 0xFF, 0xFF, 0,
      0xFF, 0x00, 0x00, 0, 0xFF, 0x00, 0xFF, 0, 0xFF, 0xFF, 0x00, 0, 0xFF, 0xFF, 0xFF, 0};
  constexpr uint32_t kImageBytes = 40 + 64 + 32 * 16 + 32 * 4;
  Bytes images[2];
  for (uint16_t group : {1, 2}) {
    SCOPED_TRACE("icon " + std::to_string(group));
    Bytes directory = Resource(vexa::kRtGroupIcon, group).bytes;
    ASSERT_EQ(directory.size(), 6u + 14u);  // header and one entry
    EXPECT_EQ(U16(directory, 0), 0);
    EXPECT_EQ(U16(directory, 2), 1);  // icons
    EXPECT_EQ(U16(directory, 4), 1);  // one image
    EXPECT_EQ(directory[6], 32);
    EXPECT_EQ(directory[7], 32);
    EXPECT_EQ(directory[8], 16);  // colours
    EXPECT_EQ(U16(directory, 10), 1);
    EXPECT_EQ(U16(directory, 12), 4);  // bits per pixel
    EXPECT_EQ(U32(directory, 14), kImageBytes);

    Bytes image = Resource(vexa::kRtIcon, U16(directory, 18)).bytes;
    ASSERT_EQ(image.size(), kImageBytes);
    EXPECT_EQ(U32(image, 0), 40u);
    EXPECT_EQ(U32(image, 4), 32u);
    EXPECT_EQ(U32(image, 8), 64u);  // colour rows and mask rows
    EXPECT_EQ(U16(image, 12), 1);
    EXPECT_EQ(U16(image, 14), 4);
    EXPECT_EQ(U32(image, 16), 0u);  // uncompressed
    EXPECT_EQ(Bytes(image.begin() + 40, image.begin() + 104), vgaPalette);
    // The mask leaves some pixels transparent and draws others.
    Bytes mask(image.end() - 128, image.end());
    EXPECT_TRUE(std::count(mask.begin(), mask.end(), 0xFF) > 0);
    EXPECT_TRUE(std::count(mask.begin(), mask.end(), 0x00) > 0);

    Bytes drawn = testfiles::Read(kWindowsBuild / "generated" /
                                  ("vexa_icon" + std::to_string(group) + ".ico"));
    ASSERT_EQ(drawn.size(), 22u + kImageBytes);
    EXPECT_TRUE(Bytes(drawn.begin() + 22, drawn.end()) == image) << "not the icon make_icons drew";
    images[group - 1] = image;
  }
  EXPECT_NE(images[0], images[1]);
}

// ---------------------------------------------------------------------------------------
// Licence and archive

// Where a text has a line feed without a carriage return before it, or the other way round.
std::string BareLineEnd(const Bytes& text) {
  for (size_t k = 0; k < text.size(); k++) {
    bool lineFeedAlone = text[k] == '\n' && (k == 0 || text[k - 1] != '\r');
    bool returnAlone = text[k] == '\r' && (k + 1 == text.size() || text[k + 1] != '\n');
    if (lineFeedAlone || returnAlone) return "bare line end at " + std::to_string(k);
  }
  return "";
}

TEST(Licence, IsOurCrLfTextEndingInStarsWithoutTheMarker) {
  Bytes licence = Resource(vexa::kRtRcData, 3).bytes;
  EXPECT_TRUE(licence == testfiles::Read(fs::path(SOURCE_DIR) / "resources" / "licence.txt"));
  EXPECT_EQ(BareLineEnd(licence), "");
  const std::string ending = "\r\n***\r\n";
  ASSERT_GT(licence.size(), ending.size());
  EXPECT_EQ(std::string(licence.end() - ending.size(), licence.end()), ending);
  // The installer cuts at the first "***" and copies into 3000 characters.
  std::string text(licence.begin(), licence.end());
  EXPECT_EQ(text.find("***"), licence.size() - 5);
  EXPECT_LT(text.find("***"), 3000u - 1);
  EXPECT_FALSE(Contains(licence, vexa::kMarkerText));
}

// The payload's texts as checked out: CR LF throughout, as the installed files must be.
TEST(PayloadTexts, KeepCrLfLineEnds) {
  for (const char* name : {"about.txt", "history.txt", "vexa.ini", "macros.ini", "menus.ini",
                           "sites.ini", "links.ini"}) {
    SCOPED_TRACE(name);
    Bytes text = testfiles::Read(fs::path(SOURCE_DIR) / "payload" / name);
    ASSERT_GT(text.size(), 2u);
    EXPECT_EQ(BareLineEnd(text), "");
    EXPECT_EQ(std::string(text.end() - 2, text.end()), "\r\n");
  }
}

// The installer is the stub with the archive added by vexa-pack build: every resource of
// the stub unchanged, RCDATA 4 the archive with its trailer, and the sections in front of
// the resources the stub's own but for the sum record, now filled.
TEST(Archive, InstallerIsTheStubWithTheArchiveAdded) {
  Bytes stubBytes = testfiles::Read(kWindowsBuild / "vexa-stub.exe");
  ASSERT_FALSE(stubBytes.empty());
  vexa::PeImage stub = vexa::PeImage::Parse(stubBytes);
  EXPECT_FALSE(stub.FindResource(vexa::kRtRcData, ResourceId((uint16_t)4)));
  EXPECT_FALSE(Contains(stubBytes, vexa::kMarkerText));
  EXPECT_FALSE(Contains(stubBytes, "VxSumRec"));
  for (const vexa::PeResource& resource : stub.resources()) {
    SCOPED_TRACE(Text(resource.type) + "/" + Text(resource.name));
    std::optional<vexa::PeResource> carried =
        Installer().FindResource(resource.type, resource.name);
    ASSERT_TRUE(carried);
    EXPECT_TRUE(carried->bytes == resource.bytes);
    EXPECT_EQ(carried->language, resource.language);
  }
  EXPECT_EQ(Installer().resources().size(), stub.resources().size() + 1);

  Bytes carried = Resource(vexa::kRtRcData, 4).bytes;
  EXPECT_EQ(std::string(carried.begin(), carried.begin() + 4), "ARNI");
  EXPECT_EQ(std::string(carried.end() - 6, carried.end()), "ARNI\r\n");

  // From the first section up to the resource section, only the twelve bytes of the
  // record differ.
  uint32_t first = UINT32_MAX, resources = 0;
  for (const vexa::PeSection& section : stub.sections()) {
    if (section.rawSize > 0) first = std::min(first, section.rawOffset);
    if (section.name == ".rsrc") resources = section.rawOffset;
  }
  ASSERT_GT(resources, first);
  ASSERT_GE(SetupBytes().size(), resources);
  std::vector<size_t> differ;
  for (size_t at = first; at < resources; at++) {
    if (stubBytes[at] != SetupBytes()[at]) differ.push_back(at);
  }
  std::string record(SetupBytes().begin() + first, SetupBytes().begin() + resources);
  size_t at = record.find("VxSumRec");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(record.find("VxSumRec", at + 1), std::string::npos);
  at += first;
  EXPECT_EQ(std::string(stubBytes.begin() + (ptrdiff_t)at, stubBytes.begin() + (ptrdiff_t)at + 8),
            "VxSumPnd");
  ASSERT_FALSE(differ.empty());
  EXPECT_GE(differ.front(), at);
  EXPECT_LT(differ.back(), at + 12);
  uint32_t sum = U32(SetupBytes(), at + 8);
  std::span<const uint8_t> counted(carried.data() + 4, carried.size() - 4 - 6);
  EXPECT_EQ(Hex(sum), Hex(vexa::ArchiveSum(counted)));
}

// Read as the installer reads it: the first marker in the whole file opens RCDATA 4, every
// segment decodes to the demo payload's file of its row, and the sum is the archive's own.
TEST(Archive, InstallerScanFindsItAtRcData4AndUnpacksThePayload) {
  vexa::PeResource carried = Resource(vexa::kRtRcData, 4);
  vexa::ScanReport scan = vexa::ScanArchive(SetupBytes(), true);
  for (const vexa::Problem& problem : scan.problems) ADD_FAILURE() << vexa::Describe(problem);
  ASSERT_TRUE(scan.markerFound);
  EXPECT_EQ(scan.firstMarker, carried.fileOffset);
  ASSERT_EQ(scan.segments.size(), (size_t)SEGMENT_COUNT);
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    SCOPED_TRACE(TargetFileTable[row]);
    Bytes file = testfiles::Read(kWindowsBuild / "payload" / TargetFileTable[row]);
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(scan.segments[row].output == file);
  }
  std::span<const uint8_t> counted(carried.bytes.data() + 4, carried.bytes.size() - 4 - 6);
  EXPECT_EQ(scan.sum, vexa::ArchiveSum(counted));
}

// ---------------------------------------------------------------------------------------
// The reader itself, on damaged copies of the installer

TEST(PeImageReader, RefusesDamagedImages) {
  const Bytes& good = SetupBytes();
  ASSERT_GT(good.size(), 0x400u);
  uint32_t pe = U32(good, 0x3C);
  auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes copy = good;
    std::copy(bytes.begin(), bytes.end(), copy.begin() + (ptrdiff_t)at);
    return copy;
  };
  const struct {
    const char* name;
    Bytes file;
  } cases[] = {
      {"empty", {}},
      {"shorter than the MZ header", Bytes(good.begin(), good.begin() + 63)},
      {"no MZ", with(0, {'Z', 'M'})},
      {"PE header beyond the end", with(0x3C, {0xFF, 0xFF, 0xFF, 0x00})},
      {"no PE signature", with(pe, {'P', 'F'})},
      {"64-bit optional header", with(pe + 24, {0x0B, 0x02})},
      {"headers only", Bytes(good.begin(), good.begin() + 0x400)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(vexa::PeImage::Parse(c.file), std::runtime_error);
  }
  EXPECT_NO_THROW(vexa::PeImage::Parse(good));
}

TEST(PeImageReader, RefusesCutDialogTemplates) {
  Bytes dialog = Resource(vexa::kRtDialog, "install_dlg").bytes;  // names ignore case
  for (size_t cut : {size_t{0}, size_t{17}, size_t{40}, dialog.size() / 2, dialog.size() - 2}) {
    SCOPED_TRACE(cut);
    EXPECT_THROW(testpe::ParseDialogTemplate(std::span(dialog.data(), cut)), std::runtime_error);
  }
}

}  // namespace
