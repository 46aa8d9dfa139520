// The real installer under Wine, driven like a user: pages, captions, focus, the
// installation of the demo payload, the program group made through the program manager,
// the closing actions, and the ways of leaving early. Every case runs in a fresh prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "walk.h"

namespace winetest {
namespace {

const char WIZARD_TITLE[] = "Vexa v5.61 32bit Installation";
const char WARNING_CAPTION[] = "Vexa Installation Warning";
const char GROUP_ERROR_CAPTION[] = "Vexa Installation Error [15]";
const char FOLDER_TITLE[] = "Vexa Select Folder";
const int VK_ESCAPE_KEY = 0x1B;
const int INSTALL_TIMEOUT_MS = 120000;
const int PAGE_TIMEOUT_MS = 15000;

// What each page shows (ids of visible controls besides buttons 1 and 2), the captions of
// buttons 1 and 2 (null: button 1 hidden), visible controls that are disabled, and the
// control that has the focus.
struct ExpectedPage {
  std::set<int> shown;
  const char* button1;
  bool button1Enabled;
  const char* button2;
  std::set<int> disabled;
  int focus;
};

const ExpectedPage PAGES[5] = {
    {{130, 131, 132, 133}, "&Next >", true, "Cancel", {}, 1},
    {{140, 141, 142}, "&Yes", true, "&No", {}, 141},
    {{150, 151, 152, 153, 154, 155, 156, 157, 158, 159}, "&Install", true, "Cancel", {}, 1},
    {{150, 151, 152, 153, 154, 170, 172}, "&Install", false, "Abort", {153, 1}, 2},
    {{180, 181, 182, 183, 184, 185}, nullptr, false, "&Finish", {}, 2},
};

// A control on each page that shows nowhere else, with its text: seeing it means the page
// is up.
const std::pair<int, const char*> PAGE_MARK[5] = {
    {133, "To continue, please click the Next button."},
    {142,
     "Do you accept the terms of this license agreement? If you do, please click the Yes button, "
     "otherwise click No."},
    {159,
     "Once you're ready to install Vexa, click the Install button to continue, or click Cancel to "
     "exit."},
    {172, "Install Progress:"},
    {185, "To end the installation, please click the Finish button."},
};

// The fixed texts of the dialog's controls.
const std::map<int, std::string> CONTROL_TEXT = {
    {180, "Installation of Vexa was successful!"},
    {181,
     "After you close this window, you can run Vexa, connect to the internet, and start chatting!"},
    {182,
     "If you are new to Vexa, you might want to read the first few sections of the Vexa help file "
     "before "
     "you start. The sections are short and give a good general introduction."},
    {183, "&Read Vexa Help file"},
    {184, "&Launch Vexa"},
    {185, "To end the installation, please click the Finish button."},
    {130,
     "Welcome to the Vexa installation program! This program will install Vexa v5.61 32bit on your "
     "computer."},
    {131,
     "If you have a previous copy of Vexa installed, please make sure that it is not running "
     "during the "
     "installation."},
    {132, "It is also advised that you close all other applications before installing Vexa."},
    {133, "To continue, please click the Next button."},
    {140,
     "Please read the following license agreement before installing Vexa. You can scroll down to "
     "view the "
     "rest of the agreement."},
    {142,
     "Do you accept the terms of this license agreement? If you do, please click the Yes button, "
     "otherwise "
     "click No."},
    {150, "Vexa will be installed into the folder shown below."},
    {151,
     "If you would like to install Vexa into a different folder, click on browse and select a new "
     "folder."},
    {153, "&Browse"},
    {154, "Destination folder:"},
    {155, "You can also change the following options:"},
    {156, "&Make Backups of any existing Vexa files"},
    {157, "&Keep your existing Vexa settings and ini files"},
    {158, "&Create Vexa Shortcut icons"},
    {159,
     "Once you're ready to install Vexa, click the Install button to continue, or click Cancel to "
     "exit."},
    {172, "Install Progress:"},
};

const char* const PAYLOAD_NAMES[11] = {"vexa32.exe", "vxtool32.exe", "vexa.hlp", "primer.hlp",
                                       "about.txt",  "history.txt",  "vexa.ini", "macros.ini",
                                       "menus.ini",  "sites.ini",    "links.ini"};

// The program group's items and the file each one points at.
const std::pair<const char*, const char*> GROUP_ITEMS[5] = {
    {"Vexa32.lnk", "vexa32.exe"},       {"Vexa Help.lnk", "vexa.hlp"},
    {"Quick Primer.lnk", "primer.hlp"}, {"About.txt.lnk", "about.txt"},
    {"History.txt.lnk", "history.txt"},
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return (char)tolower(c); });
  return text;
}

// Latin-1 bytes as the driver reports them (UTF-8).
std::string Utf8FromLatin1(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += (char)c;
    } else {
      out += (char)(0xC0 | (c >> 6));
      out += (char)(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// How a shell link stores its strings.
std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

std::string TestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  std::replace(name.begin(), name.end(), '/', '-');
  return name;
}

// The three ways a user gives button 2's command: the button, Escape, the close box.
enum ButtonTwo { BY_BUTTON, BY_ESCAPE_KEY, BY_CLOSE_BOX };

struct Rect {
  long left = 0, top = 0, right = 0, bottom = 0;
};

// A control's place: on the screen, in the dialog's client coordinates, and the size of that
// client area.
struct Place {
  Rect screen, client;
  long clientWidth = 0, clientHeight = 0;
};

using Rgb = std::array<int, 3>;

// The colours of one row of pixels of a screenshot, read with ImageMagick.
std::vector<Rgb> PixelRow(const fs::path& png, long x, long y, long width) {
  std::string command = "convert '" + png.string() + "' -crop " + std::to_string(width) + "x1+" +
                        std::to_string(x) + "+" + std::to_string(y) + " txt:-";
  std::vector<Rgb> row;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return row;
  char line[256];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    Rgb rgb;
    if (line[0] != '#' && sscanf(strchr(line, '(') != nullptr ? strchr(line, '(') : line,
                                 "(%d,%d,%d", &rgb[0], &rgb[1], &rgb[2]) == 3)
      row.push_back(rgb);
  }
  pclose(pipe);
  return row;
}

class WineUi : public ::testing::Test {
 protected:
  // Cases that start the installer themselves, from an image of their own, say so.
  virtual bool StartsInstallerAtOnce() const { return true; }

  // Changes to the prefix copy that must be in place before Wine starts in it.
  virtual void BeforeWine(Session&) {}

  void SetUp() override {
    session_ = std::make_unique<Session>(Session::Options{TestName(), StartsInstallerAtOnce(),
                                                          [this](Session& s) { BeforeWine(s); }});
    shots_ = session_->Paths().screenshots / "tests" / TestName();
    fs::remove_all(shots_);
  }
  void TearDown() override {
    if (session_ && HasFailure()) {
      session_->KeepFolder();
      session_->Shot(session_->Paths().screenshots / "failures" / (TestName() + "-end.png"));
    }
    session_.reset();
  }

  Session& S() { return *session_; }
  fs::path Destination() { return S().DriveC() / "vexa"; }
  fs::path HelpLog() { return S().DriveC() / "winhlp32.log"; }

  void Shot(const std::string& name) {
    Settle(S());
    S().Shot(shots_ / (name + ".png"));
  }

