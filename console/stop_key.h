// The stop key: while a run goes and standard input is a terminal, any key
// stops it. The terminal is switched to deliver keys one at a time, without
// echo, for the run alone; its settings come back when the run ends, on
// every path. When standard input is not a terminal nothing is read during
// a run, so words piped after a run keep their meaning.
#pragma once

#include <termios.h>

#include <chrono>

namespace sondrel {

class StopKey {
 public:
  StopKey() = default;
  StopKey(const StopKey&) = delete;
  StopKey& operator=(const StopKey&) = delete;
  ~StopKey() { Disarm(); }

  // Starts watching the keyboard (nothing when standard input is no terminal).
  void Arm();
  // Gives the terminal its settings back.
  void Disarm();
  // Whether a key was pressed since the last look; looks at the terminal at
  // most every few milliseconds, and never waits. The key is used up.
  bool Pressed();

 private:
  bool armed_ = false;
  termios saved_{};
  std::chrono::steady_clock::time_point nextLook_{};
};

}  // namespace sondrel
