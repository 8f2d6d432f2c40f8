#include "app/startup.h"

#include <algorithm>
#include <memory>

#include "console/command_loop.h"
#include "console/startup_dialog.h"
#include "console/terminal_dialog.h"
#include "core/interruption.h"
#include "core/project_lock.h"
#include "core/settings_file.h"
#include "mixer/export.h"
#include "wavfile/punch_undo.h"
#include "wavfile/recording_journal.h"

namespace sondrel {

ChannelCounts ResolveCounts(ChannelCounts c) {
  if (c.tracks > kMaxChannels) c.tracks = kMaxChannels;
  if (c.inputs > kMaxChannels) c.inputs = kMaxChannels;
  if (c.outputs > kMaxChannels) {
    c.outputs = kMaxChannels;
    if (c.inputs < 0) c.inputs = 2;
  } else if (c.inputs < 0) {
    if (c.outputs >= 0) {
      c.inputs = 2;
    } else if (c.tracks >= 1) {
      c.inputs = c.tracks;
      c.outputs = 2;
    } else {
      c.inputs = 2;
      c.outputs = 2;
    }
  } else if (c.outputs < 0) {
    c.outputs = 2;
  }
  if (c.tracks < 0) {
    if (c.inputs <= c.outputs && c.outputs > 1) {
      c.tracks = c.outputs;
      return c;
    }
    c.tracks = 2;
  }
  c.tracks = std::max({c.tracks, c.inputs, c.outputs});
  return c;
}

int RunSondrel() {
  InstallInterruptionHandlers();
  TerminalDialog dialog;
  PrintBanner();
  // Held until the program ends.
  const ProjectLock lock = TakeProjectLock();
  if (lock.heldElsewhere) {
    dialog.Tell({NoticeKind::ProjectInUse, {}, {}, 0, lock.holder});
    return 1;
  }
  // Work a crash, a kill or a power cut cut off is settled before anything
  // else touches the project.
  RecoverInterruptedPunch(dialog);
  RecoverInterruptedRecording(dialog);
  RemoveCutOffExports(dialog);
  // The record holds several large tables; keep it off the stack.
  auto state = std::make_unique<SessionState>();
  SessionState& s = *state;
  ResetSessionState(s);

  if (FilePtr params = OpenFile(kSettingsFileName, "rb")) {
    const SettingsReadResult read = ReadSettings(s, std::move(params));
    for (int i = 0; i < read.rangesWithoutName; ++i) dialog.Tell({NoticeKind::SettingsRangesUnreadable});
    ReportUnusableCounts(read.counts, s);
    s.settingsCreated = 0;
  } else {
    AskFirstRunSettings(s);
    s.settingsCreated = 1;
  }
  CheckListFiles(s);

  const ChannelCounts counts = ResolveCounts({s.tracks, s.inputs, s.outputs});
  s.tracks = counts.tracks;
  s.inputs = counts.inputs;
  s.outputs = counts.outputs;

  PrintConfiguration(s);
  return RunConsole(s);
}

}  // namespace sondrel
