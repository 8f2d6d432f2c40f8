// End-to-end runs of the program on the virtual interface: the device
// definition, the settings and the test signals the vif_* tests share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "tests/support/project.h"

namespace sondrel::e2e {

struct VifDevice {
  int latency = 0;  // cable delay, frames
  std::vector<std::int64_t> playbackXruns;
  std::vector<std::int64_t> captureXruns;
  bool keepPlayback = false;  // write everything played to played.raw
};

// Track k's sample at timeline position n: different for every position
// below 2^23 (an odd multiplier permutes the 24-bit values), so a sample in
// the wrong place cannot pass for the right one.
inline int TrackSample(int channel, std::int64_t n) {
  const auto v = static_cast<std::uint32_t>((n + 1) * 2654435761u + static_cast<std::uint32_t>(channel) * 97u) &
                 0xFFFFFF;
  return static_cast<int>(v << 8) >> 8;
}

inline std::vector<int> Track(int channel, int length) {
  std::vector<int> track(static_cast<std::size_t>(length));
  for (int n = 0; n < length; ++n) track[n] = TrackSample(channel, n);
  return track;
}

// Where `take` sits on the timeline of `track`: the shift s with
// take[j] = track[punch + j - s], read off the first take sample found in
// the track. Returns false when no sample of the take comes from the track.
inline bool FindShift(const std::vector<int>& take, const std::vector<int>& track, std::int64_t punch,
                      std::int64_t& shift) {
  std::unordered_map<int, std::int64_t> where;
  for (std::size_t n = 0; n < track.size(); ++n) where.emplace(track[n], static_cast<std::int64_t>(n));
  for (std::size_t j = 0; j < take.size(); ++j) {
    if (take[j] == 0) continue;
    const auto found = where.find(take[j]);
    if (found == where.end()) continue;
    shift = punch + static_cast<std::int64_t>(j) - found->second;
    return true;
  }
  return false;
}

class VifProjectTest : public ProjectTest {
 protected:
  // Device "vif" in the run's HOME: an unpaced interface whose outputs loop
  // to its inputs, with its own shared memory file in this test's directory.
  void WriteVifDevice(const VifDevice& device) const {
    std::ofstream rc(home_ / ".asoundrc");
    rc << "pcm_type.sondrel_vif { lib \"" SONDREL_VIF_MODULE "\" }\n"
       << "pcm.vif {\n  type sondrel_vif\n  file \"" << (root_ / "vif.shm").string() << "\"\n"
       << "  latency " << device.latency << "\n";
    WritePositions(rc, "xrun_playback", device.playbackXruns);
    WritePositions(rc, "xrun_capture", device.captureXruns);
    if (device.keepPlayback) rc << "  playback_file \"" << (root_ / "played.raw").string() << "\"\n";
    rc << "}\n";
  }

  // Settings for `outputs` outputs and `inputs` inputs on "vif" at 48 kHz
  // with block size `block`; `extra` adds lines (points, odcomp, ...).
  void WriteVifParams(int outputs, int inputs, int block, const std::string& extra) const {
    WriteFile("param.txt", "dv\tvif\nsr\t48000\ninputs\t" + std::to_string(inputs) + "\noutputs\t" +
                               std::to_string(outputs) + "\nch\t" + std::to_string(std::max(inputs, outputs)) +
                               "\nbuf\t" + std::to_string(block) + "\nsafe\t0\n" + extra);
  }

  // What the device played, one vector per output, from played.raw.
  std::vector<std::vector<int>> Played(int outputs) const {
    const std::vector<int> raw = ReadSamples("../played.raw", 0);
    std::vector<std::vector<int>> played(static_cast<std::size_t>(outputs));
    for (std::size_t i = 0; i < raw.size(); ++i) played[i % outputs].push_back(raw[i]);
    return played;
  }

 private:
  static void WritePositions(std::ofstream& rc, const char* key, const std::vector<std::int64_t>& positions) {
    if (positions.empty()) return;
    rc << "  " << key << " [";
    for (std::int64_t p : positions) rc << " " << p;
    rc << " ]\n";
  }
};

}  // namespace sondrel::e2e
