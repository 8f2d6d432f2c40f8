// End-to-end runs on the virtual interface, whose every output loops to its input through a cable of known latency.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/project.h"

namespace sondrel::test {

// A position on the block grid, as the program keeps its points.
inline std::int64_t RoundUp(std::int64_t value, int block) { return (value + block - 1) / block * block; }

// The silent chunk every run starts with: the most whole blocks in 4096 frames.
inline std::int64_t LeadIn(int block) { return block * (4096 / block); }

// The click's grid: beat k starts at timeline sample round(k x 60 x rate / tempo).
inline std::int64_t GridBeat(std::int64_t k, std::uint32_t rate, float tempo) {
  return std::llround(static_cast<double>(k) * 60.0 * rate / static_cast<double>(tempo));
}

// Where bursts start in `samples`: a sample that is not silence after `quiet` samples of it.
inline std::vector<std::int64_t> Onsets(const std::vector<int>& samples, std::int64_t quiet) {
  std::vector<std::int64_t> onsets;
  std::int64_t silent = quiet;
  for (std::size_t n = 0; n < samples.size(); ++n) {
    if (samples[n] != 0 && silent >= quiet) onsets.push_back(static_cast<std::int64_t>(n));
    silent = samples[n] == 0 ? silent + 1 : 0;
  }
  return onsets;
}

class VifLoopTest : public ProjectTest {
 protected:
  // The device's shared file, on a memory file system (on a disk a paced run starts with an underrun), one a run.
  std::filesystem::path SharedFile() const {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return std::filesystem::path(runtime && *runtime ? runtime : "/dev/shm") / (root_.filename().string() + ".vif");
  }
  void TearDown() override {
    std::filesystem::remove(SharedFile());
    ProjectTest::TearDown();
  }
  // A fresh unpaced device "vif" in the run's HOME with a cable of `latency` frames (`device` adds settings), and
  // settings for it at 48 kHz with block size `block` (`params` adds lines: points, odcomp, ...).
  void WriteVif(int outputs, int inputs, int block, const std::string& params, std::int64_t latency = 0,
                const std::string& device = "") const {
    std::filesystem::remove(SharedFile());
    std::ofstream(home_ / ".asoundrc") << "pcm_type.sondrel_vif { lib \"" SONDREL_VIF_MODULE "\" }\n"
                                       << "pcm.vif { type sondrel_vif file \"" << SharedFile().string()
                                       << "\" latency " << latency << " " << device << " }\n";
    WriteFile("param.txt", "dv\tvif\nsr\t48000\ninputs\t" + std::to_string(inputs) + "\noutputs\t" +
                               std::to_string(outputs) + "\nch\t" + std::to_string(std::max(inputs, outputs)) +
                               "\nbuf\t" + std::to_string(block) + "\nsafe\t0\n" + params);
  }

  // Writes a 48 kHz track and returns it. Its samples differ up to 2^(bits - 1) (an odd multiplier permutes the values)
  // and between channels, so a sample in the wrong place cannot pass for the right one.
  std::vector<int> WriteTrack(const std::string& name, std::uint32_t channel, std::int64_t length,
                              int bits = 24) const {
    std::vector<int> track;
    for (std::uint32_t n = 1; n <= length; ++n) {
      track.push_back(static_cast<int>((n * 2654435761u + channel * 97u) << (32 - bits)) >> (32 - bits));
    }
    WriteWav(name, track, 48000);
    return track;
  }
};

}  // namespace sondrel::test
