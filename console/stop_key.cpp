#include "console/stop_key.h"

#include <poll.h>
#include <unistd.h>

namespace sondrel {

namespace {

// A key is noticed within this; looking more often would only cost system
// calls in the real-time loop.
constexpr std::chrono::milliseconds kLookInterval{10};

}  // namespace

void StopKey::Arm() {
  if (armed_ || !::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
  termios keys = saved_;
  // Keys arrive one by one and are not echoed; Ctrl-C still raises SIGINT,
  // which stops the run the same way.
  keys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  keys.c_cc[VMIN] = 0;
  keys.c_cc[VTIME] = 0;
  armed_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
  nextLook_ = {};
}

void StopKey::Disarm() {
  if (!armed_) return;
  armed_ = false;
  (void)::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

bool StopKey::Pressed() {
  if (!armed_) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now < nextLook_) return false;
  nextLook_ = now + kLookInterval;
  pollfd input{STDIN_FILENO, POLLIN, 0};
  if (::poll(&input, 1, 0) <= 0) return false;
  // Every key pressed so far is used up: none of them is a word.
  char keys[64];
  (void)!::read(STDIN_FILENO, keys, sizeof keys);
  return true;
}

}  // namespace sondrel
