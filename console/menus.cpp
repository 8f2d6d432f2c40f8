#include "console/menus.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "console/input.h"

namespace sondrel {

namespace {

constexpr float kDefaultTempo = 120.0f;
constexpr float kMinTempo = 1.0f;
constexpr float kMaxTempo = 400.0f;
constexpr int kDefaultBeatsPerMeasure = 4;
constexpr int kMaxBeatsPerMeasure = 128;

// "nan", "inf" or an overflowing exponent would later be divided by or
// turned into sample counts; such an answer counts as no number at all.
float FiniteOrZero(float value) { return std::isfinite(value) ? value : 0.0f; }

// ------------------------------------------------------------------ "opt"

// The copies the options menu edits; clock and interface take effect only
// when the user is done.
struct OptionChoices {
  int clockMode;
  int interfaceMode;
};

const char* ClockChoiceName(int clockMode) {
  switch (clockMode) {
    case 0: return "hc";
    case 1: return "uc";
    case 2: return "sc";
    default: return nullptr;
  }
}

void PrintOptions(const OptionChoices& choices, int peakCheck, const SessionState& s) {
  std::printf("\nOptions:\n\n");
  std::printf("Clock: ");
  if (const char* name = ClockChoiceName(choices.clockMode)) std::printf("(now set to %s)\n", name);
  std::printf("\n  'sc' to stream clock\n");
  std::printf("  'uc' to unstream clock (default)\n");
  std::printf("  'hc' to hide clock\n");
  std::printf("\nPeaks: ");
  if (peakCheck == 0) std::printf("(now set to np)\n");
  if (peakCheck == 1) std::printf("(now set to cp)\n");
  std::printf("\n  'cp' to check peaks while recording (default)\n");
  std::printf("  'np' for no peak checking while recording\n");
  std::printf("\nInterface: ");
  if (choices.interfaceMode == 0) std::printf("(now set to int0)");
  if (choices.interfaceMode == 1) std::printf("(now set to int1)");
  std::printf("\n  'int0' for minimal interface\n");
  std::printf("  'int1' for default interface\n");
  std::printf("\n");
  PrintClickState(s);
  std::printf("\n");
  std::printf("  'd' if done changing options\n");
}

// Returns false when the answer closes the menu.
bool ApplyOption(std::string_view answer, OptionChoices& choices, int& peakCheck) {
  if (answer == "sc") choices.clockMode = 2;
  if (answer == "uc") choices.clockMode = 1;
  if (answer == "hc") choices.clockMode = 0;
  if (answer == "cp") peakCheck = 1;
  if (answer == "np") peakCheck = 0;
  if (answer == "int0") choices.interfaceMode = 0;
  if (answer == "int1") choices.interfaceMode = 1;
  return answer != "d";
}

// ---------------------------------------------------------------- "tempo"

void PrintTempoMenu(const SessionState& s, int tempoMode) {
  std::printf("1 = toggle tempo mode");
  if (tempoMode == 0) std::printf(" (off)\n");
  if (tempoMode == 1) std::printf(" (on)\n");
  std::printf("2 = set tempo (%.2f)\n", static_cast<double>(s.tempo));
  std::printf("3 = set beats per measure (%i)\n", s.beatsPerMeasure);
  std::printf("4 = done\n");
}

void AskTempo(SessionState& s) {
  std::printf("Enter tempo (beats per minute)\n");
  const float tempo = ReadFloat();
  // Written so that NaN fails the range test too.
  s.tempo = tempo >= kMinTempo && tempo <= kMaxTempo ? tempo : kDefaultTempo;
}

void AskBeatsPerMeasure(SessionState& s) {
  std::printf("Enter beats per measure\n");
  const int beats = ReadInt();
  s.beatsPerMeasure = beats >= 1 && beats <= kMaxBeatsPerMeasure ? beats : kDefaultBeatsPerMeasure;
}

// ----------------------------------------------------------------- "safe"

void PrintSafetyMenu(int safeMode) {
  if (safeMode == 1) {
    std::printf("Safety mode for replacing files is ON\n");
    std::printf("Enter '0' to turn off\n");
  } else {
    std::printf("Safety mode for replacing files is OFF\n");
    if (safeMode == 0) std::printf("Enter '1' to turn on\n");
  }
  std::printf("Enter '2' to keep current settings\n");
}

bool ClickOutputExists(const SessionState& s, int output) { return output >= 1 && output <= s.outputs; }

}  // namespace

void PrintClickState(const SessionState& s) {
  if (s.clickOutput == 0) {
    std::printf("   'clk' to set the click (now off)\n");
  } else if (!ClickOutputExists(s, s.clickOutput)) {
    std::printf("   'clk' to set the click (now off: the interface has no output %i)\n", s.clickOutput);
  } else {
    std::printf("   'clk' to set the click (now on output %i at %.2f dB)\n", s.clickOutput,
                static_cast<double>(s.clickLevelDb));
  }
  if (s.countInBars < 1) {
    std::printf("   'cnt' to set the count-in (now off)\n");
  } else {
    std::printf("   'cnt' to set the count-in (now %i bar%s)\n", s.countInBars, s.countInBars == 1 ? "" : "s");
  }
}

void CheckClickOutput(const SessionState& s) {
  if (s.clickOutput == 0 || ClickOutputExists(s, s.clickOutput)) return;
  std::printf("The click is set to output %i, which the interface does not have (%i outputs): the click is off\n",
              s.clickOutput, s.outputs);
}

Flow ClickMenu(ConsoleState& console) {
  SessionState& s = console.s;
  std::printf("Enter click output (1 to %i, 0 for off)\n", s.outputs);
  const int output = ReadInt();
  if (output == 0) {
    s.clickOutput = 0;
    std::printf("The click is off\n");
    return Flow::Continue;
  }
  if (!ClickOutputExists(s, output)) {
    std::printf("The interface has no output %i: the click is left as it was\n", output);
    return Flow::Continue;
  }
  std::printf("Enter click level in dB (%.0f to %.0f)\n", static_cast<double>(kClickMinLevelDb),
              static_cast<double>(kClickMaxLevelDb));
  const float level = ReadFloat();
  // Written so that NaN fails the range test too.
  if (!(level >= kClickMinLevelDb && level <= kClickMaxLevelDb)) {
    std::printf("A click level is from %.0f to %.0f dB: the click is left as it was\n",
                static_cast<double>(kClickMinLevelDb), static_cast<double>(kClickMaxLevelDb));
    return Flow::Continue;
  }
  s.clickOutput = output;
  s.clickLevelDb = level;
  std::printf("The click sounds on output %i at %.2f dB\n", output, static_cast<double>(level));
  return Flow::Continue;
}

Flow CountInMenu(ConsoleState& console) {
  SessionState& s = console.s;
  std::printf("Enter count-in bars (0 to %i, 0 for none)\n", kMaxCountInBars);
  const int bars = ReadInt();
  if (bars < 0 || bars > kMaxCountInBars) {
    std::printf("A count-in is 0 to %i bars: it is left as it was\n", kMaxCountInBars);
    return Flow::Continue;
  }
  s.countInBars = bars;
  if (bars > 0 && !ClickOutputExists(s, s.clickOutput)) {
    std::printf("The count-in sounds on the click's output: choose one with 'clk'\n");
  }
  return Flow::Continue;
}

Flow OptionsMenu(ConsoleState& console) {
  SessionState& s = console.s;
  OptionChoices choices{s.clockMode, s.interfaceMode};
  do {
    PrintOptions(choices, s.peakCheck, s);
    ReadWord(console.word);
  } while (ApplyOption(WordOf(console.word), choices, s.peakCheck));
  s.clockMode = choices.clockMode;
  s.interfaceMode = choices.interfaceMode;
  return Flow::Continue;
}

Flow TempoMenu(ConsoleState& console) {
  SessionState& s = console.s;
  int tempoMode = s.tempoMode;
  for (;;) {
    PrintTempoMenu(s, tempoMode);
    // A word that is not a number reads as 0 and simply shows the menu again.
    const int choice = ReadInt();
    if (choice < 0 || choice > 3) break;
    if (choice == 1) tempoMode = tempoMode == 1 ? 0 : 1;
    if (choice == 2) AskTempo(s);
    if (choice == 3) AskBeatsPerMeasure(s);
  }
  s.tempoMode = tempoMode;
  return Flow::Continue;
}

Flow SafetyMenu(ConsoleState& console) {
  SessionState& s = console.s;
  PrintSafetyMenu(s.safeMode);
  std::string_view answer;
  do {
    ReadWord(console.word);
    answer = WordOf(console.word);
  } while (answer != "0" && answer != "1" && answer != "2");
  if (answer == "0") {
    s.safeMode = 0;
    std::printf("Safety mode is OFF\n\n");
  } else if (answer == "1") {
    s.safeMode = 1;
    std::printf("Safety mode is ON\n\n");
  }
  return Flow::Continue;
}

Flow PrerollMenu(ConsoleState& console) {
  SessionState& s = console.s;
  std::printf("Preroll is set to %.3f secs\n", static_cast<double>(s.preroll));
  std::printf("Enter new preroll or 'd' for done\n");
  ReadWord(console.word);
  if (WordOf(console.word) == "d") return Flow::Continue;
  s.preroll = std::fmax(0.0f, FiniteOrZero(ParseFloat(WordOf(console.word))));
  console.word[0] = '\0';
  return Flow::Continue;
}

Flow CrossfadeMenu(ConsoleState& console) {
  SessionState& s = console.s;
  std::printf("Crossfade is currently set to %.1f milliseconds.\n", static_cast<double>(s.crossfade));
  std::printf("Enter 'd' if done or enter a new value\n");
  for (;;) {
    ReadWord(console.word);
    if (WordOf(console.word) == "d") return Flow::Continue;
    // A negative length means nothing: wait for a usable answer.
    const float milliseconds = FiniteOrZero(ParseFloat(WordOf(console.word)));
    if (milliseconds >= 0.0f) {
      s.crossfade = milliseconds;
      break;
    }
  }
  ComputeCrossfadeLengths(console);
  SetText(console.word, "d");
  return Flow::Continue;
}

Flow AuditionLengthMenu(ConsoleState& console) {
  SessionState& s = console.s;
  const float current = static_cast<float>(console.lengths.auditionSamples) / static_cast<float>(s.sampleRate);
  std::printf("Enter audition time (currently %.1f sec)\n", static_cast<double>(current));
  s.auditionLength = FiniteOrZero(ReadFloat());
  // A length of nothing would make an audition that never sounds: the last
  // usable length stays in force.
  if (s.auditionLength > 0.0f) ComputeAuditionLength(console);
  return Flow::Continue;
}

}  // namespace sondrel
