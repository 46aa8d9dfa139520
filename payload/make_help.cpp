// make_help OUTDIR: writes the demo payload's two help files, OUTDIR/vexa.hlp and
// OUTDIR/primer.hlp, in a small binary help format of our own: a header, a topic table
// keyed by context number, the topic texts and a keyword index. The bytes depend on
// nothing but this code, so two builds carry the same payload.
//
// Layout (little-endian):
//   header   "VXHELP" 0x1A 0x00, u16 version, u16 topic count, u32 offsets of the title,
//            topic table, keyword index and end of file
//   title    zero-terminated text
//   topics   per topic: u32 context number, u32 title offset, u32 text offset, u32 length
//   texts    zero-terminated titles and CR LF texts
//   keywords u16 count, then per keyword: zero-terminated word, u16 count, u16 topic indices
//   trailer  u32 sum of every byte before it
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

struct Topic {
  uint32_t context;
  std::string title;
  std::string text;  // paragraphs separated by blank lines; written with CR LF
};

struct Command {
  const char* name;
  const char* arguments;
  const char* meaning;
};

const Command kCommands[] = {
    {"away", "[message]", "Marks you as away with the message, or back without one."},
    {"ban", "channel nickname", "Keeps a nickname's address out of a channel you operate."},
    {"clear", "", "Empties the current window's text."},
    {"close", "", "Closes the current conversation window."},
    {"connect", "[server[:port]]",
     "Connects to the server, or to the one chosen in the setup dialog."},
    {"ctcp", "nickname request", "Sends a client request such as ping, time or version."},
    {"dcc chat", "nickname", "Opens a direct conversation that does not pass through the server."},
    {"dcc send", "nickname [file]",
     "Offers a file to a nickname; without a file a dialog asks for one."},
    {"disconnect", "[message]",
     "Leaves the server, showing the message to the channels you were in."},
    {"ignore add", "nickname", "Hides everything the nickname sends to you."},
    {"ignore remove", "nickname", "Shows the nickname's messages again."},
    {"join", "channel [key]", "Joins a channel, creating it when nobody is in it yet."},
    {"kick", "channel nickname [reason]", "Removes a nickname from a channel you operate."},
    {"list", "[filter]", "Opens the channel list, optionally only channels matching the filter."},
    {"me", "action", "Describes an action in the third person."},
    {"mode", "target modes", "Changes channel or user modes; see Channel modes."},
    {"motd", "", "Shows the server's message of the day again."},
    {"msg", "nickname text", "Sends a private message without opening a window."},
    {"names", "channel", "Lists the nicknames in a channel."},
    {"nick", "nickname", "Changes your nickname."},
    {"notice", "target text", "Sends a notice, which clients never answer automatically."},
    {"part", "[channel] [message]", "Leaves the channel, or the current one."},
    {"query", "nickname", "Opens a private conversation window."},
    {"quit", "[message]", "Leaves the server and closes Vexa."},
    {"topic", "channel [text]", "Shows or changes a channel's topic."},
    {"whois", "nickname", "Shows who is behind a nickname and which channels they are in."},
};

