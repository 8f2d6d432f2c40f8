// The track-list splitter and ListEntry on any text. Each entry must be a
// non-empty run of the text without a line end, in order, at most one per
// channel, and nothing else may be dropped before the channels run out.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/list_text.h"
#include "core/session_state.h"
#include "fuzz_check.h"

namespace {

// The same split, written the plain way.
int CountLines(std::string_view text) {
  int count = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    if (end > pos) ++count;
    pos = end + 1;
  }
  return count;
}

void CheckLines(std::string_view text, const sondrel::ListLines& list) {
  FUZZ_CHECK(list.count >= 0 && list.count <= sondrel::kMaxChannels);
  const int all = CountLines(text);
  FUZZ_CHECK(list.count == (all < sondrel::kMaxChannels ? all : sondrel::kMaxChannels));
  const char* after_previous = text.data();
  for (int i = 0; i < list.count; ++i) {
    const std::string_view line = list.lines[i];
    FUZZ_CHECK(!line.empty() && line.find('\n') == std::string_view::npos);
    // A view into the text itself, after the previous entry, and a whole
    // line: a line end (or the text's edge) on both sides.
    FUZZ_CHECK(line.data() >= after_previous && line.data() + line.size() <= text.data() + text.size());
    FUZZ_CHECK(line.data() == text.data() || line.data()[-1] == '\n');
    FUZZ_CHECK(line.data() + line.size() == text.data() + text.size() || line.data()[line.size()] == '\n');
    after_previous = line.data() + line.size();
    FUZZ_CHECK(sondrel::IsSkipLine(line) == (line.front() == '-'));
  }
  for (int i = list.count; i < sondrel::kMaxChannels; ++i) FUZZ_CHECK(list.lines[i].empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const sondrel::ListLines list = sondrel::SplitListLines(text);
  CheckLines(text, list);
  // ListEntry splits the whole text again for each call: a handful of
  // indices (both ends, the middle, just past the end) keeps the run fast.
  for (const int i : {-1, 0, list.count / 2, list.count - 1, list.count, sondrel::kMaxChannels}) {
    const std::string entry = sondrel::ListEntry(text, i);
    if (i >= 0 && i < list.count) {
      FUZZ_CHECK(entry == list.lines[i]);
    } else {
      FUZZ_CHECK(entry.empty());
    }
  }
  FUZZ_CHECK(!sondrel::IsSkipLine({}));
  return 0;
}