  // Waits until the page is up and the wizard has finished setting it up.
  void WaitPage(int page, int timeoutMs = PAGE_TIMEOUT_MS) {
    S().WaitText(PAGE_MARK[page].first, PAGE_MARK[page].second, timeoutMs);
    S().Must({"sync", "wizard"});
  }

  void Press(int id) { S().Click(id); }

  void GiveButtonTwo(ButtonTwo how) {
    switch (how) {
      case BY_BUTTON:
        Press(2);
        break;
      case BY_ESCAPE_KEY:
        S().Must({"key", std::to_string(VK_ESCAPE_KEY)});
        break;
      case BY_CLOSE_BOX:
        S().Must({"close"});
        break;
    }
  }
  // Clicks a check box of the wizard and waits until it has turned.
  void Toggle(int id) { S().Must({"toggle", std::to_string(id)}); }

  // Compares everything the user can see of the wizard with the page's description.
  void ExpectPage(int page, const std::set<int>& unticked = {}) {
    SCOPED_TRACE("page " + std::to_string(page) + " (" + PAGE_NAMES[page] + ")");
    const ExpectedPage& want = PAGES[page];
    std::vector<Control> controls = S().Controls();
    std::map<int, Control> byId;
    std::set<int> visible;
    for (const Control& c : controls) {
      byId[c.id] = c;
      if (c.visible) visible.insert(c.id);
    }
    std::set<int> expected = want.shown;
    expected.insert(2);
    if (want.button1 != nullptr) expected.insert(1);
    EXPECT_EQ(visible, expected) << "visible controls";

    for (int id : visible) {
      const Control& c = byId[id];
      auto fixed = CONTROL_TEXT.find(id);
      if (fixed != CONTROL_TEXT.end()) {
        EXPECT_EQ(c.text, fixed->second) << "text of control " << id;
      }
      bool disabled = want.disabled.count(id) > 0;
      EXPECT_EQ(c.enabled, !disabled) << "enabled state of control " << id;
      if (c.check >= 0) {
        EXPECT_EQ(c.check, unticked.count(id) ? 0 : 1) << "check state of control " << id;
      }
    }
    ASSERT_TRUE(byId.count(1) && byId.count(2) && byId.count(121)) << "buttons 1, 2 and 121 exist";
    if (want.button1 != nullptr) {
      EXPECT_EQ(byId[1].text, want.button1) << "caption of button 1";
    } else {
      EXPECT_FALSE(byId[1].enabled) << "button 1 is disabled where it is hidden";
    }
    EXPECT_EQ(byId[2].text, want.button2) << "caption of button 2";
    EXPECT_FALSE(byId[121].visible) << "Back is never shown";
    EXPECT_FALSE(byId[121].enabled) << "Back is never enabled";
    EXPECT_FALSE(byId[120].visible) << "the icon anchor is never shown";
    if (page == 2 || page == 3) {
      EXPECT_EQ(byId[152].text, "c:\\vexa") << "destination folder";
    }
    if (page == 3) {
      const std::string& status = byId[170].text;
      EXPECT_TRUE(status.rfind("Scanning file", 0) == 0 ||
                  status.rfind("Extracting file: ", 0) == 0)
          << "status text: " << status;
    }
    EXPECT_EQ(S().Must({"state", "wizard"}).head,
              std::string(page == 3 ? "0" : "1") + "\t" + WIZARD_TITLE)
        << "the wizard's title; disabled only under the abort question";
  }

  // A dialog sits where centring on the desktop puts it: 10 pixels clear of the right and
  // bottom edges, never at a negative coordinate.
  void ExpectCentred(const std::string& dialog) {
    long w[4], d[4];
    std::string head = S().Must({"rect", dialog}).head;
    ASSERT_EQ(sscanf(head.c_str(), "%ld %ld %ld %ld\t%ld %ld %ld %ld", &w[0], &w[1], &w[2], &w[3],
                     &d[0], &d[1], &d[2], &d[3]),
              8)
        << head;
    long width = w[2] - w[0], height = w[3] - w[1];
    long x = d[0] + (d[2] - d[0]) / 2 - width / 2, y = d[1] + (d[3] - d[1]) / 2 - height / 2;
    if (x + width > d[2] - 10) x = d[2] - 10 - width;
    if (y + height > d[3] - 10) y = d[3] - 10 - height;
    if (x < 0) x = 1;
    if (y < 0) y = 1;
    EXPECT_EQ(w[0], x) << dialog << " left edge";
    EXPECT_EQ(w[1], y) << dialog << " top edge";
  }

  void ExpectFocus(int id, const std::string& where) {
    EXPECT_EQ(S().FocusId(), id) << "control with the keyboard focus, " << where;
  }

  void WalkToOptions() {
    S().WaitWizard();
    WaitPage(0);
    Press(1);
    WaitPage(1);
    Press(1);
    WaitPage(2);
  }

  void InstallToFinish() {
    Press(1);
    WaitPage(4, INSTALL_TIMEOUT_MS);
  }

  // Install, with an Escape press queued behind it while the installer is held still: the
  // abort question then comes up before the first step of the run, every time.
  Session::Box InstallIntoAbortQuestion() {
    S().Must({"hold", "1", "&Install", "5000"});
    Press(1);
    S().Must({"command", "2"});
    S().Must({"release"});
    return S().WaitBox(WARNING_CAPTION);
  }

  void ExpectPayloadInstalled(const fs::path& folder, fs::path payload = {}) {
    if (payload.empty()) payload = S().Paths().windows / "payload";
    std::set<std::string> installed;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
      installed.insert(entry.path().filename().string());
    EXPECT_EQ(installed, std::set<std::string>(std::begin(PAYLOAD_NAMES), std::end(PAYLOAD_NAMES)))
        << "the files in " << folder;
    for (const char* name : PAYLOAD_NAMES) {
      std::string want = ReadFile(payload / name);
      ASSERT_FALSE(want.empty()) << "payload file " << payload / name;
      EXPECT_TRUE(ReadFile(folder / name) == want) << name << " differs from " << payload / name;
    }
  }

