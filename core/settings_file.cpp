#include "core/settings_file.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "core/file_io.h"
#include "core/list_text.h"

namespace sondrel {
namespace {

constexpr bool IsKeyDelimiter(char c) { return c == ' ' || c == '\t' || c == '\n'; }

constexpr bool IsStrtolSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// strtol(text, nullptr, 10) on a 64-bit long: leading white space and a sign,
// digits up to the first non-digit, no digits give 0, saturating at the ends.
std::int64_t ParseInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsStrtolSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
    if (overflow || magnitude > (limit - digit) / 10) {
      overflow = true;
    } else {
      magnitude = magnitude * 10 + digit;
    }
  }
  if (overflow) magnitude = limit;
  // Two's complement wrap turns 2^63 into INT64_MIN without overflow.
  return negative ? static_cast<std::int64_t>(~magnitude + 1)
                  : static_cast<std::int64_t>(magnitude);
}

// The file's counts and switches are 32-bit ints. A number beyond them
// stays at the end it passed, never wrapping round to another value that
// would then pass the program's own limits. Positions are whole 64-bit
// sample numbers: a session of 12.4 hours at 48 kHz passes 2^31 samples,
// and every position below that is written as it always was.
std::int32_t Low32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

long long Position(std::int64_t samples) { return static_cast<long long>(samples); }

// strtod, then stored as a 32-bit float (values beyond float become infinite
// instead of an undefined conversion).
float ParseDecimal(std::string_view text) {
  const std::string copy(text);
  const double value = std::strtod(copy.c_str(), nullptr);
  if (std::isfinite(value) && std::fabs(value) > FLT_MAX) return value > 0 ? HUGE_VALF : -HUGE_VALF;
  return static_cast<float>(value);
}

// One line of an indexed setting: the text after the key's delimiter up to
// the line end, and whether it is the file's last line (no word follows it),
// which may have been cut short.
struct IndexedLine {
  std::string_view text;
  bool last;
};

// The first field of a line and where scanning goes on if the line is
// refused: just past the tab after the field, or at the line end.
struct LeadingField {
  std::string_view text;
  std::size_t resume;
};

class SettingsScanner {
 public:
  explicit SettingsScanner(std::string_view text) : text_(text) {}

