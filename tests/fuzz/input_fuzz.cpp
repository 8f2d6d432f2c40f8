// The console's word and number reader on any input: the words read from a
// stream up to its end must be exactly the blank-separated runs of the
// input, each cut to the buffer, and the number parsers must take any word.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/input.h"
#include "fuzz_check.h"

namespace {

struct StreamCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// The words as the reader should see them: runs without white space (in the
// C locale, which the program never leaves), each kept to 511 characters.
std::vector<std::string> ExpectedWords(std::string_view input) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  for (;;) {
    while (pos < input.size() && std::isspace(static_cast<unsigned char>(input[pos]))) ++pos;
    if (pos == input.size()) return words;
    const std::size_t start = pos;
    while (pos < input.size() && !std::isspace(static_cast<unsigned char>(input[pos]))) ++pos;
    words.emplace_back(input.substr(start, std::min(pos - start, sondrel::kWordBufferSize - 1)));
  }
}

// A word with a NUL byte in it ends there for every reader of the buffer.
std::string_view AsCString(const std::string& word) { return std::string_view(word.c_str()); }

void CheckNumbers(std::string_view word) {
  const int value = sondrel::ParseInt(word);
  // A number written back out reads as itself.
  FUZZ_CHECK(sondrel::ParseInt(std::to_string(value)) == value);
  const float real = sondrel::ParseFloat(word);
  (void)real;
}

std::vector<std::string> ReadAllWords(std::string_view input) {
  std::vector<std::string> words;
  if (input.empty()) return words;  // fmemopen refuses an empty buffer
  std::string buffer(input);
  const std::unique_ptr<std::FILE, StreamCloser> stream(
      fmemopen(buffer.data(), buffer.size(), "r"));
  FUZZ_CHECK(stream != nullptr);
  sondrel::WordBuffer word{};
  try {
    for (;;) {
      sondrel::ReadWordFrom(stream.get(), word);
      words.emplace_back(sondrel::WordOf(word));
      FUZZ_CHECK(words.size() <= input.size());
    }
  } catch (const sondrel::EndOfInput&) {
  }
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> words = ReadAllWords(input);
  const std::vector<std::string> expected = ExpectedWords(input);
  FUZZ_CHECK(words.size() == expected.size());
  for (std::size_t i = 0; i < words.size(); ++i) {
    FUZZ_CHECK(!words[i].empty() || expected[i].front() == '\0');
    FUZZ_CHECK(words[i] == AsCString(expected[i]));
    CheckNumbers(words[i]);
  }
  CheckNumbers(input);
  return 0;
}