  void ExpectNoTemporaryFile() {
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(S().DriveC() / "users", ec)) {
      EXPECT_NE(entry.path().filename(), "vexa.tmp") << "left behind: " << entry.path();
    }
    EXPECT_FALSE(fs::exists(S().DriveC() / "vexa.tmp"));
  }

  // The five items, each naming its file and the destination as its working folder; the
  // two text files take the icon of "write.exe" exactly when the shell is the old one.
  void ExpectProgramGroup(bool oldShell = true) {
    fs::path group = S().ProgramGroupDir();
    std::set<std::string> links, want;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(group, ec))
      links.insert(entry.path().filename().string());
    for (const auto& [link, target] : GROUP_ITEMS) want.insert(link);
    EXPECT_EQ(links, want) << "items of the program group in " << group;
    for (const auto& [link, target] : GROUP_ITEMS) {
      std::string content = Lower(ReadFile(group / link));
      EXPECT_NE(content.find(std::string("c:\\vexa\\") + target), std::string::npos)
          << link << " does not name c:\\vexa\\" << target;
      EXPECT_NE(content.find(Utf16("c:\\vexa")), std::string::npos)
          << link << " does not start in c:\\vexa";
      bool textFile = std::string(target).ends_with(".txt");
      EXPECT_EQ(content.find(Utf16("write.exe")) != std::string::npos, textFile && oldShell)
          << link << ": icon of write.exe";
    }
  }

  // Waits for the help stand-in's record; empty when it did not come in time.
  std::string WaitHelpLog(int timeoutMs) {
    auto start = std::chrono::steady_clock::now();
    while (!fs::exists(HelpLog())) {
      if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeoutMs))
        return "";
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ReadFile(HelpLog());
  }

  std::set<std::string> Processes() {
    Reply reply = S().Must({"processes"});
    std::set<std::string> names;
    for (const std::string& row : reply.rows) names.insert(Lower(Unescape(row)));
    return names;
  }

  // After the installer has ended: nothing of an installation is there.
  void ExpectNothingInstalled() {
    EXPECT_FALSE(fs::exists(Destination())) << "the destination folder exists";
    EXPECT_FALSE(fs::exists(S().ProgramGroupDir())) << "the program group exists";
    EXPECT_FALSE(fs::exists(HelpLog())) << "the help viewer was asked";
    EXPECT_EQ(Processes().count("vexa32.exe"), 0u) << "the program was started";
  }

  // The position of an entry in a list of the folder dialog.
  int ItemIndex(int list, const std::string& entry) {
    Reply items = S().Must({"items", std::to_string(list), "folder"});
    auto found = std::find(items.rows.begin(), items.rows.end(), Escape(entry));
    if (found == items.rows.end()) S().Fail("no " + entry + " in list " + std::to_string(list));
    return (int)(found - items.rows.begin());
  }

  // Browse, type a folder into the folder field, OK; control 152 then shows it as shown.
  void ChooseTypedFolder(const std::string& typed, const std::string& shown) {
    Press(153);
    S().WaitBox(FOLDER_TITLE);
    S().Must({"settext", "102", Escape(typed), "folder"});
    S().Click(1, "folder");
    S().WaitGone("folder", PAGE_TIMEOUT_MS);
    EXPECT_EQ(S().ControlText(152), shown) << "OK hands back the typed folder, lower-cased";
  }

  // Wine's desktop process answers the program manager's DDE service; it serves three
  // names, each through a window of this class, which may come up after the wizard.
  Place PlaceOf(int id) {
    std::vector<std::string> f = SplitTabs(S().Must({"crect", std::to_string(id)}).head);
    Place p;
    if (f.size() < 3 ||
        sscanf(f[0].c_str(), "%ld %ld %ld %ld", &p.screen.left, &p.screen.top, &p.screen.right,
               &p.screen.bottom) != 4 ||
        sscanf(f[1].c_str(), "%ld %ld %ld %ld", &p.client.left, &p.client.top, &p.client.right,
               &p.client.bottom) != 4 ||
        sscanf(f[2].c_str(), "%ld %ld", &p.clientWidth, &p.clientHeight) != 2) {
      S().Fail("malformed crect answer for control " + std::to_string(id));
    }
    return p;
  }

  void CloseProgramManager() { S().Must({"closeclass", "WineDdeServerName", "3", "20000"}, 40000); }

  std::unique_ptr<Session> session_;
  fs::path shots_;
};

// The whole way with every default: each page as the user sees it, the abort question
// answered No, the demo payload installed byte for byte, the program group, and Finish with
// both closing actions.
TEST_F(WineUi, WalkInstallAndFinish) {
  S().WaitWizard();
  WaitPage(0);
  ExpectPage(0);
  ExpectFocus(1, "welcome page");
  ExpectCentred("wizard");
  Shot("1-welcome");

  Press(1);
  WaitPage(1);
  ExpectPage(1);
  ExpectFocus(141, "licence page");
  std::string licence = Utf8FromLatin1(ReadFile(S().Paths().source / "resources/licence.txt"));
  size_t stars = licence.find("***");
  ASSERT_NE(stars, std::string::npos) << "the licence source ends with ***";
  EXPECT_EQ(S().ControlText(141), licence.substr(0, stars)) << "the licence text ends before ***";
  Shot("2-licence");

  Press(1);
  WaitPage(2);
  ExpectPage(2);
  ExpectFocus(1, "options page");
  Shot("3-options");

  Session::Box question = InstallIntoAbortQuestion();
  EXPECT_EQ(question.text, "Are you sure you want to abort the installation?");
  EXPECT_EQ(question.buttons, (std::vector<int>{6, 7}));
  EXPECT_EQ(question.ownerTitle, WIZARD_TITLE) << "the question belongs to the wizard";
  EXPECT_EQ(question.ownerClass, "#32770");
  ExpectPage(3);
  EXPECT_EQ(S().Call({"click", "1"}).head, "dialog-disabled")
      << "the wizard takes no click under a question";
  Shot("4-progress-abort-question");
  S().AnswerBox(WARNING_CAPTION, 7);
  // The run goes on from its start. Caught while it scans for the files (a few steps later,
  // so the wizard is active again), Abort still has the focus and the page shows its bars.
  if (S().Call({"hold", "170", "Scanning file: *", "10000", "wizard", "2", "&Finish"}).Ok()) {
    ExpectFocus(2, "progress page");
    S().Shot(shots_ / "4-progress.png");
    S().Must({"release"});
  } else {
    std::cout << "note: the run ended before the progress page could be held\n";
  }
  WaitPage(4, INSTALL_TIMEOUT_MS);
  ExpectPage(4);
  // The focus on this page is checked where no program group is made: Wine's desktop
  // opens a folder window for the new group, which takes the activation at any moment.
  EXPECT_EQ(S().Call({"click", "1"}).head, "hidden") << "Next is not there on the finish page";
  Shot("5-finish");
  ExpectPayloadInstalled(Destination());
  EXPECT_FALSE(fs::exists(Destination() / "backup"))
      << "nothing was replaced, so nothing was backed up";
  ExpectNoTemporaryFile();
  ExpectProgramGroup();

  Press(2);
  S().WaitGone("wizard", PAGE_TIMEOUT_MS);
  Reply program = S().Must({"window", "VexaClientWindow", "Vexa v5.61", "30000"}, 50000);
  EXPECT_NE(program.head.find("\tVexa v5.61"), std::string::npos) << program.head;
  std::string folder = Lower(Unescape(S().Must({"cwd", "vexa32.exe"}).head));
  EXPECT_TRUE(folder == "c:\\vexa" || folder == "c:\\vexa\\") << "the program runs in " << folder;
  std::string help = WaitHelpLog(30000);
  EXPECT_NE(help.find("command 1\n"), std::string::npos) << help;
  EXPECT_NE(help.find("data 10\n"), std::string::npos) << help;
  EXPECT_NE(help.find("path c:\\vexa\\vexa.hlp\n"), std::string::npos) << help;
  EXPECT_NE(Lower(help).find("process vexa32.exe\n"), std::string::npos)
      << "the program is started before the help file is opened";
  EXPECT_EQ(S().WaitInstallerExit(30000), 0);
}

// Every way of leaving before the installation starts ends the program at once, with exit
// code 0, no question, and nothing installed or started.
struct EarlyEnd {
  const char* name;
  int page;
  ButtonTwo how;
};

void PrintTo(const EarlyEnd& c, std::ostream* out) { *out << c.name; }

class WineUiEarlyEnd : public WineUi, public ::testing::WithParamInterface<EarlyEnd> {};