  // The next word: a run without tab, blank or line end. Empty when no word
  // is left, or when the last word has no delimiter after it (a key at the
  // very end of the file has no value and is skipped as incomplete).
  std::string_view NextKey() {
    while (pos_ < text_.size() && IsKeyDelimiter(text_[pos_])) ++pos_;
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !IsKeyDelimiter(text_[pos_])) ++pos_;
    if (pos_ >= text_.size()) return {};
    const std::string_view key = text_.substr(start, pos_ - start);
    keyEndedLine_ = text_[pos_] == '\n';
    ++pos_;  // the single delimiter that ended the key
    return key;
  }

  // The rest of the line after the key's delimiter; leading line ends are
  // skipped, so a key that ends its line takes the next non-empty line.
  // Nothing when the file ends first.
  std::optional<std::string_view> PlainValue() {
    while (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    if (pos_ >= text_.size()) return std::nullopt;
    return TakeLine().text;
  }

  // The rest of the key's line (empty when the key ended its line).
  IndexedLine RestOfKeyLine() {
    if (keyEndedLine_) return {{}, NoWordFollows()};
    return TakeLine();
  }

  // The key line's first field, up to a tab or the line end (empty when the
  // key ended its line), found without taking the line.
  LeadingField LeadingFieldOfKeyLine() const {
    if (keyEndedLine_) return {{}, pos_};
    const std::size_t end = std::min(text_.find_first_of("\t\n", pos_), text_.size());
    const bool tab = end < text_.size() && text_[end] == '\t';
    return {text_.substr(pos_, end - pos_), tab ? end + 1 : end};
  }

  // Lets the words after an out-of-range play/rec index be tried as keys.
  void SetPosition(std::size_t pos) { pos_ = pos; }

 private:
  IndexedLine TakeLine() {
    const std::size_t start = pos_;
    const std::size_t end = text_.find('\n', start);
    if (end == std::string_view::npos) {
      pos_ = text_.size();
      return {text_.substr(start), true};
    }
    pos_ = end + 1;
    return {text_.substr(start, end - start), NoWordFollows()};
  }

  bool NoWordFollows() const {
    return text_.find_first_not_of(" \t\n", pos_) == std::string_view::npos;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  bool keyEndedLine_ = false;
};

// Splits "index<TAB>value"; `hasValue` is false when there is no tab or
// nothing after it.
struct IndexedValue {
  std::int64_t index;
  std::string_view value;
  bool hasValue;
};

IndexedValue SplitIndexed(std::string_view line) {
  const std::size_t tab = line.find('\t');
  if (tab == std::string_view::npos) return {ParseInteger(line), {}, false};
  const std::string_view value = line.substr(tab + 1);
  return {ParseInteger(line.substr(0, tab)), value, !value.empty()};
}

// Channel lines are bounded by the tracks read so far and by the table.
bool IsStoredChannel(std::int64_t channel, int tracks) {
  return channel >= 1 && channel <= tracks && channel <= kMaxChannels;
}

void ReadRangeLine(SessionState& s, const IndexedLine& line, int& slot, SettingsReadResult& result) {
  const std::string_view text = line.text;
  const std::size_t tab1 = text.find('\t');
  const std::size_t tab2 =
      tab1 == std::string_view::npos ? std::string_view::npos : text.find('\t', tab1 + 1);
  const std::string_view name =
      tab2 == std::string_view::npos ? std::string_view{} : text.substr(tab2 + 1);
  // The file's last line, cut short before its name: skipped whole.
  if (line.last && name.empty()) return;

  const std::string_view startText = text.substr(0, tab1);
  const std::string_view endText = tab1 == std::string_view::npos
                                       ? std::string_view{}
                                       : text.substr(tab1 + 1, tab2 - (tab1 + 1));
  s.rangeStart[slot] = ParseInteger(startText);
  s.rangeEnd[slot] = ParseInteger(endText);
  if (name.empty()) {
    SetText(s.rangeNames[slot], "range" + std::to_string(slot + 1));
    ++result.rangesWithoutName;
  } else {
    SetText(s.rangeNames[slot], name);
  }
  if (slot < kRangeCount - 1) ++slot;
}

void ReadLocateLine(SessionState& s, const IndexedLine& line, int& slot) {
  const std::string_view text = line.text;
  const std::size_t tab = text.find('\t');
  const bool hasNameField = tab != std::string_view::npos;
  if (line.last && (!hasNameField || tab + 1 == text.size())) return;

  s.locatePoints[slot] = ParseInteger(text.substr(0, tab));
  // A hand-written "loc<TAB>pos" line without a name keeps the slot's name.
  if (hasNameField) SetText(s.locateNames[slot], text.substr(tab + 1));
  if (slot < kLocateCount - 1) ++slot;
}

// play and rec: slot n up to the tab, then the file name. An index outside
// 1..128 does not take the rest of the line: its words are tried as keys.
// The index is read before the line is taken: taking the whole line for
// every refused index made a long line of "play<TAB>" words cost time
// quadratic in its length (seconds for a 1 MB file).
void ReadListSlotLine(SettingsScanner& scanner, ListFileTable& table) {
  const LeadingField index = scanner.LeadingFieldOfKeyLine();
  const std::int64_t slot = ParseInteger(index.text);
  if (slot < 1 || slot > kListSlots) {
    scanner.SetPosition(index.resume);
    return;
  }
  const IndexedValue field = SplitIndexed(scanner.RestOfKeyLine().text);
  if (field.hasValue) SetText(table[static_cast<std::size_t>(field.index - 1)], field.value);
}

void HandlePlainKey(SessionState& s, std::string_view key, std::string_view value) {
  if (key == "dv") {
    SetText(s.deviceName, value);
  } else if (key == "sr") {
    s.sampleRate = static_cast<std::uint32_t>(std::clamp<std::int64_t>(ParseInteger(value), 0, UINT32_MAX));
  } else if (key == "inputs") {
    s.inputs = Low32(ParseInteger(value));
  } else if (key == "outputs") {
    s.outputs = Low32(ParseInteger(value));
  } else if (key == "ch") {
    s.tracks = Low32(ParseInteger(value));
  } else if (key == "buf") {
    s.periodFrames = Low32(ParseInteger(value));
  } else if (key == "odcomp") {
    s.odcomp = Low32(ParseInteger(value));
  } else if (key == "rtlat") {
    // Only a measured latency is stored; anything negative means none.
    const std::int64_t frames = ParseInteger(value);
    s.roundTripFrames = frames < 0 ? kRoundTripNotMeasured : frames;
  } else if (key == "meter") {
    s.meterRange = Low32(ParseInteger(value));
  } else if (key == "sig") {
    s.beatsPerMeasure = Low32(ParseInteger(value));
  } else if (key == "safe") {
    s.safeMode = Low32(ParseInteger(value));
  } else if (key == "i") {
    s.inPoint = ParseInteger(value);
  } else if (key == "o") {
    s.outPoint = ParseInteger(value);
  } else if (key == "e") {
    s.punchPoint = ParseInteger(value);
  } else if (key == "mem") {
    s.memoryPoint = ParseInteger(value);
  } else if (key == "nudge") {
    s.nudge = ParseDecimal(value);
  } else if (key == "proll") {
    s.preroll = ParseDecimal(value);
  } else if (key == "xfade") {
    s.crossfade = ParseDecimal(value);
  } else if (key == "tempo") {
    s.tempo = ParseDecimal(value);
  } else if (key == "aud") {
    const float seconds = ParseDecimal(value);
    s.auditionLength = seconds < 0.0f ? 0.0f : seconds;
  } else if (key == "clock") {
    if (value == "hc") s.clockMode = 0;
    if (value == "sc") s.clockMode = 2;
  } else if (key == "peak") {
    if (value == "np") s.peakCheck = 0;
  } else if (key == "int") {
    if (Low32(ParseInteger(value)) == 0) s.interfaceMode = 0;
  } else if (key == "mix") {
    const int mode = Low32(ParseInteger(value));
    s.mixMode = mode >= 1 && mode <= 3 ? mode : 0;
  } else if (key == "tmode") {
    const int mode = Low32(ParseInteger(value));
    s.tempoMode = mode == 1 ? 1 : 0;
  } else if (key == "cnt") {
    s.countInBars = Low32(ParseInteger(value));
  } else if (key == "solo") {
    const std::int64_t channel = ParseInteger(value);
    if (IsStoredChannel(channel, s.tracks)) s.solo[static_cast<std::size_t>(channel - 1)] = 1;
  }
}

bool IsCheckedCount(std::string_view key) {
  return key == "sr" || key == "inputs" || key == "outputs" || key == "ch" || key == "buf";
}

// A later line of the same key replaces the earlier one, as in the session.
void NoteCount(std::vector<CountRead>& counts, std::string_view key, std::string_view text, std::string_view value) {
  const auto line = static_cast<int>(std::count(text.data(), value.data(), '\n')) + 1;
  const CountRead read{std::string(key), line, ParseInteger(value)};
  for (CountRead& earlier : counts) {
    if (earlier.key == key) {
      earlier = read;
      return;
    }
  }
  counts.push_back(read);
}

bool IsPlainKey(std::string_view key) {
  static constexpr std::string_view kPlainKeys[] = {
      "dv",   "sr",    "inputs", "outputs", "ch",  "buf",   "odcomp", "rtlat", "meter", "sig",
      "safe", "i",     "o",      "e",       "mem", "nudge", "proll",  "xfade", "tempo",
      "aud",  "clock", "peak",   "int",     "mix", "tmode", "solo", "cnt"};
  for (const std::string_view plain : kPlainKeys) {
    if (key == plain) return true;
  }
  return false;
}

// Appends printf-formatted text; the formats are the file's exact formats.
__attribute__((format(printf, 2, 3))) void AppendFormat(std::string& out, const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list retry;
  va_copy(retry, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length > 0 && static_cast<std::size_t>(length) < sizeof small) {
    out.append(small, static_cast<std::size_t>(length));
  } else if (length > 0) {
    const std::size_t old = out.size();
    out.resize(old + static_cast<std::size_t>(length) + 1);
    std::vsnprintf(out.data() + old, static_cast<std::size_t>(length) + 1, format, retry);
    out.resize(old + static_cast<std::size_t>(length));
  }
  va_end(retry);
}

void AppendFirstRunRows(std::string& out, const SessionState& s, int clampedPeriod) {
  const std::string device(TextOf(s.deviceName));
  AppendFormat(out, "dv\t%s\n", device.c_str());
  AppendFormat(out, "sr\t%u\n", static_cast<unsigned>(s.sampleRate));
  AppendFormat(out, "inputs\t%i\n", s.inputs);
  AppendFormat(out, "outputs\t%i\n", s.outputs);
  AppendFormat(out, "ch\t%i\n", s.tracks);
  AppendFormat(out, "buf\t%i\n", clampedPeriod);
  AppendFormat(out, "int\t%i\n", s.interfaceMode);
}

const char* ClockWord(int clockMode) {
  if (clockMode == 0) return "hc";
  if (clockMode == 2) return "sc";
  return "uc";
}

}  // namespace