std::vector<Topic> ClientHelp() {
  std::vector<Topic> topics = {
      {1, "Contents",
       "Vexa v5.61 32bit Help\n\n"
       "Getting started\nConnecting to a server\nJoining channels\nPrivate conversations\n"
       "Sending and receiving files\nMacros\nPop-up menus\nSettings\nCommand reference\n"
       "Registration\nTroubleshooting"},
      {10, "Getting started",
       "Welcome to Vexa! The first time you start Vexa, the setup dialog asks for your "
       "nickname, an alternate nickname, your real name and your e-mail address. The "
       "nickname is the name other people see; the alternate one is used when somebody "
       "else already has your first choice.\n\n"
       "Choose a server from the list and click Connect. After a few seconds the status "
       "window shows the server's message of the day. Type /join #newcomers and press "
       "Enter to meet other new users.\n\n"
       "If you have never chatted before, read the primer first: open Help, Primer."},
      {20, "Connecting to a server",
       "A chat network is a group of servers that pass messages between each other. You "
       "connect to one server and reach everybody on the network. Pick the server nearest "
       "to you; the list in sites.ini is sorted by network and by country.\n\n"
       "If the connection fails, Vexa tries the next port given for the server. When "
       "Reconnect on drop is ticked in the connect options, Vexa reconnects after the "
       "delay you chose and joins your channels again."},
      {30, "Joining channels",
       "Channels are rooms for a subject. Their names start with #. Use the channel list "
       "(/list) to find channels by name, topic or number of users, and double-click one "
       "to join it. Each channel opens in its own window, with the nickname pane on the "
       "right.\n\n"
       "Channel operators, shown with @ before their nicknames, keep order in a channel. "
       "They can change its topic and modes, and remove people who disturb others."},
      {40, "Private conversations",
       "Double-click a nickname to open a query window, or type /query and the nickname. "
       "What you type there reaches only that person. The notify list tells you when "
       "friends connect to or leave the network."},
      {50, "Sending and receiving files",
       "Files travel directly between two computers (DCC). Use /dcc send or the nickname "
       "list's pop-up menu to offer a file. When somebody offers you a file, Vexa asks "
       "before it accepts, unless you changed that in the transfer options. Received files "
       "land in the download folder.\n\n"
       "Only accept files from people you know. A program you receive may contain a virus."},
      {60, "Macros",
       "Macros are short names for longer commands. They live in macros.ini, one per line, "
       "as name=command. In the command, %1 and %2 stand for the first and second word "
       "you type after the name, %* for all of them and %c for the current channel."},
      {70, "Pop-up menus",
       "Right-click a channel, a nickname or the status window to open its pop-up menu. "
       "The menus are defined in menus.ini; each entry is caption=command, and a caption "
       "of - draws a separator."},
      {80, "Settings",
       "Vexa keeps its settings in vexa.ini in its own folder, so several copies of Vexa "
       "can live side by side. Change them through Options on the File menu rather than "
       "by hand; Vexa rewrites the file when it closes."},
      {100, "Registration",
       "You may try Vexa free of charge for thirty days. Registering removes the reminder "
       "shown at start-up. The registration page on our web site explains how."},
      {110, "Troubleshooting",
       "Vexa cannot connect: check that your internet connection is up and try another "
       "server. Some servers refuse connections without an ident answer; tick Ident server "
       "in the connect options.\n\n"
       "Nobody sees your messages: you may be in the status window; join a channel first.\n\n"
       "Files do not arrive: a firewall may block direct connections."},
  };
  std::string reference = "Every command starts with /. Words in brackets may be left out.\n";
  for (const Command& c : kCommands) {
    reference += std::string("\n/") + c.name;
    if (*c.arguments) reference += std::string(" ") + c.arguments;
    reference += std::string("\n    ") + c.meaning;
  }
  topics.push_back({90, "Command reference", reference});
  return topics;
}

std::vector<Topic> PrimerHelp() {
  return {
      {1, "Welcome to chatting",
       "This primer explains in a few short pages what chat is and how to take part. "
       "Read the pages in order; each takes about a minute."},
      {10, "What is chat?",
       "Chat lets you talk with people all over the world by typing. What you type appears "
       "on everybody's screen within a second or two, and their answers appear on yours. "
       "Conversations happen in channels, which are like rooms, each with its own subject."},
      {20, "Nicknames",
       "Everybody on a network has a nickname that is unique while they are connected. "
       "Choose one that is easy to type and to remember. If somebody else is using it, "
       "Vexa tries your alternate nickname."},
      {30, "Channels",
       "Channel names start with #. Some are busy with hundreds of people, others are "
       "quiet. Join a few, watch for a while, and say hello when you are ready."},
      {40, "Good manners",
       "Do not type in capitals: it reads as shouting. Do not repeat the same line again "
       "and again. Stay on the channel's subject, and be patient with people who are new, "
       "as you once were. Never give your password to anybody."},
      {50, "Your first session",
       "1. Start Vexa and connect to a server.\n"
       "2. Type /join #newcomers.\n"
       "3. Say hello, and ask anything you like about Vexa or chat.\n"
       "4. Type /part to leave the channel and /quit to leave the network."},
      {60, "Glossary",
       "Channel: a room for a subject.\nNickname: the name others see.\n"
       "Operator: a person who keeps order in a channel.\n"
       "Query: a private conversation.\nServer: the computer you connect to.\n"
       "Network: servers joined together."},
  };
}