TEST_P(WineUiEarlyEnd, EndsAtOnceWithNothingInstalled) {
  const EarlyEnd& c = GetParam();
  S().WaitWizard();
  for (int page = 0; page < c.page; page++) {
    WaitPage(page);
    Press(1);
  }
  WaitPage(c.page);
  GiveButtonTwo(c.how);
  S().WaitGone("wizard", PAGE_TIMEOUT_MS);
  EXPECT_EQ(S().WaitInstallerExit(30000), 0);
  ExpectNothingInstalled();
}

INSTANTIATE_TEST_SUITE_P(Pages, WineUiEarlyEnd,
                         ::testing::Values(EarlyEnd{"welcome_cancel", 0, BY_BUTTON},
                                           EarlyEnd{"welcome_escape", 0, BY_ESCAPE_KEY},
                                           EarlyEnd{"welcome_close", 0, BY_CLOSE_BOX},
                                           EarlyEnd{"licence_no", 1, BY_BUTTON},
                                           EarlyEnd{"licence_escape_in_text", 1, BY_ESCAPE_KEY},
                                           EarlyEnd{"options_cancel", 2, BY_BUTTON},
                                           EarlyEnd{"options_close", 2, BY_CLOSE_BOX}),
                         [](const ::testing::TestParamInfo<EarlyEnd>& info) {
                           return info.param.name;
                         });

// The finish page's two boxes decide what starts after the wizard, however it is closed.
// These installations make no program group.
struct FinishChoice {
  const char* name;
  bool help;
  bool launch;
  ButtonTwo how;
};

void PrintTo(const FinishChoice& c, std::ostream* out) { *out << c.name; }

class WineUiFinish : public WineUi, public ::testing::WithParamInterface<FinishChoice> {};

TEST_P(WineUiFinish, StartsWhatWasTicked) {
  const FinishChoice& c = GetParam();
  WalkToOptions();
  Toggle(158);
  InstallToFinish();
  ExpectFocus(2, "finish page");
  EXPECT_FALSE(fs::exists(S().ProgramGroupDir())) << "no program group was asked for";
  if (!c.help) Toggle(183);
  if (!c.launch) Toggle(184);
  std::set<int> unticked;
  if (!c.help) unticked.insert(183);
  if (!c.launch) unticked.insert(184);
  ExpectPage(4, unticked);
  GiveButtonTwo(c.how);
  S().WaitGone("wizard", PAGE_TIMEOUT_MS);
  // The help request holds the installer until the viewer has it, and the program is
  // started before that: once the installer has ended, both have happened or never will.
  EXPECT_EQ(S().WaitInstallerExit(30000), 0);
  EXPECT_EQ(fs::exists(HelpLog()), c.help) << "help viewer asked";
  if (c.help) {
    std::string help = ReadFile(HelpLog());
    EXPECT_NE(help.find("path c:\\vexa\\vexa.hlp\n"), std::string::npos) << help;
    EXPECT_EQ(Lower(help).find("process vexa32.exe\n"), std::string::npos) << "nothing started";
  }
  EXPECT_EQ(Processes().count("vexa32.exe"), c.launch ? 1u : 0u) << "program started";
  if (c.launch) S().Must({"window", "VexaClientWindow", "Vexa v5.61", "30000"}, 50000);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, WineUiFinish,
    ::testing::Values(FinishChoice{"finish_nothing_ticked", false, false, BY_BUTTON},
                      FinishChoice{"close_box_launch_only", false, true, BY_CLOSE_BOX},
                      FinishChoice{"escape_help_only", true, false, BY_ESCAPE_KEY}),
    [](const ::testing::TestParamInfo<FinishChoice>& info) { return info.param.name; });

// Abort answered Yes once files have been written: back on the options page as the user
// left it, the run rolled back; Install then runs the whole installation anew.
TEST_F(WineUi, AbortYesRollsBackAndInstallRunsAgain) {
  WalkToOptions();
  Toggle(156);
  Press(1);
  // Held as soon as the first file appears, the Escape press queued behind the step that
  // writes it: the question comes up with that file complete.
  S().Must({"holdfile", "c:\\\\vexa\\\\vexa32.exe", std::to_string(INSTALL_TIMEOUT_MS), "wizard",
            "2", "&Finish"},
           INSTALL_TIMEOUT_MS + 20000);
  S().Must({"command", "2"});
  S().Must({"release"});
  Session::Box question = S().WaitBox(WARNING_CAPTION);
  EXPECT_EQ(question.text, "Are you sure you want to abort the installation?");
  fs::path payload = S().Paths().windows / "payload";
  EXPECT_TRUE(ReadFile(Destination() / "vexa32.exe") == ReadFile(payload / "vexa32.exe"))
      << "the first file was written before the question";
  S().AnswerBox(WARNING_CAPTION, 6);
  WaitPage(2);
  ExpectPage(2, {156});
  ExpectFocus(1, "options page after the abort");
  EXPECT_FALSE(fs::exists(Destination())) << "the files and the folder the run created are gone";
  ExpectNoTemporaryFile();

  InstallToFinish();
  ExpectPayloadInstalled(Destination());
  ExpectProgramGroup();
}

// After start-up every page stands where the layout puts it: its first control at its place,
// the status text centred and on the top of check box 156, and the two bar rectangles moved
// with the progress page (never shown, inside the client area, where the template has them
// relative to the status text and the "Install Progress:" label).
TEST_F(WineUi, PagesStandWhereTheLayoutPutsThem) {
  S().WaitWizard();
  WaitPage(0);
  const struct {
    int id;
    long left, top;
  } firsts[] = {{130, 20, 24}, {140, 20, 20}, {150, 20, 20}, {180, 20, 30}};
  for (const auto& first : firsts) {
    Place p = PlaceOf(first.id);
    EXPECT_EQ(p.client.left, first.left) << "control " << first.id;
    EXPECT_EQ(p.client.top, first.top) << "control " << first.id;
  }
  Place status = PlaceOf(170), box = PlaceOf(156), label = PlaceOf(172);
  Place fileBar = PlaceOf(171), installBar = PlaceOf(173);
  long width = status.client.right - status.client.left;
  EXPECT_EQ(status.client.left, status.clientWidth / 2 - width / 2) << "the status text centred";
  EXPECT_EQ(status.client.top, box.client.top) << "the status text on check box 156's top";

  // The template (dialog units, 222 x 183 for the client area): 170 at (47, 759), 171 at
  // (44, 770), 172 at (47, 776), 173 at (44, 786). One pixel of rounding is allowed.
  double perUnitX = (double)status.clientWidth / 222.0;
  double perUnitY = (double)status.clientHeight / 183.0;
  EXPECT_EQ(fileBar.client.left, installBar.client.left);
  EXPECT_EQ(status.client.left - fileBar.client.left, label.client.left - installBar.client.left);
  EXPECT_NEAR(status.client.left - fileBar.client.left, 3 * perUnitX, 1.0);
  EXPECT_NEAR(fileBar.client.top - status.client.top, 11 * perUnitY, 1.0);
  EXPECT_NEAR(installBar.client.top - status.client.top, 27 * perUnitY, 1.0);
  for (const Place& bar : {fileBar, installBar}) {
    EXPECT_GE(bar.client.left, 0);
    EXPECT_LE(bar.client.right, bar.clientWidth);
    EXPECT_LE(bar.client.bottom, bar.clientHeight);
  }
  for (const Control& c : S().Controls()) {
    if (c.id == 171 || c.id == 173) {
      EXPECT_FALSE(c.visible) << "bar rectangle " << c.id;
    }
  }
}

