#include "console/input.h"

#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/interruption.h"

namespace sondrel {

namespace {

// Standard input, read in blocks straight from its descriptor. The wait for
// more also watches the signal wake-up: a SIGINT, SIGTERM or SIGHUP at the
// prompt or in a menu ends the program at once, as end of input does,
// instead of after the next word.
class StandardInput {
 public:
  int Next() {
    if (next_ == end_ && !Fill()) return EOF;
    return static_cast<unsigned char>(bytes_[next_++]);
  }

 private:
  bool Fill() {
    for (;;) {
      if (PendingInterruption() != 0) return false;
      pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {InterruptionWakeFd(), POLLIN, 0}};
      if (::poll(waits, waits[1].fd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) return false;
      if (waits[1].revents != 0) DrainInterruptionWake();
      if (PendingInterruption() != 0) return false;
      if (waits[0].revents == 0) continue;
      const ssize_t got = ::read(STDIN_FILENO, bytes_, sizeof bytes_);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) return false;
      next_ = 0;
      end_ = static_cast<std::size_t>(got);
      return true;
    }
  }

  char bytes_[4096];
  std::size_t next_ = 0;
  std::size_t end_ = 0;
};

StandardInput standardInput;

template <typename NextChar>
void ReadWordWith(NextChar next, WordBuffer& buffer) {
  std::fflush(stdout);
  int c = next();
  while (c != EOF && std::isspace(c)) c = next();
  if (c == EOF) throw EndOfInput{};
  std::size_t n = 0;
  while (c != EOF && !std::isspace(c)) {
    if (n < kWordBufferSize - 1) buffer[n++] = static_cast<char>(c);
    c = next();
  }
  buffer[n] = '\0';
}

}  // namespace

void ReadWord(WordBuffer& buffer) {
  ReadWordWith([] { return standardInput.Next(); }, buffer);
}

void ReadWordFrom(std::FILE* in, WordBuffer& buffer) {
  ReadWordWith([in] { return std::getc(in); }, buffer);
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
