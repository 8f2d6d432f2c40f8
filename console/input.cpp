#include "console/input.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace sondrel {

void ReadWord(WordBuffer& buffer) { ReadWordFrom(stdin, buffer); }

void ReadWordFrom(std::FILE* in, WordBuffer& buffer) {
  std::fflush(stdout);
  int c = std::getc(in);
  while (c != EOF && std::isspace(c)) c = std::getc(in);
  if (c == EOF) throw EndOfInput{};
  std::size_t n = 0;
  while (c != EOF && !std::isspace(c)) {
    if (n < kWordBufferSize - 1) buffer[n++] = static_cast<char>(c);
    c = std::getc(in);
  }
  buffer[n] = '\0';
}

std::string_view WordOf(const WordBuffer& buffer) {
  return std::string_view(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

int ParseInt(std::string_view text) {
  // strtol needs a terminated string; words are short, so copy the view.
  const std::string copy(text);
  const long value = std::strtol(copy.c_str(), nullptr, 0);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

float ParseFloat(std::string_view text) {
  const std::string copy(text);
  return std::strtof(copy.c_str(), nullptr);
}

int ReadInt() {
  WordBuffer word{};
  ReadWord(word);
  return ParseInt(WordOf(word));
}

float ReadFloat() {
  WordBuffer word{};
  ReadWord(word);
  return ParseFloat(WordOf(word));
}

void WaitForWord(WordBuffer& buffer, std::string_view word) {
  do {
    ReadWord(buffer);
  } while (WordOf(buffer) != word);
}

void WaitForContinue(WordBuffer& buffer, ContinueAnswer accepted) {
  std::printf("Enter 'c' to continue\n");
  if (accepted == ContinueAnswer::ExactlyC) {
    WaitForWord(buffer, "c");
    return;
  }
  do {
    ReadWord(buffer);
  } while (!WordOf(buffer).starts_with('c'));
}

}  // namespace sondrel