// The bars as the user sees them, while the abort question is up in the middle of the run
// and has been moved off the page, so the page has been painted again: the install bar at
// its last fill with its black frame, the fill in RGB(0, 70, 140) from the first inner
// column, the white rest, the red percentage starting 4 pixels into the white part, the
// right frame column never painted over; the per-file bar blank. (Wine puts a thread's
// drawing on the screen when the thread waits for messages, and a file is decoded within
// one step, so the per-file bar's own fill never reaches a picture reliably.)
TEST_F(WineUi, BarsAsTheUserSeesThem) {
  WalkToOptions();
  Press(1);
  S().Must({"holdfile", Escape("c:\\vexa\\vxtool32.exe"), std::to_string(INSTALL_TIMEOUT_MS),
            "wizard", "2", "&Finish"},
           INSTALL_TIMEOUT_MS + 20000);
  S().Must({"command", "2"});
  S().Must({"release"});
  S().WaitBox(WARNING_CAPTION);
  S().Must({"move", WARNING_CAPTION, "0", "0"});
  Settle(S());
  fs::path shot = S().Shot(S().Paths().screenshots / "tests" / TestName() / "bars.png");
  Place bar = PlaceOf(173), file = PlaceOf(171), label = PlaceOf(172);
  S().AnswerBox(WARNING_CAPTION, 7);
  WaitPage(4, INSTALL_TIMEOUT_MS);

  const Rgb black = {0, 0, 0}, white = {255, 255, 255}, fill = {0, 70, 140}, red = {255, 0, 0};
  long width = bar.screen.right - bar.screen.left;
  for (long y : {bar.screen.top, bar.screen.bottom - 1}) {
    std::vector<Rgb> edge = PixelRow(shot, bar.screen.left, y, width);
    ASSERT_EQ((long)edge.size(), width) << "screenshot " << shot;
    EXPECT_EQ(std::count(edge.begin(), edge.end(), black), width) << "frame row " << y;
  }
  bool sawRed = false;
  long filled = -1;
  for (long y = bar.screen.top + 1; y < bar.screen.bottom - 1; y++) {
    std::vector<Rgb> row = PixelRow(shot, bar.screen.left, y, width);
    ASSERT_EQ((long)row.size(), width);
    EXPECT_EQ(row.front(), black) << "left frame column, row " << y;
    EXPECT_EQ(row.back(), black) << "right frame column, row " << y;
    long end = 1;
    while (end < width - 1 && row[end] == fill) end++;
    if (filled < 0) filled = end;
    EXPECT_EQ(end, filled) << "the fill ends in the same column on every row";
    for (long x = end; x < width - 1; x++) {
      if (row[x] == red) {
        sawRed = true;
        EXPECT_GE(x, end + 4) << "red text before the 4-pixel indent, row " << y;
      } else if (x < end + 4) {
        EXPECT_EQ(row[x], white) << "column " << x << ", row " << y;
      }
    }
  }
  EXPECT_GT(filled, 1) << "the install bar shows progress by the fifth file";
  EXPECT_TRUE(sawRed) << "the percentage in the white part";

  // The per-file bar stays blank once its area has been painted again: the dialog's
  // background, as beside the label.
  Rgb background = PixelRow(shot, label.screen.right + 2, label.screen.top, 1).at(0);
  long fileWidth = file.screen.right - file.screen.left;
  for (long y = file.screen.top; y < file.screen.bottom; y++) {
    std::vector<Rgb> row = PixelRow(shot, file.screen.left, y, fileWidth);
    EXPECT_EQ(std::count(row.begin(), row.end(), background), fileWidth)
        << "the per-file bar's area, row " << y;
  }
}

// The close box and Alt+F4 on the progress page ask the abort question, as Abort does: No
// lets the run go on to the finish page, Yes rolls it back to the options page.
struct CloseDuringRun {
  const char* name;
  const char* command;  // the driver's way of giving it
  int answer;           // 6 Yes, 7 No
};

class WineUiCloseDuringRun : public WineUi, public ::testing::WithParamInterface<CloseDuringRun> {};

TEST_P(WineUiCloseDuringRun, AsksTheAbortQuestion) {
  WalkToOptions();
  Press(1);
  S().Must({"holdfile", "c:\\\\vexa\\\\vexa32.exe", std::to_string(INSTALL_TIMEOUT_MS), "wizard",
            "2", "&Finish"},
           INSTALL_TIMEOUT_MS + 20000);
  S().Must({GetParam().command});
  S().Must({"release"});
  Session::Box question = S().WaitBox(WARNING_CAPTION);
  EXPECT_EQ(question.text, "Are you sure you want to abort the installation?");
  EXPECT_EQ(question.buttons, (std::vector<int>{6, 7}));
  S().AnswerBox(WARNING_CAPTION, GetParam().answer);
  if (GetParam().answer == 7) {
    WaitPage(4, INSTALL_TIMEOUT_MS);
    ExpectPayloadInstalled(Destination());
  } else {
    WaitPage(2);
    ExpectPage(2);
    EXPECT_FALSE(fs::exists(Destination())) << "the files and the folder the run created are gone";
  }
  ExpectNoTemporaryFile();
}

INSTANTIATE_TEST_SUITE_P(Ways, WineUiCloseDuringRun,
                         ::testing::Values(CloseDuringRun{"close_box_no", "close", 7},
                                           CloseDuringRun{"close_box_yes", "close", 6},
                                           CloseDuringRun{"alt_f4_no", "altf4", 7},
                                           CloseDuringRun{"alt_f4_yes", "altf4", 6}),
                         [](const ::testing::TestParamInfo<CloseDuringRun>& info) {
                           return std::string(info.param.name);
                         });

