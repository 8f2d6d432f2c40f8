#include "console/track_lists.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "console/console_state.h"
#include "console/input.h"

namespace sondrel {

namespace {

constexpr const char* kListRule = "-------------------------\n";
constexpr char kSkipMarker = '-';

// List lines are views into the file text, not terminated strings; `maxChars`
// cuts long names so the listing's columns stay aligned.
void PrintListText(std::string_view text, std::size_t maxChars = std::string_view::npos) {
  const std::size_t n = std::min(text.size(), maxChars);
  std::printf("%.*s", static_cast<int>(n), text.data());
}

// How many of a list's lines belong to channels that exist.
int ChannelLines(const ListLines& list, int channels) { return std::clamp(channels, 0, list.count); }

// Mix mode 2: every bus is a stereo pair of outputs (bus b on 2b-1 and 2b).
// A pair whose bus carries nothing still plays its two channels directly.
void PrintBusDestinations(int channel, int outputs, const BusMatrix& busChannels,
                          const std::array<int, kBusCount>& busActive) {
  std::printf("Out ");
  for (int bus = 1; bus <= kBusCount; ++bus) {
    const int left = 2 * bus - 1;
    if (busChannels[bus - 1][channel - 1] == 1) {
      std::printf(outputs > left ? "%i %i " : "(%i %i) ", left, left + 1);
    }
    if (busActive[bus - 1] == 0 && (channel == left || channel == left + 1)) {
      std::printf(channel <= outputs ? "%i " : "(%i) ", channel);
    }
  }
}

// Mix mode 3: every bus is folded into bus 1 on outputs 1 and 2.
void PrintBussesToMainOut(int channel, const BusMatrix& busChannels) {
  if (busChannels[0][channel - 1] == 1) std::printf("Out 1 2 ");
  for (int bus = 2; bus <= kBusCount; ++bus) {
    if (busChannels[bus - 1][channel - 1] == 1) std::printf("Bus %i -> Out 1 2 ", bus);
  }
}

// Where channel `channel` (from 1) is heard. A number in parentheses names an
// output the interface does not have.
void PrintDestination(int channel, int outputs, int mixMode, const BusMatrix& busChannels,
                      const std::array<int, kBusCount>& busActive) {
  switch (mixMode) {
    case 0:
      std::printf(channel <= outputs ? "Out %i" : "Out (%i)", channel);
      break;
    case 1:
      std::printf("Out 1 2");
      if (channel >= 3) std::printf(channel <= outputs ? " %i" : " (%i)", channel);
      break;
    case 2:
      PrintBusDestinations(channel, outputs, busChannels, busActive);
      break;
    case 3:
      PrintBussesToMainOut(channel, busChannels);
      break;
    default:
      break;
  }
}

// ------------------------------------------------------------------- solo

int SoloChannelCount(const SessionState& s) { return std::clamp(s.tracks, 0, kMaxChannels); }

void PrintSoloedTracks(const SessionState& s) {
  std::printf("Solo Enabled Tracks:");
  bool any = false;
  for (int channel = 1; channel <= SoloChannelCount(s); ++channel) {
    if (s.solo[channel - 1] != 1) continue;
    std::printf(" %i", channel);
    any = true;
  }
  std::printf(any ? "\n" : " (none)\n");
}

// Reads a comma-separated list of track numbers; numbers that name no track
// are passed over quietly so one typo does not spoil the rest of the list.
void SetSoloFlags(ConsoleState& console, const char* prompt, int flag) {
  std::printf("%s\n", prompt);
  ReadWord(console.word);
  const int channels = SoloChannelCount(console.s);
  for (const std::string_view piece : SplitAtCommas(WordOf(console.word))) {
    const int channel = ParseInt(piece);
    if (channel >= 1 && channel <= channels) console.s.solo[static_cast<std::size_t>(channel - 1)] = flag;
  }
}

// ---------------------------------------------------------- list-file menus

struct ListFileMenuTexts {
  const char* storedHeading;
  const char* currentFormat;
  const char* setFormat;
};

constexpr ListFileMenuTexts kPlaylistMenu = {"Stored playlist filenames:\n", "\nCurrently playing from %s\n\n",
                                             "Set to play from %s\n\n"};
constexpr ListFileMenuTexts kRecordlistMenu = {"Stored recordlist filenames:\n", "\nCurrently recording to %s\n\n",
                                               "Set to record from %s\n\n"};

bool IsListPosition(int position) { return position >= 1 && position <= kListSlots; }

TextField<kListSlotSize>& Slot(ListFileTable& table, int position) {
  return table[static_cast<std::size_t>(position - 1)];
}

// Copying a slot onto itself would be an overlapping copy; it changes nothing.
void CopySlot(ListFileTable& table, int from, int to) {
  if (from != to) SetText(Slot(table, to), TextOf(Slot(table, from)));
}

int ReadListPosition() {
  std::printf("Enter the list position (1-128)\n");
  return ReadInt();
}

void PrintListFileMenu(const ListFileTable& table, const ListFileMenuTexts& texts) {
  std::printf("%s\n", texts.storedHeading);
  for (int position = 1; position <= kListSlots; ++position) {
    const auto& slot = table[static_cast<std::size_t>(position - 1)];
    if (slot[0] != '\0') std::printf("%i\t%s\n", position, slot.data());
  }
  std::printf(texts.currentFormat, table[0].data());
  std::printf("Enter a new filename to load\n");
  std::printf("or enter a number of a file in the list or\n");
  std::printf("'rem' to remove a file from the list\n");
  std::printf("'a'   to add a new file to the list\n");
  std::printf("'ac'  to add current file to list\n");
  std::printf("'d'   when done\n");
}

// Acts on the answer in the command buffer; true when the menu closes.
bool ApplyListFileAnswer(ConsoleState& console, ListFileTable& table) {
  const std::string_view answer = WordOf(console.word);
  const int position = ParseInt(answer);
  if (IsListPosition(position)) {
    CopySlot(table, position, 1);
    return true;
  }
  if (answer == "rem") {
    std::printf("Enter the number to remove\n");
    const int removed = ReadInt();
    if (IsListPosition(removed)) Slot(table, removed)[0] = '\0';
    return false;
  }
  if (answer == "a") {
    std::printf("Enter the filename to add\n");
    ReadWord(console.word);
    const int target = ReadListPosition();
    if (IsListPosition(target)) SetText(Slot(table, target), WordOf(console.word));
    return false;
  }
  if (answer == "ac") {
    const int target = ReadListPosition();
    if (IsListPosition(target)) CopySlot(table, 1, target);
    return false;
  }
  if (answer != "d") SetText(table[0], answer);
  return true;
}

// The menu never checks that a chosen file exists: a wrong name is caught
// when the next run reads the lists.
Flow RunListFileMenu(ConsoleState& console, ListFileTable& table, const ListFileMenuTexts& texts) {
  for (;;) {
    PrintListFileMenu(table, texts);
    ReadWord(console.word);
    const bool closing = ApplyListFileAnswer(console, table);
    std::printf(texts.setFormat, table[0].data());
    if (closing) {
      // The closing answer reads as "d" to the rest of the pass, which also
      // leaves the mixer view when the menu was opened from there.
      SetText(console.word, "d");
      return Flow::Continue;
    }
  }
}

// Which input records into which file, at most one line per input.
void ShowRecordlist(const SessionState& s, UserDialog& dialog) {
  const char* path = s.recordlistFiles[0].data();
  std::string text;
  if (!ReadWholeFile(path, text)) {
    dialog.Tell({NoticeKind::RecordlistNotFound, path});
    return;
  }
  const ListLines list = SplitListLines(text);
  std::printf("File: %s\n", path);
  std::printf("Source\t\tStatus\t\tDestination\n");
  for (int c = 0; c < ChannelLines(list, s.inputs); ++c) {
    const std::string_view line = list.lines[static_cast<std::size_t>(c)];
    if (IsSkipLine(line, kSkipMarker)) continue;
    std::printf("In %i\t\tARMED\t\t", c + 1);
    PrintListText(line);
    std::printf("\n");
  }
  std::printf("%s", kListRule);
}

// Which file plays on which channel, with its solo flag and where it is
// heard under the mix mode, at most one line per track.
void ShowPlaylist(const SessionState& s, UserDialog& dialog) {
  const char* path = s.playlistFiles[0].data();
  std::string text;
  if (!ReadWholeFile(path, text)) {
    dialog.Tell({NoticeKind::PlaylistNotFound, path});
    return;
  }
  const ListLines list = SplitListLines(text);
  std::printf("File: %s\n", path);
  std::printf("Source\t\t\tSolo\tDestination\n");
  for (int c = 0; c < ChannelLines(list, s.tracks); ++c) {
    const std::string_view line = list.lines[static_cast<std::size_t>(c)];
    if (IsSkipLine(line, kSkipMarker)) continue;
    PrintListText(line, 12);
    std::printf("\t\t%s", s.solo[static_cast<std::size_t>(c)] == 1 ? "ON\t" : "off\t");
    PrintDestination(c + 1, s.outputs, s.mixMode, s.busChannels, s.busActive);
    std::printf("\n");
  }
  std::printf("%s", kListRule);
}

}  // namespace

Flow ListRecordlist(ConsoleState& console) {
  ShowRecordlist(console.s, console.dialog);
  WaitForContinue(console.word);
  return Flow::EndPassClearPending;
}

Flow ListPlaylist(ConsoleState& console) {
  ShowPlaylist(console.s, console.dialog);
  WaitForContinue(console.word);
  return Flow::EndPassClearPending;
}

Flow SoloMenu(ConsoleState& console) {
  // The menu's own answers must not disturb the command buffer, which holds
  // the track number lists.
  WordBuffer answer{};
  for (;;) {
    PrintSoloedTracks(console.s);
    std::printf("'a' add, 'r' remove, 'd' done\n");
    ReadWord(answer);
    const std::string_view choice = WordOf(answer);
    if (choice == "a") SetSoloFlags(console, "Enter track number to add, or multiple if comma separated", 1);
    if (choice == "r") SetSoloFlags(console, "Enter track number to remove, or multiple if comma separated", 0);
    if (choice == "d") return Flow::EndPass;
  }
}

Flow PlaylistFileMenu(ConsoleState& console) {
  return RunListFileMenu(console, console.s.playlistFiles, kPlaylistMenu);
}

Flow RecordlistFileMenu(ConsoleState& console) {
  return RunListFileMenu(console, console.s.recordlistFiles, kRecordlistMenu);
}

}  // namespace sondrel
