// The readers of typed and hand-edited text on any input: the console's word and number reader, the track-list splitter
// and the settings reader. None may overrun a buffer, and each answer must agree with what the text says.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "console/input.h"
#include "core/file_io.h"
#include "core/list_text.h"
#include "core/settings_file.h"
#include "fuzz_check.h"

namespace {

using sondrel::kMaxChannels;

void CheckNumbers(std::string_view word) {
  // A number written back out reads as itself; a float only has to parse.
  const int value = sondrel::ParseInt(word);
  FUZZ_CHECK(sondrel::ParseInt(std::to_string(value)) == value);
  (void)sondrel::ParseFloat(word);
}

// The words read from a stream up to its end must be exactly its runs without white space (in the C locale, which the
// program never leaves), each cut to the buffer.
void CheckWords(std::string_view input) {
  if (input.empty()) return;  // fmemopen refuses an empty buffer
  std::string buffer(input);
  const sondrel::FilePtr stream(fmemopen(buffer.data(), buffer.size(), "r"));
  FUZZ_CHECK(stream != nullptr);
  sondrel::WordBuffer word{};
  auto space = [&](std::size_t at) { return std::isspace(static_cast<unsigned char>(input[at])) != 0; };
  for (std::size_t pos = 0;;) {
    while (pos < input.size() && space(pos)) ++pos;
    const std::size_t start = pos;
    while (pos < input.size() && !space(pos)) ++pos;
    try {
      sondrel::ReadWordFrom(stream.get(), word);
    } catch (const sondrel::EndOfInput&) {
      FUZZ_CHECK(start == input.size());
      return;
    }
    FUZZ_CHECK(start < input.size());
    // A word with a NUL byte in it ends there for every reader of the buffer.
    const std::string expected(input.substr(start, std::min(pos - start, sondrel::kWordBufferSize - 1)));
    FUZZ_CHECK(sondrel::WordOf(word) == std::string_view(expected.c_str()));
    CheckNumbers(sondrel::WordOf(word));
  }
}

// The list entries are the text's non-empty lines, in order, as views into
// the text, at most one per channel: the same split, written the plain way.
void CheckListLines(std::string_view text) {
  const sondrel::ListLines list = sondrel::SplitListLines(text);
  int lines = 0;
  for (std::size_t pos = 0, end = 0; pos < text.size(); pos = end + 1) {
    end = std::min(text.find('\n', pos), text.size());
    if (end == pos) continue;
    if (lines < kMaxChannels) {
      const std::string_view line = list.lines[lines];
      FUZZ_CHECK(line.data() == text.data() + pos && line.size() == end - pos);
      FUZZ_CHECK(sondrel::IsSkipLine(line) == (line.front() == '-'));
    }
    ++lines;
  }
  FUZZ_CHECK(list.count == std::min(lines, kMaxChannels));
  for (int i = list.count; i < kMaxChannels; ++i) FUZZ_CHECK(list.lines[i].empty());
  FUZZ_CHECK(!sondrel::IsSkipLine({}));
  // ListEntry splits the whole text again for each call: a handful of
  // indices (both ends, the middle, just past the end) keeps the run fast.
  for (const int i : {-1, 0, list.count / 2, list.count - 1, list.count, kMaxChannels}) {
    FUZZ_CHECK(sondrel::ListEntry(text, i) == (i >= 0 && i < list.count ? list.lines[i] : ""));
  }
}

// param.txt is read into a record already holding the defaults, and no
// text field may be left without its terminating NUL.
std::unique_ptr<sondrel::SessionState> Load(std::string_view text) {
  auto s = std::make_unique<sondrel::SessionState>();
  sondrel::ResetSessionState(*s);
  sondrel::ParseSettingsText(*s, text);
  const auto terminated = [](const auto& field) { return sondrel::TextOf(field).size() < field.size(); };
  FUZZ_CHECK(terminated(s->deviceName));
  for (const auto& name : s->rangeNames) FUZZ_CHECK(terminated(name));
  for (const auto& name : s->locateNames) FUZZ_CHECK(terminated(name));
  for (const auto& slot : s->playlistFiles) FUZZ_CHECK(terminated(slot));
  for (const auto& slot : s->recordlistFiles) FUZZ_CHECK(terminated(slot));
  return s;
}

// The first save may differ from the input (unknown words dropped, values clamped, numbers reformatted); from then on
// text -> settings -> text is a fixed point, or a hand-edited file would drift a little on every save. The period is
// saved as the device clamped it; the reader's value stands in for that here.
void CheckSettings(std::string_view text) {
  const auto first = Load(text);
  const std::string saved = sondrel::BuildSettingsText(*first, first->periodFrames);
  FUZZ_CHECK(saved.find('\0') == std::string::npos);
  const auto reloaded = Load(saved);
  FUZZ_CHECK(sondrel::BuildSettingsText(*reloaded, reloaded->periodFrames) == saved);
  // The first-run file is a prefix of the same rows.
  FUZZ_CHECK(saved.starts_with(sondrel::BuildFirstRunText(*first, first->periodFrames)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckWords(text);
  CheckNumbers(text);
  CheckListLines(text);
  CheckSettings(text);
  return 0;
}
