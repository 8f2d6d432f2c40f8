#include "engine/transport.h"

#include <cstdio>

#include "console/track_lists.h"

namespace sondrel {

void RunExitForm(SessionState& s, AudioDevices& devices, TransportBuffers& buffers) {
  ReadCurrentListWithRecovery(s.playlistFiles, ListKind::Playlist);
  ReadCurrentListWithRecovery(s.recordlistFiles, ListKind::Recordlist);
  ZeroTransportBuffers(buffers);
  PrepareDevicesForRun(devices, false, false);
  std::printf("\n");
  CloseAudioDevices(devices);
}

}  // namespace sondrel
