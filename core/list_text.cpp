#include "core/list_text.h"

#include <algorithm>
#include <cstdio>

#include "core/file_io.h"

namespace sondrel {

ListLines SplitListLines(std::string_view text) {
  ListLines result;
  std::size_t pos = 0;
  while (pos < text.size() && result.count < kMaxChannels) {
    const std::size_t end = std::min(text.find('\n', pos), text.size());
    if (end > pos) result.lines[result.count++] = text.substr(pos, end - pos);
    pos = end + 1;
  }
  return result;
}

std::vector<std::string_view> SplitAtCommas(std::string_view text) {
  std::vector<std::string_view> pieces;
  while (!text.empty()) {
    const std::size_t comma = std::min(text.find(','), text.size());
    if (comma > 0) pieces.push_back(text.substr(0, comma));
    text.remove_prefix(std::min(comma + 1, text.size()));
  }
  return pieces;
}

std::string ListEntry(std::string_view list, int index) {
  const ListLines lines = SplitListLines(list);
  return index >= 0 && index < lines.count ? std::string(lines.lines[index]) : std::string();
}

bool ReadWholeFile(const char* path, std::string& text) {
  const FilePtr file = OpenFile(path, "rb");
  if (!file) return false;
  text.clear();
  char chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) text.append(chunk, n);
  return !std::ferror(file.get());
}

}  // namespace sondrel