class Writer {
 public:
  size_t Size() const { return bytes_.size(); }
  void U16(unsigned value) {
    bytes_.push_back(value & 0xFF);
    bytes_.push_back((value >> 8) & 0xFF);
  }
  void U32(uint32_t value) {
    U16(value & 0xFFFF);
    U16(value >> 16);
  }
  void PatchU32(size_t at, uint32_t value) {
    for (int k = 0; k < 4; k++) bytes_[at + k] = (value >> (8 * k)) & 0xFF;
  }
  void Text(const std::string& text) {
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    bytes_.push_back(0);
  }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Lower-case words of four letters or more, each with the topics that use it.
std::map<std::string, std::set<uint16_t>> KeywordIndex(const std::vector<Topic>& topics) {
  std::map<std::string, std::set<uint16_t>> index;
  for (size_t t = 0; t < topics.size(); t++) {
    std::string word;
    for (char c : topics[t].title + " " + topics[t].text + " ") {
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        word += (char)(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      } else {
        if (word.size() >= 4) index[word].insert((uint16_t)t);
        word.clear();
      }
    }
  }
  return index;
}

std::vector<uint8_t> EncodeHelp(const std::string& title, const std::vector<Topic>& topics) {
  Writer out;
  for (char c : std::string("VXHELP\x1A")) out.Bytes().push_back((uint8_t)c);
  out.Bytes().push_back(0);
  out.U16(1);
  out.U16((unsigned)topics.size());
  size_t offsets = out.Size();
  for (int k = 0; k < 4; k++) out.U32(0);

  out.PatchU32(offsets, (uint32_t)out.Size());
  out.Text(title);

  out.PatchU32(offsets + 4, (uint32_t)out.Size());
  size_t table = out.Size();
  for (size_t t = 0; t < topics.size(); t++)
    for (int k = 0; k < 4; k++) out.U32(0);
  for (size_t t = 0; t < topics.size(); t++) {
    size_t entry = table + t * 16;
    std::string text = WithCrLf(topics[t].text);
    out.PatchU32(entry, topics[t].context);
    out.PatchU32(entry + 4, (uint32_t)out.Size());
    out.Text(topics[t].title);
    out.PatchU32(entry + 8, (uint32_t)out.Size());
    out.PatchU32(entry + 12, (uint32_t)text.size());
    out.Text(text);
  }

  out.PatchU32(offsets + 8, (uint32_t)out.Size());
  auto index = KeywordIndex(topics);
  out.U16((unsigned)index.size());
  for (const auto& [word, uses] : index) {
    out.Text(word);
    out.U16((unsigned)uses.size());
    for (uint16_t t : uses) out.U16(t);
  }

  out.PatchU32(offsets + 12, (uint32_t)out.Size() + 4);  // the trailer is the last field
  uint32_t sum = 0;
  for (uint8_t b : out.Bytes()) sum += b;
  out.U32(sum);
  return out.Bytes();
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_help: %s: cannot write\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: make_help OUTDIR\n");
    return 2;
  }
  std::string dir = argv[1];
  bool ok = WriteFile(dir + "/vexa.hlp", EncodeHelp("Vexa v5.61 32bit Help", ClientHelp())) &&
            WriteFile(dir + "/primer.hlp", EncodeHelp("Vexa Primer", PrimerHelp()));
  return ok ? 0 : 1;
}
