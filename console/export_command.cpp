#include "console/export_command.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/input.h"
#include "console/overwrite_question.h"
#include "console/run_reports.h"
#include "core/list_text.h"
#include "mixer/export.h"

namespace sondrel {

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return a == b || std::filesystem::equivalent(a, b, error);
}

// The first of `names` that the current playlist or record list names, and
// that list: a track, which a mix must never replace.
std::optional<std::pair<std::string, std::string>> ListedTrack(const SessionState& s,
                                                               const std::vector<std::string>& names) {
  for (const char* list : {s.playlistFiles[0].data(), s.recordlistFiles[0].data()}) {
    std::string text;
    if (!ReadWholeFile(list, text)) continue;
    const ListLines lines = SplitListLines(text);
    for (int i = 0; i < lines.count; ++i) {
      for (const std::string& name : names) {
        if (SameFile(std::string(lines.lines[i]), name)) return std::pair{name, std::string(list)};
      }
    }
  }
  return std::nullopt;
}

// Whether the files may be written: none is a listed track, and the user
// agreed to replace those that exist.
bool MayWrite(const SessionState& s, const std::vector<std::string>& names) {
  if (const auto listed = ListedTrack(s, names)) {
    std::printf("%s is a track in %s: a mix is never written over it\n", listed->first.c_str(),
                listed->second.c_str());
    return false;
  }
  std::string list;
  for (const std::string& name : names) list += name + "\n";
  bool overwriteAll = false;
  return ConfirmOverwrite(static_cast<int>(names.size()), list, overwriteAll);
}

bool ExportUnderAskedName(ConsoleState& console, ExportLayout layout, ExportTracks& tracks) {
  std::printf("Enter mix filename\n");
  WordBuffer baseName{};
  ReadWord(baseName);
  if (!MayWrite(console.s, MixFileNames(layout, WordOf(baseName)))) return false;
  MixPeaks peaks;
  const bool exported = ExportMix(console.s, layout, WordOf(baseName), tracks, console.transport.gains,
                                  console.buffers.play.pointers[0], *console.transport.mixWork, peaks,
                                  console.dialog);
  if (exported) PrintExportPeaks(console.s, peaks);
  return exported;
}

}  // namespace

Flow ExportCommand(ConsoleState& console) {
  SessionState& s = console.s;
  const ExportLayout layout = WordOf(console.word) == "exp-s" ? ExportLayout::Split : ExportLayout::Interleaved;
  ExportTracks tracks;
  const bool ready = PrepareExport(s, console.transport.gains, tracks, console.dialog);
  if (ready && s.outPoint - s.inPoint <= 0) {
    // Nothing to mix: back to the prompt at once, no name asked for.
    std::printf("Cannot export until in and out points are set incorrectly.\n");
    return Flow::Continue;
  }
  if (!ready || !ExportUnderAskedName(console, layout, tracks)) std::printf("Nothing was exported.\n");
  // Here any answer that starts with 'c' continues; it stays in the shared
  // word buffer for the tests after this one.
  WaitForContinue(console.word, ContinueAnswer::AnyStartingWithC);
  return Flow::Continue;
}

}  // namespace sondrel
