#include "console/track_lists.h"

#include <cstdio>
#include <memory>

#include "console/input.h"

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

bool ReadWholeFile(const char* path, std::string& text) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), &std::fclose);
  if (!file) return false;
  text.clear();
  char chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) text.append(chunk, n);
  return !std::ferror(file.get());
}

std::string ReadCurrentListWithRecovery(ListFileTable& files, ListKind kind) {
  const char* format = kind == ListKind::Playlist ? "Cannot find playlist file called %s\n"
                                                  : "Cannot find recordlist file called %s\n";
  std::string text;
  while (!ReadWholeFile(files[0].data(), text)) {
    std::printf(format, files[0].data());
    std::printf("Create the file or enter a different name\n");
    WordBuffer answer{};
    ReadWord(answer);
    SetText(files[0], WordOf(answer));
  }
  return text;
}

}  // namespace sondrel
