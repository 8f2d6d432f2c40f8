// The settings reader on any text: it must never overrun a field, and what
// it stores must survive a save and a reload unchanged. The first save may
// differ from the input (unknown words dropped, values clamped to their
// fields, numbers reformatted); from then on text -> settings -> text is a
// fixed point, or a hand-edited file would drift a little on every save.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/settings_file.h"
#include "fuzz_check.h"

namespace {

using sondrel::SessionState;

template <std::size_t N>
bool Terminated(const sondrel::TextField<N>& field) {
  return sondrel::TextOf(field).size() < N;
}

void CheckFieldsTerminated(const SessionState& s) {
  FUZZ_CHECK(Terminated(s.deviceName));
  for (const auto& name : s.rangeNames) FUZZ_CHECK(Terminated(name));
  for (const auto& name : s.locateNames) FUZZ_CHECK(Terminated(name));
  for (const auto& slot : s.playlistFiles) FUZZ_CHECK(Terminated(slot));
  for (const auto& slot : s.recordlistFiles) FUZZ_CHECK(Terminated(slot));
}

// The program reads param.txt into a record already holding the defaults.
std::unique_ptr<SessionState> Load(std::string_view text) {
  auto s = std::make_unique<SessionState>();
  sondrel::ResetSessionState(*s);
  sondrel::ParseSettingsText(*s, text);
  CheckFieldsTerminated(*s);
  return s;
}

// The period is saved as the device clamped it; the reader's value stands
// in for that here.
std::string Save(const SessionState& s) { return sondrel::BuildSettingsText(s, s.periodFrames); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto first = Load(input);
  const std::string saved = Save(*first);
  FUZZ_CHECK(saved.find('\0') == std::string::npos);
  const auto reloaded = Load(saved);
  const std::string resaved = Save(*reloaded);
  FUZZ_CHECK(resaved == saved);
  // The first-run file is a prefix of the same rows.
  FUZZ_CHECK(saved.starts_with(sondrel::BuildFirstRunText(*first, first->periodFrames)));
  return 0;
}
