#include "console/overwrite_question.h"

#include <cstdio>

#include "console/input.h"
#include "core/list_text.h"

namespace sondrel {

bool FileReadable(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

bool ConfirmOverwrite(int count, std::string_view list, bool& overwriteAll) {
  const ListLines lines = SplitListLines(list);
  int existing = 0;
  for (int i = 0; i < count && i < lines.count; ++i) {
    if (lines.lines[i] != "-" && FileReadable(std::string(lines.lines[i]))) ++existing;
  }
  if (existing == 0) return true;
  std::printf("-------------------------\n");
  if (existing == 1) {
    std::printf("1 file exists!\n");
  } else {
    std::printf("%i files exists!\n", existing);
  }
  for (;;) {
    std::printf("Enter 'w' to overwrite\n");
    std::printf("Enter 'W' to overwrite and don't ask again.\n");
    std::printf("Enter 'r' to return to previous menu.\n");
    WordBuffer answer{};
    ReadWord(answer);
    const std::string_view word = WordOf(answer);
    if (word == "w") return true;
    if (word == "W") {
      overwriteAll = true;
      return true;
    }
    if (word == "r") return false;
  }
}

}  // namespace sondrel