// Browse: the folder dialog starts at the drive's root completed with "vexa", follows the
// folder and drive lists, leaves the choice alone on Cancel, hands back a typed folder
// lower-cased and starts there next time; a folder that cannot be made is refused at
// Install, and a good one is installed into.
TEST_F(WineUi, BrowseChoosesTheDestination) {
  WalkToOptions();
  Press(153);
  Session::Box folder = S().WaitBox(FOLDER_TITLE);
  EXPECT_EQ(folder.ownerTitle, WIZARD_TITLE);
  EXPECT_EQ(S().Must({"state", "wizard"}).head.substr(0, 1), "0")
      << "the wizard waits for the folder dialog";
  EXPECT_EQ(S().Call({"click", "1"}).head, "dialog-disabled");
  EXPECT_EQ(S().ControlText(102, "folder"), "c:\\vexa")
      << "the first browse starts at the drive's root";
  ExpectCentred("folder");
  Shot("folder-dialog");

  // A single click in the folder list rewrites the field from the folder shown, whatever
  // was typed; a double click enters the folder; the drive list switches the drive.
  S().Must({"settext", "102", "typed", "folder"});
  S().Must({"pick", "1121", "0", "1", "folder"});
  S().WaitText(102, "c:\\vexa", PAGE_TIMEOUT_MS, "folder");
  // Being told it is hidden (some platforms say so after OK) leaves a typed folder alone.
  S().Must({"settext", "102", "typed", "folder"});
  S().Must({"hidden", "folder"});
  EXPECT_EQ(S().ControlText(102, "folder"), "typed");
  S().Must({"pick", "1121", std::to_string(ItemIndex(1121, "[windows]")), "2", "folder"});
  S().WaitText(102, "c:\\windows\\vexa", PAGE_TIMEOUT_MS, "folder");
  S().Must({"pick", "1137", std::to_string(ItemIndex(1137, "[-z-]")), "1", "folder"});
  S().WaitText(102, "z:\\vexa", PAGE_TIMEOUT_MS, "folder");
  S().Click(2, "folder");
  S().WaitGone("folder", PAGE_TIMEOUT_MS);
  EXPECT_EQ(S().ControlText(152), "c:\\vexa") << "Cancel keeps the choice";

  // A later browse starts at the folder chosen before.
  ChooseTypedFolder("C:\\Windows", "c:\\windows");
  Press(153);
  S().WaitBox(FOLDER_TITLE);
  EXPECT_EQ(S().ControlText(102, "folder"), "c:\\windows\\vexa");
  S().Click(2, "folder");
  S().WaitGone("folder", PAGE_TIMEOUT_MS);

  // A folder whose parent does not exist cannot be made: error [1], back to the options.
  ChooseTypedFolder("C:\\Apps\\Vexa Client", "c:\\apps\\vexa client");
  Press(1);
  Session::Box error = S().WaitBox("Vexa Installation Error [1]");
  EXPECT_EQ(error.text,
            "There seems to be a problem creating the directory you specified.\n\nPlease try using "
            "a different "
            "directory name!");
  EXPECT_EQ(error.buttons, (std::vector<int>{1}));
  EXPECT_EQ(error.ownerTitle, WIZARD_TITLE);
  S().AnswerBox("Vexa Installation Error [1]", 1);
  WaitPage(2);
  EXPECT_EQ(S().ControlText(152), "c:\\apps\\vexa client");
  EXPECT_FALSE(fs::exists(S().DriveC() / "apps"));

  ChooseTypedFolder("C:\\Program Files\\Vexa Client", "c:\\program files\\vexa client");
  InstallToFinish();
  ExpectPayloadInstalled(S().DriveC() / "Program Files" / "vexa client");
  EXPECT_FALSE(fs::exists(Destination()));
}

// Without a program manager the group cannot be made: the question comes up owned by the
// hidden main window, so the wizard stays usable; Yes tries again, No goes on to the finish
// page with the files installed.
TEST_F(WineUi, MissingProgramManagerIsOfferedAgain) {
  WalkToOptions();
  CloseProgramManager();
  Press(1);
  Session::Box box = S().WaitBox(GROUP_ERROR_CAPTION, INSTALL_TIMEOUT_MS);
  EXPECT_EQ(box.text,
            "There seems to be a problem adding Vexa icons to the Program Manager!\n\nDo you want "
            "me to try again?");
  EXPECT_EQ(box.buttons, (std::vector<int>{6, 7}));
  EXPECT_EQ(box.ownerClass, WIZARD_TITLE)
      << "owned by the main window (its class has the title's name)";
  EXPECT_EQ(S().Must({"state", "wizard"}).head.substr(0, 1), "1")
      << "the wizard is not disabled by it";
  Shot("group-question");
  S().AnswerBox(GROUP_ERROR_CAPTION, 6);
  S().WaitBox(GROUP_ERROR_CAPTION, INSTALL_TIMEOUT_MS);
  S().AnswerBox(GROUP_ERROR_CAPTION, 7);
  WaitPage(4, INSTALL_TIMEOUT_MS);
  ExpectPage(4);
  ExpectPayloadInstalled(Destination());
  EXPECT_FALSE(fs::exists(S().ProgramGroupDir()));
}

// Abort while the retry question is open: the run has already ended, so the wizard ends at
// once without the abort question; the files stay, and nothing is started afterwards.
TEST_F(WineUi, AbortDuringGroupQuestionEndsWithoutQuestion) {
  WalkToOptions();
  CloseProgramManager();
  Press(1);
  S().WaitBox(GROUP_ERROR_CAPTION, INSTALL_TIMEOUT_MS);
  Press(2);
  S().WaitGone("wizard", PAGE_TIMEOUT_MS);
  Reply open = S().Must({"dialogs"});
  ASSERT_EQ(open.rows.size(), 1u) << "only the retry question is open";
  EXPECT_EQ(SplitTabs(open.rows[0])[0], GROUP_ERROR_CAPTION);
  S().AnswerBox(GROUP_ERROR_CAPTION, 7);
  EXPECT_EQ(S().WaitInstallerExit(30000), 0);
  ExpectPayloadInstalled(Destination());
  EXPECT_FALSE(fs::exists(HelpLog())) << "the finish choices were not taken";
  EXPECT_EQ(Processes().count("vexa32.exe"), 0u);
}

// A carrier whose archive cannot be found is refused with the checksum error, and the
// folder the run made is removed again.
class WineUiCarrier : public WineUi {
 protected:
  bool StartsInstallerAtOnce() const override { return false; }
};

TEST_F(WineUiCarrier, MissingArchiveIsRefusedAndRolledBack) {
  std::string image = ReadFile(S().Paths().windows / "vexa-setup.exe");
  int markers = 0;
  for (size_t at = image.find("ARNI"); at != std::string::npos; at = image.find("ARNI", at + 1)) {
    image[at] = 'X';
    markers++;
  }
  ASSERT_GE(markers, 12) << "segment markers in the carrier";
  S().StartInstaller(image);
  WalkToOptions();
  Press(1);
  Session::Box box = S().WaitBox("Vexa Installation Error [13]", INSTALL_TIMEOUT_MS);
  EXPECT_EQ(box.text,
            "The installation file seems to be corrupt!\n\nPlease try running the installation "
            "program again or download a new version!");
  EXPECT_EQ(box.buttons, (std::vector<int>{1}));
  EXPECT_EQ(box.ownerTitle, WIZARD_TITLE);
  S().AnswerBox("Vexa Installation Error [13]", 1);
  S().WaitGone("wizard", PAGE_TIMEOUT_MS);
  EXPECT_EQ(S().WaitInstallerExit(30000), 0);
  EXPECT_FALSE(fs::exists(Destination())) << "the folder the run created is gone";
  EXPECT_FALSE(fs::exists(S().ProgramGroupDir()));
}

// The stub as the build ships it, run on its own: no archive and its sum record unfilled.
// It fails as a carrier without an archive does, and leaves nothing behind.
TEST_F(WineUiCarrier, TheStubAloneInstallsNothing) {
  S().StartInstaller(ReadFile(S().Paths().windows / "vexa-stub.exe"));
  WalkToOptions();
  Press(1);
  const char caption[] = "Vexa Installation Error [14]";
  Session::Box box = S().WaitBox(caption, INSTALL_TIMEOUT_MS);
  EXPECT_EQ(box.text,
            "The installation file seems to be corrupt!\n\nPlease try running the installation "
            "program again or download a new version!");
  EXPECT_EQ(box.buttons, (std::vector<int>{1}));
  S().AnswerBox(caption, 1);
  S().WaitGone("wizard", PAGE_TIMEOUT_MS);
  EXPECT_EQ(S().WaitInstallerExit(30000), 0);
  EXPECT_FALSE(fs::exists(Destination())) << "the folder the run created is gone";
}