void ActivateBusses(const BusListTexts& lists, BusMatrix& busChannels,
                    std::array<int, kBusCount>& busActive) {
  for (std::size_t bus = 0; bus < lists.size(); ++bus) {
    for (const std::string_view piece : SplitAtCommas(lists[bus])) {
      const std::int64_t channel = ParseInteger(piece);
      if (channel >= 1 && channel <= kMaxChannels) {
        busChannels[bus][static_cast<std::size_t>(channel - 1)] = 1;
        busActive[bus] = 1;
      }
    }
  }
}

SettingsReadResult ParseSettingsText(SessionState& s, std::string_view text) {
  text = text.substr(0, text.find('\0'));
  SettingsReadResult result;
  BusListTexts busLists;
  int rangeSlot = 0;
  int locateSlot = 0;
  SettingsScanner scanner(text);
  for (std::string_view key = scanner.NextKey(); !key.empty(); key = scanner.NextKey()) {
    if (IsPlainKey(key)) {
      const std::optional<std::string_view> value = scanner.PlainValue();
      if (value) HandlePlainKey(s, key, *value);
      if (value && IsCheckedCount(key)) NoteCount(result.counts, key, text, *value);
    } else if (key == "v" || key == "p" || key == "busvl" || key == "bus") {
      const IndexedValue field = SplitIndexed(scanner.RestOfKeyLine().text);
      if (!field.hasValue) continue;
      if (key == "v" || key == "p") {
        if (!IsStoredChannel(field.index, s.tracks)) continue;
        const auto index = static_cast<std::size_t>(field.index - 1);
        (key == "v" ? s.channelVolume : s.channelPan)[index] = ParseDecimal(field.value);
      } else if (field.index >= 1 && field.index <= kBusCount) {
        const auto index = static_cast<std::size_t>(field.index - 1);
        if (key == "bus") {
          busLists[index] = field.value;
        } else {
          s.busVolume[index] = ParseDecimal(field.value);
        }
      }
    } else if (key == "click") {
      // The output, then the level: checked against the interface at start-up.
      const IndexedValue field = SplitIndexed(scanner.RestOfKeyLine().text);
      s.clickOutput = Low32(field.index);
      if (field.hasValue) s.clickLevelDb = ParseDecimal(field.value);
    } else if (key == "range") {
      ReadRangeLine(s, scanner.RestOfKeyLine(), rangeSlot, result);
    } else if (key == "loc") {
      ReadLocateLine(s, scanner.RestOfKeyLine(), locateSlot);
    } else if (key == "play") {
      ReadListSlotLine(scanner, s.playlistFiles);
    } else if (key == "rec") {
      ReadListSlotLine(scanner, s.recordlistFiles);
    }
    // Any other word is skipped; the next word is tried as a key.
  }
  ActivateBusses(busLists, s.busChannels, s.busActive);
  return result;
}

