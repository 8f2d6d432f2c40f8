// The console's only reader of standard input: whitespace-delimited words,
// bounded to the shared 512-byte word buffer, and numbers parsed from words
// the way scanf's %i and %f read them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string_view>

#include "core/program_exit.h"

namespace sondrel {

inline constexpr std::size_t kWordBufferSize = 512;
using WordBuffer = std::array<char, kWordBufferSize>;

// Flushes standard output (so the prompt shows), then reads the next word
// into `buffer`. A word longer than 511 characters keeps its first 511 and
// the rest of it is discarded. Throws EndOfInput at end of input, and when
// a SIGINT, SIGTERM or SIGHUP is pending (the program then ends with the
// signal's status).
void ReadWord(WordBuffer& buffer);
// The same from any stream (standard output is still flushed first; no
// signal is looked at).
void ReadWordFrom(std::FILE* in, WordBuffer& buffer);
std::string_view WordOf(const WordBuffer& buffer);

// %i rules: optional blanks and sign, "0x" hexadecimal, leading "0" octal,
// otherwise decimal; no number gives 0. Values beyond int are clamped.
int ParseInt(std::string_view text);
// %f rules (decimal or exponent notation); no number gives 0.
float ParseFloat(std::string_view text);

// Read one word and parse it.
int ReadInt();
float ReadFloat();

// Reads words until one equals `word` exactly; others are ignored.
void WaitForWord(WordBuffer& buffer, std::string_view word);

enum class ContinueAnswer { ExactlyC, AnyStartingWithC };

// Says "Enter 'c' to continue" and reads words until the answer continues;
// the answer stays in `buffer`.
void WaitForContinue(WordBuffer& buffer, ContinueAnswer accepted = ContinueAnswer::ExactlyC);

}  // namespace sondrel