// An installer built with a licence of its own shows that text on the licence page, cut at
// "***" as the shipped one is, and installs as usual.
TEST_F(WineUiCarrier, BuiltWithALicenceShowsItsText) {
  fs::path work = S().PrefixDir().parent_path() / "licence-build";
  fs::create_directories(work);
  const std::string shown =
      "Our own terms for this release.\r\n\r\nUse it, share it, and tell us what you "
      "think.\r\n";
  {
    std::ofstream licence(work / "licence.txt", std::ios::binary);
    licence << shown << "***\r\nNot on the page.\r\n";
  }
  std::string command;
  for (const fs::path& arg :
       {S().Paths().build / "vexa-pack", fs::path("build"), S().Paths().windows / "payload",
        fs::path("-o"), work / "setup.exe", fs::path("--stub"),
        S().Paths().windows / "vexa-stub.exe", fs::path("--licence"), work / "licence.txt"}) {
    command.append(command.empty() ? "'" : " '").append(arg.string()).append("'");
  }
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  S().StartInstaller(ReadFile(work / "setup.exe"));
  S().WaitWizard();
  WaitPage(0);
  Press(1);
  WaitPage(1);
  EXPECT_EQ(S().ControlText(141), shown);
  Shot("licence-of-its-own");
  Press(1);
  WaitPage(2);
  InstallToFinish();
  ExpectPayloadInstalled(Destination());
}

// A carrier whose wizard template cannot be found (its resource name altered in a copy):
// the wizard cannot be shown, the user reads why, and the program closes as usual, exit 0.
TEST_F(WineUiCarrier, WizardThatCannotBeShownIsReportedAndTheProgramCloses) {
  std::string image = ReadFile(S().Paths().windows / "vexa-setup.exe");
  const std::string name = Utf16("INSTALL_DLG");
  size_t at = image.find(name);
  ASSERT_NE(at, std::string::npos) << "the template's name in the resource directory";
  image[at + name.size() - 2] = 'X';  // "INSTALL_DLX"
  S().StartInstaller(image);
  Session::Box box = S().WaitBox("System Error", 60000);
  EXPECT_EQ(box.text, "Unable to display dialog");
  EXPECT_EQ(box.buttons, (std::vector<int>{1}));
  S().AnswerBox("System Error", 1);
  EXPECT_EQ(S().WaitInstallerExit(30000), 0);
  EXPECT_FALSE(fs::exists(Destination()));
}

// A second installation over the first: existing files go to "backup" or are overwritten,
// settings files stay when asked, help caches go, and the group is made again.
struct Reinstall {
  const char* name;
  bool backups;
  bool keepSettings;
};

void PrintTo(const Reinstall& c, std::ostream* out) { *out << c.name; }

class WineUiReinstall : public WineUi, public ::testing::WithParamInterface<Reinstall> {};

TEST_P(WineUiReinstall, ReplacesTheEarlierInstallation) {
  const Reinstall& c = GetParam();
  WalkToOptions();
  InstallToFinish();
  Toggle(183);
  Toggle(184);
  Press(2);
  ASSERT_EQ(S().WaitInstallerExit(30000), 0);

  fs::path dest = Destination();
  std::ofstream(dest / "vexa.ini", std::ios::binary | std::ios::trunc) << "[user]\r\nnick=kept\r\n";
  std::ofstream(dest / "about.txt", std::ios::binary | std::ios::trunc)
      << "about, the earlier version\r\n";
  std::ofstream(dest / "vexa.gid", std::ios::binary) << "cache";
  std::ofstream(dest / "primer.gid", std::ios::binary) << "cache";
  // Read-only for Windows: it must be made writable before it is moved or overwritten.
  fs::permissions(dest / "history.txt",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  std::string oldHistory = ReadFile(dest / "history.txt");

  S().StartInstaller();
  WalkToOptions();
  if (!c.backups) Toggle(156);
  if (!c.keepSettings) Toggle(157);
  InstallToFinish();

  fs::path payload = S().Paths().windows / "payload";
  EXPECT_FALSE(fs::exists(dest / "vexa.gid"));
  EXPECT_FALSE(fs::exists(dest / "primer.gid"));
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dest, ec))
    names.insert(entry.path().filename().string());
  std::set<std::string> expected(std::begin(PAYLOAD_NAMES), std::end(PAYLOAD_NAMES));
  if (c.backups) expected.insert("backup");
  EXPECT_EQ(names, expected);
  for (const char* name : PAYLOAD_NAMES) {
    bool settings = std::string(name).find(".ini") != std::string::npos;
    if (settings && c.keepSettings) continue;
    EXPECT_TRUE(ReadFile(dest / name) == ReadFile(payload / name)) << name << " is the new version";
  }
  EXPECT_EQ(ReadFile(dest / "vexa.ini"),
            c.keepSettings ? "[user]\r\nnick=kept\r\n" : ReadFile(payload / "vexa.ini"));
  if (c.backups) {
    std::set<std::string> saved;
    for (const auto& entry : fs::directory_iterator(dest / "backup", ec))
      saved.insert(entry.path().filename().string());
    std::set<std::string> want;
    for (const char* name : PAYLOAD_NAMES) {
      if (!c.keepSettings || std::string(name).find(".ini") == std::string::npos) want.insert(name);
    }
    EXPECT_EQ(saved, want) << "the backup folder holds the replaced files";
    EXPECT_EQ(ReadFile(dest / "backup" / "about.txt"), "about, the earlier version\r\n");
    EXPECT_EQ(ReadFile(dest / "backup" / "history.txt"), oldHistory);
  }
  ExpectProgramGroup();
}

INSTANTIATE_TEST_SUITE_P(Options, WineUiReinstall,
                         ::testing::Values(Reinstall{"backups_and_kept_settings", true, true},
                                           Reinstall{"backups_replacing_settings", true, false},
                                           Reinstall{"overwrite_everything", false, false}),
                         [](const ::testing::TestParamInfo<Reinstall>& info) {
                           return info.param.name;
                         });

// The Windows version decides the form of the two text-file items: from version 4 on (the
// new shell) they name no icon, before and after it the icon of "write.exe".
struct ShellVersion {
  const char* name;
  const char* version;  // as Wine's per-program setting names it
  bool oldShell;
};

void PrintTo(const ShellVersion& c, std::ostream* out) { *out << c.name; }

class WineUiShell : public WineUi, public ::testing::WithParamInterface<ShellVersion> {
 protected:
  bool StartsInstallerAtOnce() const override { return false; }
};

TEST_P(WineUiShell, ProgramGroupItemsFitTheShell) {
  const ShellVersion& c = GetParam();
  ASSERT_EQ(S().RunWine({"reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\vexa-setup.exe", "/v",
                         "Version", "/d", c.version, "/f"}),
            0);
  S().StartInstaller();
  WalkToOptions();
  InstallToFinish();
  ExpectPayloadInstalled(Destination());
  ExpectProgramGroup(c.oldShell);
}

INSTANTIATE_TEST_SUITE_P(Versions, WineUiShell,
                         ::testing::Values(ShellVersion{"windows_95", "win95", false},
                                           ShellVersion{"windows_me", "winme", false},
                                           ShellVersion{"windows_2000", "win2k", true}),
                         [](const ::testing::TestParamInfo<ShellVersion>& info) {
                           return info.param.name;
                         });