SettingsReadResult ReadSettings(SessionState& s, FilePtr file) {
  if (!file) return {};
  std::string text;
  char chunk[16384];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) text.append(chunk, got);
  // A read error leaves what was read; the reader never stops on bad input.
  file.reset();
  return ParseSettingsText(s, text);
}

std::string BuildFirstRunText(const SessionState& s, int clampedPeriod) {
  std::string out;
  AppendFirstRunRows(out, s, clampedPeriod);
  return out;
}

std::string BuildSettingsText(const SessionState& s, int clampedPeriod) {
  std::string out;
  out.reserve(16384);
  AppendFirstRunRows(out, s, clampedPeriod);
  AppendFormat(out, "clock\t%s\n", ClockWord(s.clockMode));
  AppendFormat(out, "peak\t%s\n", s.peakCheck == 0 ? "np" : "cp");
  AppendFormat(out, "i\t%lld\n", Position(s.inPoint));
  AppendFormat(out, "o\t%lld\n", Position(s.outPoint));
  AppendFormat(out, "e\t%lld\n", Position(s.punchPoint));
  AppendFormat(out, "nudge\t%.4f\n", static_cast<double>(s.nudge));
  AppendFormat(out, "proll\t%.3f\n", static_cast<double>(s.preroll));
  AppendFormat(out, "aud\t%.2f\n", static_cast<double>(s.auditionLength));
  AppendFormat(out, "xfade\t%.1f\n", static_cast<double>(s.crossfade));
  AppendFormat(out, "mem\t%lld\n", Position(s.memoryPoint));
  AppendFormat(out, "odcomp\t%i\n", s.odcomp);
  // Written once measured, so a project that never was keeps its file as it was.
  if (s.roundTripFrames >= 0) AppendFormat(out, "rtlat\t%lld\n", static_cast<long long>(s.roundTripFrames));
  AppendFormat(out, "mix\t%i\n", s.mixMode);
  AppendFormat(out, "meter\t%i\n", s.meterRange);
  AppendFormat(out, "tmode\t%i\n", s.tempoMode);
  AppendFormat(out, "tempo\t%.2f\n", static_cast<double>(s.tempo));
  AppendFormat(out, "sig\t%i\n", s.beatsPerMeasure);
  AppendFormat(out, "safe\t%i\n", s.safeMode);
  // Written once used, so a project that never was keeps its file as it was.
  if (s.clickOutput != 0 || s.clickLevelDb != kClickDefaultLevelDb) {
    AppendFormat(out, "click\t%i\t%.2f\n", s.clickOutput, static_cast<double>(s.clickLevelDb));
  }
  if (s.countInBars != 0) AppendFormat(out, "cnt\t%i\n", s.countInBars);

  const int channels = s.tracks < kMaxChannels ? s.tracks : kMaxChannels;
  out += "\nVolume Settings:\n";
  for (int ch = 1; ch <= channels; ++ch) {
    AppendFormat(out, "v\t%i\t%.2f\n", ch, static_cast<double>(s.channelVolume[ch - 1]));
  }
  out += "\nPan Settings:\n";
  for (int ch = 1; ch <= channels; ++ch) {
    AppendFormat(out, "p\t%i\t%.0f\n", ch, static_cast<double>(s.channelPan[ch - 1]));
  }
  out += "\nSolo Settings:\n";
  for (int ch = 1; ch <= channels; ++ch) {
    if (s.solo[ch - 1] == 1) AppendFormat(out, "solo\t%i\n", ch);
  }

  out += "\nTime Ranges:\n";
  for (int r = 0; r < kRangeCount; ++r) {
    if (s.rangeStart[r] > 0 || s.rangeEnd[r] > 0) {
      const std::string name(TextOf(s.rangeNames[r]));
      AppendFormat(out, "range\t%lld\t%lld\t%s\n", Position(s.rangeStart[r]), Position(s.rangeEnd[r]), name.c_str());
    }
  }
  out += "\nLocate Points:\n";
  for (int l = 0; l < kLocateCount; ++l) {
    if (s.locatePoints[l] != 0) {
      const std::string name(TextOf(s.locateNames[l]));
      AppendFormat(out, "loc\t%lld\t%s\n", Position(s.locatePoints[l]), name.c_str());
    }
  }

  const auto appendListSlots = [&out](const char* header, const char* key,
                                      const ListFileTable& table) {
    out += header;
    for (int slot = 1; slot <= kListSlots; ++slot) {
      const std::string name(TextOf(table[static_cast<std::size_t>(slot - 1)]));
      if (!name.empty()) AppendFormat(out, "%s\t%i\t%s\n", key, slot, name.c_str());
    }
  };
  appendListSlots("\nPlaylist Files:\n", "play", s.playlistFiles);
  appendListSlots("\nRecordlist Files:\n", "rec", s.recordlistFiles);

  out += "\nBus Assignments:\n";
  for (int bus = 1; bus <= kBusCount; ++bus) {
    if (s.busActive[bus - 1] != 1) continue;
    AppendFormat(out, "bus\t%i\t", bus);
    for (int ch = 1; ch <= kMaxChannels; ++ch) {
      if (s.busChannels[bus - 1][ch - 1] == 1) AppendFormat(out, "%i,", ch);
    }
    out += '\n';
  }
  out += "\nBus Volumes (dB):\n";
  for (int bus = 1; bus <= kBusCount; ++bus) {
    // 0 dB is not written, and neither is a level that prints as 0.00 (a
    // hand-edited 1e-40): read back it would be 0 dB, and the next save
    // would drop the line, so a file would change on every save.
    char level[64];
    std::snprintf(level, sizeof level, "%.2f", static_cast<double>(s.busVolume[bus - 1]));
    if (std::strcmp(level, "0.00") != 0 && std::strcmp(level, "-0.00") != 0) {
      AppendFormat(out, "busvl\t%i\t%s\n", bus, level);
    }
  }
  return out;
}

IoResult WriteSettingsFile(const std::string& text) {
  return ReplaceFileDurably(kSettingsFileName, kSettingsTempFileName, text);
}

}  // namespace sondrel
