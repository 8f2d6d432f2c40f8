#include "console/mixer_view.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/command_loop.h"
#include "core/list_text.h"
#include "mixer/mixer_settings.h"

namespace sondrel {

namespace {

constexpr std::array kMixerHelp = {
    "\nMixer Help:\n",
    "To set a channel's volume:\n",
    "   Type the channel number, then 'v', and then volume in dB.",
    "   Example: '2v-6' sets channel 2's volume to -6 dB.",
    "",
    "To set the pan:\n",
    "   Type the channel number, then 'p', and then a value -100 to 100.",
    "   left = -100,  center = 0, right = 100",
    "   Example: '2p100' sets channel 2's pan to the right.",
    "",
    "To adjust bus master levels:\n",
    "   Type the bus number, then 'b', and then volume in dB.",
    "   Example: '1b-4' sets bus 1's volume to -4 dB.",
    "",
    "Enter 'mod' to view/change the mix mode.",
    "\nEnter 'u' to update the mixer after editing the play.txt file.",
    "\nEnter 'd' when done viewing mixer settings.",
    "Or, 'mix' will toggle the mixer view on/off.\n",
    "Enter 'c' to continue",
};

// "3v-6": a number, a letter, a value. Both parts must be numbers; the
// value must be there for the word to count.
struct NumberLetterValue {
  bool valid = false;
  long number = 0;
  float value = 0.0f;
};

NumberLetterValue SplitAtLetter(std::string_view word, char letter) {
  NumberLetterValue result;
  const std::size_t at = word.find(letter);
  if (at == std::string_view::npos) return result;
  const std::string number(word.substr(0, at));
  const std::string value(word.substr(at + 1));
  char* end = nullptr;
  result.number = std::strtol(number.c_str(), &end, 10);
  if (end == number.c_str()) return result;
  result.value = std::strtof(value.c_str(), &end);
  result.valid = end != value.c_str();
  return result;
}

// The console's own words that contain a 'p' are not pans.
bool IsConsoleWordWithP(std::string_view word) {
  return word == "sp" || word == "opt" || word == "lp" || word == "exp-i" || word == "exp-s" || word == "tempo";
}

void ApplyMixerWord(ConsoleState& console) {
  SessionState& s = console.s;
  const std::string_view word = WordOf(console.word);
  if (word == "h") {
    for (const char* line : kMixerHelp) std::printf("%s\n", line);
    WaitForWord(console.word, "c");
    return;
  }
  if (word.find('v') != std::string_view::npos) {
    const NumberLetterValue v = SplitAtLetter(word, 'v');
    // Not range-checked here: the volume is repaired, with a message, when
    // the gains are next worked out.
    if (v.valid && v.number >= 1 && v.number <= s.tracks) s.channelVolume[v.number - 1] = v.value;
  } else if (word.find('b') != std::string_view::npos) {
    const NumberLetterValue b = SplitAtLetter(word, 'b');
    if (b.valid && b.number >= 1 && b.number <= kBusCount) {
      const float db = b.value > kMaxBusLevelDb ? kMaxBusLevelDb : b.value;
      s.busVolume[b.number - 1] = db;
      // A level below the mixer's floor is kept as typed, and the bus plays
      // on at the level it had.
      (void)SetBusVolume(s.busGain, db, static_cast<int>(b.number - 1));
    }
  }
  if (word.find('p') != std::string_view::npos && !IsConsoleWordWithP(word)) {
    const NumberLetterValue p = SplitAtLetter(word, 'p');
    if (p.valid && p.number >= 1 && p.number <= s.tracks) s.channelPan[p.number - 1] = p.value;
  }
}

constexpr std::array<const char*, 4> kCurrentModeTexts = {
    "'0'  Playback = channels are using direct outputs only.\n"
    "     Export   = all channels will be routed to the master. No busses.\n",
    "'1'  Playback = all channels are routed to outputs 1 and 2. No busses.\n"
    "     Export   = all channels will be routed to the master. No busses.\n",
    "'2'  Playback = channels are routed through multiple output busses.\n"
    "     Export   = all channels will be routed to the master. No busses.\n",
    "'3'  Playback = busses are routed to outputs 1 and 2.\n"
    "     Export   = busses will be sent to the master.\n",
};

constexpr std::array<const char*, 4> kChoiceTexts = {
    "'0'  Playback = assign channels to direct outputs only.\n"
    "     Export   = route all channels to the master.  No busses.\n",
    "'1'  Playback = route all channels to outputs 1 and 2.\n"
    "     Export   = route all channels to the master. No busses.\n",
    "'2'  Playback = route channels to multiple output busses.\n"
    "     Export   = route all channels to the master. No busses.\n",
    "'3'  Playback = route busses to outputs 1 and 2.\n"
    "     Export   = route busses to the master.\n",
};

void PrintBusAssignments(const SessionState& s) {
  std::printf("Stereo Bus Assignments: (%i outputs, %i busses)\n", s.outputs, s.outputs / 2);
  for (int b = 0; b < kBusCount; ++b) {
    if (s.busActive[b] != 1) continue;
    std::printf("\nBus %i\t\tOut %.2i-%.2i\t\tCh: ", b + 1, 2 * b + 1, 2 * b + 2);
    for (int c = 0; c < s.tracks && c < kMaxChannels; ++c) {
      if (s.busChannels[b][c] == 1) std::printf("%i ", c + 1);
    }
  }
  std::printf("\nEnter 'a' to add a channel to a bus\n");
  std::printf("Enter 'r' to remove a channel from a bus\n");
  std::printf("Enter 'c' to continue\n");
}

// Routes (value 1) or unroutes (0) every channel of a comma list to a bus.
void RouteChannels(SessionState& s, int bus, std::string_view list, int value) {
  if (bus < 1 || bus > kBusCount) return;
  for (const std::string_view piece : SplitAtCommas(list)) {
    const long channel = std::strtol(std::string(piece).c_str(), nullptr, 10);
    if (channel >= 1 && channel <= kMaxChannels) {
      s.busChannels[bus - 1][channel - 1] = value;
      if (value == 1) s.busActive[bus - 1] = 1;
    }
  }
}

void AskAndRoute(ConsoleState& console, const char* busPrompt, const char* listPrompt, int value) {
  std::printf("%s\n", busPrompt);
  const int bus = ReadInt();
  std::printf("%s\n", listPrompt);
  ReadWord(console.word);
  RouteChannels(console.s, bus, WordOf(console.word), value);
}

// The playlist's channels with volume and pan, then the master or bus
// levels of the mix mode.
void ShowMixer(const SessionState& s, UserDialog& dialog) {
  const char* playlist = s.playlistFiles[0].data();
  std::string text;
  if (!ReadWholeFile(playlist, text)) {
    dialog.Tell({NoticeKind::PlaylistNotFound, playlist});
    return;
  }
  const ListLines lines = SplitListLines(text);
  std::printf("Source:\n");
  for (int k = 0; k < lines.count && k < s.tracks; ++k) {
    const std::string_view line = lines.lines[k];
    if (IsSkipLine(line)) continue;
    const int shown = static_cast<int>(line.size() < 15 ? line.size() : 15);
    std::printf("%.*s\tCh %i\tVol %4.2f\tPan %4.0f\n", shown, line.data(), k + 1, s.channelVolume[k],
                s.channelPan[k]);
  }
  std::printf("\n");
  if (s.mixMode == 1) {
    std::printf("Master\t  %4.2f dB\n", s.busVolume[0]);
  } else if (s.mixMode > 1) {
    for (int b = 0; b < kBusCount; ++b) {
      if (s.busVolume[b] != 0.0f) std::printf("Bus %i\t  %4.2f dB\n", b + 1, s.busVolume[b]);
    }
  }
  std::printf("%s\n", std::string(79, '-').c_str());
}

}  // namespace

void MixerPrompt(ConsoleState& console) {
  std::printf("\n");
  ShowMixer(console.s, console.dialog);
  std::printf("\n");
  PrintShortStatus(console);
  std::printf("\n");
  std::printf("Mix commands are active.  Enter 'h' for help.\n");
  ReadWord(console.word);
  ApplyMixerWord(console);
}

Flow MixModeMenu(ConsoleState& console) {
  SessionState& s = console.s;
  std::printf("\nCurrently using mixmode [%i]:\n", s.mixMode);
  const bool known = s.mixMode >= 0 && s.mixMode <= 3;
  if (known) std::printf("%s\n", kCurrentModeTexts[s.mixMode]);
  for (int mode = 0; mode <= 3; ++mode) {
    if (!known || mode != s.mixMode) std::printf("%s\n", kChoiceTexts[mode]);
  }
  std::printf("\n");
  std::printf("Select a mix mode\n");
  for (;;) {
    ReadWord(console.word);
    const std::string_view answer = WordOf(console.word);
    if (answer.size() == 1 && answer[0] >= '0' && answer[0] <= '3') {
      s.mixMode = answer[0] - '0';
      return Flow::EndPassClearPending;
    }
  }
}

Flow BusRoutingMenu(ConsoleState& console) {
  SessionState& s = console.s;
  UpdateBusses(s.busChannels, s.busActive);
  while (WordOf(console.word) != "c") {
    PrintBusAssignments(s);
    ReadWord(console.word);
    const std::string_view answer = WordOf(console.word);
    if (answer == "a") {
      AskAndRoute(console, "Enter bus number", "Enter channel to add, or multiple if comma separated", 1);
    } else if (answer == "r") {
      AskAndRoute(console, "Enter a bus number", "Enter the channel to remove, or multiple if comma separated", 0);
    } else {
      continue;
    }
    UpdateBusses(s.busChannels, s.busActive);
  }
  return Flow::Continue;
}

}  // namespace sondrel