// A file named "backup" where the backup folder belongs: the first existing file cannot be
// moved, error [7] says so, and the user is back on the options page with the earlier
// installation untouched.
// Two installers started together (a double click twice), into two folders. While the
// first is stopped with its temporary file in use, the second cannot have that file: it
// either ends with [11], rolling back only its own work, or, had the file been free, installs
// too. The first is never disturbed: its temporary file survives the second's rollback and
// it installs completely, byte for byte.
class WineUiTwoInstallers : public WineUi {
 protected:
  void BeforeWine(Session& s) override {
    fs::create_directories(s.DriveC() / "temp");
    std::ofstream(s.PrefixDir() / "user.reg", std::ios::app)
        << "\n[Environment] 1700000000\n\"TEMP\"=\"c:\\\\temp\"\n\"TMP\"=\"c:\\\\temp\"\n";
  }
};

TEST_F(WineUiTwoInstallers, TheSecondNeverDisturbsTheFirst) {
  S().StartSecondInstaller();
  // The names go by process id, so both wizards must be up before either is named.
  S().Must({"wait", "wizard:2", "60000"}, 80000);
  for (const char* wizard : {"wizard:1", "wizard:2"}) {
    for (int page = 0; page <= 2; page++) {
      S().WaitText(PAGE_MARK[page].first, PAGE_MARK[page].second, PAGE_TIMEOUT_MS, wizard);
      S().Must({"sync", wizard});
      if (page < 2) S().Click(1, wizard);
    }
  }
  S().Must({"settext", "152", Escape("c:\\first"), "wizard:1"});
  S().Must({"settext", "152", Escape("c:\\second"), "wizard:2"});
  S().Click(1, "wizard:1");
  S().Must(
      {"holdfile", Escape("c:\\temp\\vexa.tmp"), std::to_string(INSTALL_TIMEOUT_MS), "wizard:1"},
      INSTALL_TIMEOUT_MS + 20000);
  S().Click(1, "wizard:2");

  fs::path first = S().DriveC() / "first", second = S().DriveC() / "second";
  fs::path temp = S().DriveC() / "temp" / "vexa.tmp";
  if (S().Call({"box", "Vexa Installation Error [11]", "30000"}, 50000).Ok()) {
    S().AnswerBox("Vexa Installation Error [11]", 1);
    S().WaitGone("wizard:2", PAGE_TIMEOUT_MS);
    EXPECT_FALSE(fs::exists(second)) << "the second run's folder was not rolled back";
    EXPECT_TRUE(fs::exists(temp)) << "the second run deleted the first one's temporary file";
  } else {
    S().WaitText(PAGE_MARK[4].first, PAGE_MARK[4].second, INSTALL_TIMEOUT_MS, "wizard:2");
    ExpectPayloadInstalled(second);
  }
  S().Must({"release"});
  S().WaitText(PAGE_MARK[4].first, PAGE_MARK[4].second, INSTALL_TIMEOUT_MS, "wizard:1");
  ExpectPayloadInstalled(first);
  ExpectNoTemporaryFile();
  EXPECT_FALSE(fs::exists(temp));
}

TEST_F(WineUi, BackupBlockedByAFileGoesBackToTheOptions) {
  WalkToOptions();
  InstallToFinish();
  Toggle(183);
  Toggle(184);
  Press(2);
  ASSERT_EQ(S().WaitInstallerExit(30000), 0);
  std::ofstream(Destination() / "backup", std::ios::binary) << "not a folder";

  S().StartInstaller();
  WalkToOptions();
  Press(1);
  const char caption[] = "Vexa Installation Error [7]";
  Session::Box box = S().WaitBox(caption, INSTALL_TIMEOUT_MS);
  EXPECT_EQ(box.text,
            "There seems to be a problem backing up your original files.\n\nPlease try installing "
            "to a different directory!");
  EXPECT_EQ(box.buttons, (std::vector<int>{1}));
  EXPECT_EQ(box.ownerTitle, WIZARD_TITLE);
  S().AnswerBox(caption, 1);
  WaitPage(2);
  ExpectPage(2);
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(Destination(), ec)) {
    names.insert(entry.path().filename().string());
  }
  std::set<std::string> expected(std::begin(PAYLOAD_NAMES), std::end(PAYLOAD_NAMES));
  expected.insert("backup");
  EXPECT_EQ(names, expected) << "the earlier installation stays as it was";
  EXPECT_EQ(ReadFile(Destination() / "backup"), "not a folder");
  ExpectNoTemporaryFile();
}

// The default destination: the root of the installer's own drive when that is a fixed
// drive, else the Windows folder's drive, which then also becomes the current drive.
struct DriveCase {
  const char* name;
  const char* driveType;  // Wine's type for drive d: (empty: a plain folder, a fixed drive)
  bool unixPath;          // started by its unix path, so from z:
  const char* defaultFolder;
  char currentDrive;
};

void PrintTo(const DriveCase& c, std::ostream* out) { *out << c.name; }

class WineUiDrives : public WineUi, public ::testing::WithParamInterface<DriveCase> {
 protected:
  bool StartsInstallerAtOnce() const override { return false; }

  fs::path DriveD() { return S().PrefixDir() / "drive_d"; }

  void BeforeWine(Session& s) override {
    const DriveCase& c = GetParam();
    if (c.unixPath) return;
    fs::create_directory(s.PrefixDir() / "drive_d");
    fs::create_symlink("../drive_d", s.PrefixDir() / "dosdevices" / "d:");
    if (*c.driveType != '\0') {
      std::ofstream(s.PrefixDir() / "system.reg", std::ios::app)
          << "\n[Software\\\\Wine\\\\Drives] 1700000000\n\"d:\"=\"" << c.driveType << "\"\n";
    }
  }
};

TEST_P(WineUiDrives, DefaultFolderFollowsTheInstallersDrive) {
  const DriveCase& c = GetParam();
  if (c.unixPath) {
    fs::path outside = S().PrefixDir().parent_path() / "outside";
    fs::create_directory(outside);
    S().StartInstaller("", outside, (outside / "vexa-setup.exe").string());
  } else {
    S().StartInstaller("", DriveD(), "D:\\vexa-setup.exe");
  }
  WalkToOptions();
  EXPECT_EQ(S().ControlText(152), c.defaultFolder);
  std::string current = S().Must({"cwd", "vexa-setup.exe"}).head;
  EXPECT_EQ(toupper((unsigned char)current[0]), c.currentDrive) << "current folder " << current;
  Press(2);
  S().WaitGone("wizard", PAGE_TIMEOUT_MS);
  EXPECT_EQ(S().WaitInstallerExit(30000), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Places, WineUiDrives,
    ::testing::Values(DriveCase{"fixed_drive", "", false, "d:\\vexa", 'D'},
                      DriveCase{"cdrom_drive", "cdrom", false, "c:\\vexa", 'C'},
                      DriveCase{"network_drive", "network", false, "c:\\vexa", 'C'},
                      DriveCase{"unix_path", "", true, "z:\\vexa", 'Z'}),
    [](const ::testing::TestParamInfo<DriveCase>& info) { return info.param.name; });

}  // namespace
}  // namespace winetest
