#include "console/locates_ranges.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include "console/input.h"
#include "timebase/time_conversions.h"

namespace sondrel {

namespace {

// How positions are shown: seconds (mode 0) or measure.beat (mode 1).
struct TimeDisplay {
  std::uint32_t sampleRate;
  int beatsPerMeasure;
  float tempo;
  int tempoMode;
};

TimeDisplay DisplayOf(const SessionState& s) { return {s.sampleRate, s.beatsPerMeasure, s.tempo, s.tempoMode}; }

// An unknown display mode has no way to show a time, so its lists stay empty
// rather than showing numbers in a form the user did not ask for.
bool CanShowTimes(const TimeDisplay& display) { return display.tempoMode == 0 || display.tempoMode == 1; }

// One tab-led time column of a listing.
void PrintTimeColumn(const TimeDisplay& display, std::int64_t position) {
  if (display.tempoMode == 0) {
    std::printf("\t%.2f", SamplesToSeconds(position, display.sampleRate));
    return;
  }
  int measure = 0;
  float beat = 0.0f;
  SampleToMeasures(display.beatsPerMeasure, display.tempo, position, &measure, &beat, display.sampleRate);
  std::printf("\t%i.%.2f", measure, beat);
}

void PrintLocates(const TimeDisplay& display, const LocateTable& points, const NameTable& names) {
  if (!CanShowTimes(display)) return;
  for (int i = 0; i < kLocateCount; ++i) {
    if (points[i] == 0) continue;
    std::printf("%i", i + 1);
    PrintTimeColumn(display, points[i]);
    std::printf("\t%s\n", names[i].data());
  }
}

void PrintRanges(const TimeDisplay& display, const RangeTable& starts, const RangeTable& ends,
                 const NameTable& names, const RangeUse& used) {
  if (!CanShowTimes(display)) return;
  for (int i = 0; i < kRangeCount; ++i) {
    if (used[i] != 1) continue;
    std::printf("%i", i + 1);
    PrintTimeColumn(display, starts[i]);
    PrintTimeColumn(display, ends[i]);
    std::printf("\t%s\n", names[i].data());
  }
}

int MarkRangesInUse(const RangeTable& starts, const RangeTable& ends, RangeUse& used) {
  return CheckTimeRanges(starts.data(), ends.data(), kRangeCount, used.data());
}

void ShowRanges(const TimeDisplay& display, const RangeTable& starts, const RangeTable& ends,
                const NameTable& names, const RangeUse& used) {
  std::printf("Loc\tIn\tOut\tName\n");
  PrintRanges(display, starts, ends, names, used);
}

void ShowLocates(const SessionState& s) {
  std::printf("Locate Points:\n");
  PrintLocates(DisplayOf(s), s.locatePoints, s.locateNames);
}

// Reads a slot number typed from 1; gives its index from 0, or nothing when
// the number names no slot.
std::optional<int> ReadSlot(int count) {
  const int number = ReadInt();
  if (number < 1 || number > count) return std::nullopt;
  return number - 1;
}

// Reads one word as a new name, cut to the name field. An empty word, or the
// word `keep` when one is given, leaves the old name.
void ReadName(TextField<kNameSize>& name, std::string_view keep = {}) {
  WordBuffer answer{};
  ReadWord(answer);
  const std::string_view word = WordOf(answer);
  if (word.empty() || word == keep) return;
  SetText(name, word);
}

void ClearRange(RangeTable& starts, RangeTable& ends, NameTable& names, int index) {
  starts[index] = 0;
  ends[index] = 0;
  SetText(names[index], "(name)");
}

// The working time a letter stands for: in, out, punch (record enter) or
// memory.
std::int64_t* WorkingTime(SessionState& s, char letter) {
  switch (letter) {
    case 'i': return &s.inPoint;
    case 'o': return &s.outPoint;
    case 'e': return &s.punchPoint;
    case 'm': return &s.memoryPoint;
    default: return nullptr;
  }
}

}  // namespace

void TimeRangeStore(std::int64_t in, std::int64_t out, std::uint32_t sampleRate, RangeTable& starts,
                    RangeTable& ends, NameTable& names, int beatsPerMeasure, float tempo, int tempoMode) {
  RangeUse used{};
  if (MarkRangesInUse(starts, ends, used) > 0) {
    ShowRanges({sampleRate, beatsPerMeasure, tempo, tempoMode}, starts, ends, names, used);
  } else {
    std::printf("All locations available\n");
  }
  std::printf("Enter location to store to (1-%i)\n", kRangeCount);
  const std::optional<int> slot = ReadSlot(kRangeCount);
  if (!slot) return;
  starts[*slot] = in;
  ends[*slot] = out;
  std::printf("Enter a range name or '0' to skip\n");
  ReadName(names[*slot], "0");
}

void TimeRangeRecall(std::int64_t& in, std::int64_t& out, std::uint32_t sampleRate,
                     const RangeTable& starts, const RangeTable& ends, const NameTable& names,
                     int beatsPerMeasure, float tempo, int tempoMode) {
  RangeUse used{};
  if (MarkRangesInUse(starts, ends, used) == 0) {
    std::printf("No locations available\n");
    return;
  }
  ShowRanges({sampleRate, beatsPerMeasure, tempo, tempoMode}, starts, ends, names, used);
  std::printf("Enter location to recall (1-%i)\n", kRangeCount);
  const std::optional<int> slot = ReadSlot(kRangeCount);
  if (!slot) return;
  if (used[*slot] != 1) {
    std::printf("Location %i is empty\n", *slot + 1);
    return;
  }
  in = starts[*slot];
  out = ends[*slot];
}

void EditRange(std::uint32_t sampleRate, RangeTable& starts, RangeTable& ends, NameTable& names,
               int beatsPerMeasure, float tempo, int tempoMode) {
  // The editor's own answer, so that its "c" is not taken as a command.
  WordBuffer answer{};
  SetText(answer, "0");
  while (WordOf(answer) != "c") {
    RangeUse used{};
    if (MarkRangesInUse(starts, ends, used) == 0) {
      std::printf("No range locations to edit\n");
      return;
    }
    ShowRanges({sampleRate, beatsPerMeasure, tempo, tempoMode}, starts, ends, names, used);
    std::printf("Enter 'n' to change region name\n");
    std::printf("Enter 'k' to delete region\n");
    std::printf("Enter 'c' to continue\n");
    ReadWord(answer);
    const std::string_view choice = WordOf(answer);
    if (choice != "k" && choice != "n") continue;
    std::printf("Enter the range number\n");
    const std::optional<int> slot = ReadSlot(kRangeCount);
    if (!slot) continue;
    if (choice == "k") {
      ClearRange(starts, ends, names, *slot);
    } else {
      std::printf("Enter a new range name\n");
      ReadName(names[*slot]);
    }
  }
}

Flow SaveTimeToLocate(ConsoleState& console) {
  SessionState& s = console.s;
  const std::string_view word = WordOf(console.word);
  // Only "<time>.l" saves; other words that merely contain ".l" are ignored.
  if (word.size() != 3 || word.substr(1) != ".l") return Flow::Continue;
  const std::int64_t* time = WorkingTime(s, word[0]);
  if (time == nullptr) return Flow::Continue;
  ShowLocates(s);
  std::printf("\nEnter locate point number (1-%i)\n", kLocateCount);
  const std::optional<int> slot = ReadSlot(kLocateCount);
  if (!slot) return Flow::Continue;
  s.locatePoints[*slot] = *time;
  std::printf("Stored locate point\n");
  return Flow::Continue;
}

Flow RecallTimeFromLocate(ConsoleState& console) {
  SessionState& s = console.s;
  // Any word with "l." asks for a point, but only "l.<time>" recalls it.
  const std::string_view word = WordOf(console.word);
  std::int64_t* time = word.size() == 3 && word.substr(0, 2) == "l." ? WorkingTime(s, word[2]) : nullptr;
  ShowLocates(s);
  std::printf("Enter a locate point number (1-%i)\n", kLocateCount);
  const std::optional<int> slot = ReadSlot(kLocateCount);
  if (slot && time != nullptr) *time = s.locatePoints[*slot];
  return Flow::Continue;
}

Flow LocateMenu(ConsoleState& console) {
  SessionState& s = console.s;
  do {
    ShowLocates(s);
    std::printf("Enter 'n' to change name\n");
    std::printf("Enter 'k' to delete point\n");
    std::printf("Enter 'c' to continue\n");
    ReadWord(console.word);
    const std::string_view choice = WordOf(console.word);
    if (choice == "n") {
      std::printf("Enter locate point\n");
      if (const std::optional<int> slot = ReadSlot(kLocateCount)) {
        std::printf("Enter a name for point %i\n", *slot + 1);
        ReadName(s.locateNames[*slot]);
      }
    } else if (choice == "k") {
      std::printf("Enter locate point number\n");
      if (const std::optional<int> slot = ReadSlot(kLocateCount)) {
        s.locatePoints[*slot] = 0;
        SetText(s.locateNames[*slot], "(name)");
      }
    }
  } while (WordOf(console.word) != "c");
  return Flow::Continue;
}

Flow StoreRange(ConsoleState& console) {
  SessionState& s = console.s;
  TimeRangeStore(s.inPoint, s.outPoint, s.sampleRate, s.rangeStart, s.rangeEnd, s.rangeNames, s.beatsPerMeasure,
                 s.tempo, s.tempoMode);
  return Flow::Continue;
}

Flow RecallRange(ConsoleState& console) {
  SessionState& s = console.s;
  TimeRangeRecall(s.inPoint, s.outPoint, s.sampleRate, s.rangeStart, s.rangeEnd, s.rangeNames, s.beatsPerMeasure,
                  s.tempo, s.tempoMode);
  return Flow::Continue;
}

Flow EditRanges(ConsoleState& console) {
  SessionState& s = console.s;
  EditRange(s.sampleRate, s.rangeStart, s.rangeEnd, s.rangeNames, s.beatsPerMeasure, s.tempo, s.tempoMode);
  return Flow::Continue;
}

}  // namespace sondrel
