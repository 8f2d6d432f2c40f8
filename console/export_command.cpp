#include "console/export_command.h"

#include <cstdio>
#include <string_view>

#include "console/input.h"
#include "console/run_reports.h"
#include "mixer/export.h"

namespace sondrel {

namespace {

bool ExportUnderAskedName(ConsoleState& console, ExportLayout layout, ExportTracks& tracks) {
  std::printf("Enter mix filename\n");
  WordBuffer baseName{};
  ReadWord(baseName);
  MixPeaks peaks;
  const bool exported = ExportMix(console.s, layout, WordOf(baseName), tracks, console.transport.gains,
                                  console.buffers.channelPointers[0], *console.transport.mixWork, peaks,
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
