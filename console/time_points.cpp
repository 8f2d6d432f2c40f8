#include "console/time_points.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "console/input.h"
#include "timebase/time_conversions.h"
#include "wavfile/wav_format.h"

namespace sondrel {

namespace {

enum class TimePoint { In, Out, Punch, Memory };

// The letters the user types for the four times: i(n), o(ut), e(nter
// recording) and m(emory).
struct PointLetter {
  char letter;
  TimePoint point;
};

constexpr std::array kPointLetters = {
    PointLetter{'i', TimePoint::In},
    PointLetter{'o', TimePoint::Out},
    PointLetter{'e', TimePoint::Punch},
    PointLetter{'m', TimePoint::Memory},
};

std::optional<TimePoint> PointOfLetter(char letter) {
  for (const PointLetter& entry : kPointLetters) {
    if (entry.letter == letter) return entry.point;
  }
  return std::nullopt;
}

std::optional<TimePoint> PointOfWord(std::string_view word) {
  if (word.empty()) return std::nullopt;
  return PointOfLetter(word.front());
}

std::int64_t& PositionOf(SessionState& s, TimePoint point) {
  switch (point) {
    case TimePoint::In: return s.inPoint;
    case TimePoint::Out: return s.outPoint;
    case TimePoint::Punch: return s.punchPoint;
    case TimePoint::Memory: return s.memoryPoint;
  }
  return s.memoryPoint;
}

// Positions stay between the project start and the rounding cap, so no run
// of jumps or nudges can wrap around.
std::int64_t Moved(std::int64_t position, std::int64_t delta) {
  std::int64_t moved = 0;
  if (__builtin_add_overflow(position, delta, &moved)) moved = delta > 0 ? kMaxRoundedPosition : 0;
  return std::clamp<std::int64_t>(moved, 0, kMaxRoundedPosition);
}

// ------------------------------------------------------------ typed times

enum class TimeForm { Seconds, Measures };

struct EntryPrompts {
  TimePoint point;
  const char* seconds;
  const char* measure;
  const char* beat;
};

constexpr std::array kEntryPrompts = {
    EntryPrompts{TimePoint::In, "Enter in-time in seconds.", "Enter measure for playback start time.",
                 "Enter beat for playback start time."},
    EntryPrompts{TimePoint::Out, "Enter out-time in seconds.", "Enter measure for stop time.",
                 "Enter beat for stop time."},
    EntryPrompts{TimePoint::Punch, "Enter recording start time in seconds.",
                 "Enter measure for recording start time.", "Enter beat for recording start time."},
};

const EntryPrompts* PromptsFor(TimePoint point) {
  for (const EntryPrompts& prompts : kEntryPrompts) {
    if (prompts.point == point) return &prompts;
  }
  return nullptr;
}

std::int64_t SecondsToPosition(const ConsoleState& console, float seconds) {
  std::int64_t position = 0;
  RoundSecondsToBlocks(console.devices.blockFrames, console.s.sampleRate, seconds, &position);
  return std::max<std::int64_t>(position, 0);
}

std::int64_t MeasureToPosition(const ConsoleState& console, int measure, float beat) {
  const SessionState& s = console.s;
  return TypedMeasureToSample(console.devices.blockFrames, s.beatsPerMeasure, s.tempo, measure, beat,
                              s.sampleRate);
}

// A stop typed before the start is dropped silently, so a slip of the finger
// cannot leave an inverted window. A time typed in measures lands on a beat,
// and there a stop on the start itself is dropped as well.
void StoreTypedTime(SessionState& s, TimePoint point, std::int64_t position, TimeForm form) {
  if (point == TimePoint::Out) {
    const bool accepted = form == TimeForm::Seconds ? position >= s.inPoint : position > s.inPoint;
    if (!accepted) return;
  }
  PositionOf(s, point) = position;
}

// Only this many characters of a direct measure entry take part.
constexpr std::size_t kDirectMeasureChars = 16;

int LeadingDecimal(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

// 'o9.3' is measure 9, beat 3; 'o9' is measure 9, beat 1. A measure below 1
// means the project start.
std::int64_t DirectMeasurePosition(const ConsoleState& console, std::string_view word) {
  TextField<kDirectMeasureChars + 1> text{};
  SetText(text, word);
  const int measure = LeadingDecimal(text.data() + 1);
  if (measure < 1) return 0;
  const char* dot = std::strchr(text.data(), '.');
  const float beat = dot != nullptr ? ParseFloat(dot + 1) : 1.0f;
  return MeasureToPosition(console, measure, beat);
}

// ------------------------------------------------------------------ nudges

constexpr unsigned Bit(TimePoint point) { return 1u << static_cast<unsigned>(point); }

struct NudgeWord {
  std::string_view word;
  int direction;
  unsigned points;
};

constexpr unsigned kAllPlayPoints = Bit(TimePoint::In) | Bit(TimePoint::Out) | Bit(TimePoint::Punch);

constexpr std::array kNudgeWords = {
    NudgeWord{"n", 1, Bit(TimePoint::In)},     NudgeWord{"b", -1, Bit(TimePoint::In)},
    NudgeWord{"no", 1, Bit(TimePoint::Out)},   NudgeWord{"bo", -1, Bit(TimePoint::Out)},
    NudgeWord{"ne", 1, Bit(TimePoint::Punch)}, NudgeWord{"be", -1, Bit(TimePoint::Punch)},
    NudgeWord{"N", 1, kAllPlayPoints},         NudgeWord{"B", -1, kAllPlayPoints},
};

}  // namespace

Flow EnterTimePoint(ConsoleState& console) {
  const std::optional<TimePoint> point = PointOfWord(WordOf(console.word));
  const EntryPrompts* prompts = point ? PromptsFor(*point) : nullptr;
  if (prompts == nullptr) return Flow::Continue;
  SessionState& s = console.s;
  if (s.tempoMode == 0) {
    std::printf("%s\n", prompts->seconds);
    StoreTypedTime(s, *point, SecondsToPosition(console, ReadFloat()), TimeForm::Seconds);
  } else if (s.tempoMode == 1) {
    std::printf("%s\n", prompts->measure);
    const int measure = std::max(ReadInt(), 1);
    std::printf("%s\n", prompts->beat);
    const float beat = ReadFloat();
    StoreTypedTime(s, *point, MeasureToPosition(console, measure, beat), TimeForm::Measures);
  }
  return Flow::Continue;
}

Flow EnterTimePointDirect(ConsoleState& console) {
  const std::string_view word = WordOf(console.word);
  const std::optional<TimePoint> point = PointOfWord(word);
  if (!point || *point == TimePoint::Memory) return Flow::Continue;
  SessionState& s = console.s;
  if (s.tempoMode == 0) {
    StoreTypedTime(s, *point, SecondsToPosition(console, ParseFloat(word.substr(1))), TimeForm::Seconds);
  } else if (s.tempoMode == 1) {
    StoreTypedTime(s, *point, DirectMeasurePosition(console, word), TimeForm::Measures);
  }
  return Flow::Continue;
}

Flow JumpAhead(ConsoleState& console) {
  SessionState& s = console.s;
  const std::int64_t length = s.outPoint - s.inPoint;
  s.inPoint = s.outPoint;
  s.outPoint = Moved(s.outPoint, length);
  return Flow::Continue;
}

Flow JumpBack(ConsoleState& console) {
  SessionState& s = console.s;
  const std::int64_t length = s.outPoint - s.inPoint;
  s.outPoint = s.inPoint;
  s.inPoint = Moved(s.inPoint, -length);
  return Flow::Continue;
}

Flow NudgeTimePoints(ConsoleState& console) {
  const std::string_view word = WordOf(console.word);
  const auto* nudge = std::find_if(kNudgeWords.begin(), kNudgeWords.end(),
                                   [word](const NudgeWord& entry) { return entry.word == word; });
  if (nudge == kNudgeWords.end()) return Flow::Continue;
  const std::int64_t delta = nudge->direction * console.lengths.nudgeSamples;
  for (const TimePoint point : {TimePoint::In, TimePoint::Out, TimePoint::Punch}) {
    if ((nudge->points & Bit(point)) == 0) continue;
    std::int64_t& position = PositionOf(console.s, point);
    position = Moved(position, delta);
  }
  return Flow::Continue;
}

Flow SetNudgeAmount(ConsoleState& console) {
  SessionState& s = console.s;
  std::int64_t& samples = console.lengths.nudgeSamples;
  std::printf("\nNudge Amount = %lld samples, %.3f sec\n", static_cast<long long>(samples),
              static_cast<double>(SamplesToSeconds(samples, s.sampleRate)));
  std::printf("Enter new nudge amount (in sec) or '0' to keep settings\n");
  const float seconds = ReadFloat();
  // "inf" would be saved to param.txt and push every nudge to the end of time.
  if (!(seconds > 0.0f) || !std::isfinite(seconds)) return Flow::Continue;
  s.nudge = seconds;
  RoundSecondsToBlocks(console.devices.blockFrames, s.sampleRate, seconds, &samples);
  std::printf("Nudge amount will be set to %lld samples, %.3f sec\n", static_cast<long long>(samples),
              static_cast<double>(SamplesToSeconds(samples, s.sampleRate)));
  return Flow::Continue;
}

Flow CopyTimePoint(ConsoleState& console) {
  const std::string_view word = WordOf(console.word);
  if (word.size() != 3 || word[1] != '.') return Flow::Continue;
  const std::optional<TimePoint> from = PointOfLetter(word[0]);
  const std::optional<TimePoint> to = PointOfLetter(word[2]);
  if (!from || !to) return Flow::Continue;
  PositionOf(console.s, *to) = PositionOf(console.s, *from);
  return Flow::Continue;
}

Flow StopAtLongestFile(ConsoleState& console) {
  SessionState& s = console.s;
  // The length of a file, not a typed time: it stays off the block grid so
  // the stop falls exactly on the last sample.
  s.outPoint = LongestTrackSamples(s.tracks, '-', s.playlistFiles[0].data(), console.dialog);
  return Flow::Continue;
}

}  // namespace sondrel
