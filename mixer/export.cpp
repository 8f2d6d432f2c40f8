#include "mixer/export.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/file_io.h"
#include "core/list_text.h"
#include "wavfile/wav_format.h"

namespace sondrel {

namespace {

constexpr std::size_t kStereoFrameBytes = 2 * kTrackBytesPerSample;
// What an export file's name carries until the file is complete.
constexpr const char* kUnfinishedSuffix = ".part";

std::size_t SampleBytes(std::int64_t samples) { return static_cast<std::size_t>(samples) * kTrackBytesPerSample; }

// ------------------------------------------------------------ the tracks

// A playlist line belongs to a channel only up to the channel slots in use.
int ChannelSlots(const SessionState& s, const ListLines& lines) {
  return std::min({lines.count, s.tracks, kMaxChannels});
}

// Every line up to the 256 channel slots is checked, so a bad file is told
// even on a line beyond the tracks in use; only those take part.
void CheckTracks(const SessionState& s, ExportTracks& tracks, UserDialog& dialog) {
  const ListLines lines = SplitListLines(tracks.listText);
  for (int k = 0; k < std::min(lines.count, kMaxChannels); ++k) {
    if (IsSkipLine(lines.lines[k])) continue;
    const std::string path(lines.lines[k]);
    const std::optional<TrackInfo> track = CheckPlayableTrack(path.c_str(), dialog, s.sampleRate);
    if (!track || k >= ChannelSlots(s, lines)) continue;
    tracks.flags[k] = 1;
    tracks.dataOffset[k] = track->dataOffsetBytes;
    tracks.length[k] = track->lengthSamples;
  }
}

using TrackFiles = std::array<FilePtr, kMaxChannels>;

// Opens every track that takes part and lists its channel number; a track
// that cannot be opened now is left out of the mix.
void OpenTracks(const SessionState& s, ExportTracks& tracks, TrackFiles& files, UserDialog& dialog) {
  const ListLines lines = SplitListLines(tracks.listText);
  dialog.Tell({NoticeKind::MixingChannelsStart});
  for (int k = 0; k < ChannelSlots(s, lines); ++k) {
    if (tracks.flags[k] != 1) continue;
    const std::string path(lines.lines[k]);
    files[k] = OpenFile(path.c_str(), "rb");
    if (!files[k]) {
      dialog.Tell({NoticeKind::MixingTrackUnopened, path});
      tracks.flags[k] = 0;
      continue;
    }
    dialog.Tell({NoticeKind::MixingChannel, {}, {}, 0, k + 1});
  }
  dialog.Tell({NoticeKind::MixingChannelsEnd});
}

// Fills `frames` samples of a track's chunk from `position` samples into the
// file. Whatever the file does not hold there (before its start, for a
// negative in point, or past its end) is silence, so a short track simply
// falls silent in the mix. One positioned read on the file's descriptor
// takes the whole chunk: no seek, and no stdio buffer to copy through.
void LoadTrackChunk(std::FILE* file, std::int64_t dataOffset, std::int64_t length, std::int64_t position, int frames,
                    std::uint8_t* chunk) {
  const std::int64_t first = std::max<std::int64_t>(position, 0);
  const std::int64_t end = std::min<std::int64_t>(position + frames, length);
  std::size_t lead = 0;
  std::size_t got = 0;
  if (end > first) {
    lead = SampleBytes(first - position);
    got = ReadUpTo(fileno(file), dataOffset + static_cast<std::int64_t>(SampleBytes(first)), chunk + lead,
                   SampleBytes(end - first));
    // A file cut short mid-sample must not leave a sample half from disk.
    got -= got % kTrackBytesPerSample;
  }
  std::memset(chunk, 0, lead);
  std::memset(chunk + lead + got, 0, SampleBytes(frames) - lead - got);
}

void LoadChunks(const ExportTracks& tracks, const TrackFiles& files, const ChunkPointers& chunks, std::int64_t position,
                int frames) {
  for (int k = 0; k < kMaxChannels; ++k) {
    if (tracks.flags[k] != 1) continue;
    LoadTrackChunk(files[k].get(), tracks.dataOffset[k], tracks.length[k], position, frames, chunks[k]);
  }
}

// Channels that take no part must not carry audio left from an earlier run.
void ClearChunks(const SessionState& s, const ChunkPointers& chunks) {
  for (int k = 0; k < std::min(s.tracks, kMaxChannels); ++k) {
    if (chunks[k] != nullptr) std::memset(chunks[k], 0, SampleBytes(kChunkFrames));
  }
}

// -------------------------------------------------------------- the mix

// Modes 0 to 2 send every track straight to the master pair; mode 3 sends
// them through their busses into it. Either way bus 1's level is the
// export's master level.
void MixChunk(const SessionState& s, const ExportTracks& tracks, const ChannelGains& gains, const ChunkPointers& chunks,
              int frames, MixPeaks& peaks, MixWorkspace& work) {
  const int channels = std::min(s.tracks, kMaxChannels);
  if (s.mixMode == 3) {
    MixMultiple(chunks, frames, channels, tracks.flags, gains, peaks, s.busActive, s.busChannels, s.tracks / 2,
                s.busGain, 3, work);
  } else {
    Mix(chunks, frames, channels, tracks.flags, gains, peaks, s.busGain[0], work);
  }
}

// ------------------------------------------------------- the mix files

// A mix file is written under a temporary name and renamed into place once
// complete: an export that fails leaves no truncated file behind and does
// not clobber an earlier mix (or a track) of the same name.
struct PendingMixFile {
  PendingMixFile() = default;
  PendingMixFile(const PendingMixFile&) = delete;
  PendingMixFile& operator=(const PendingMixFile&) = delete;
  // unlink, not remove: a directory squatting on the work file's name is
  // the user's, not ours to delete.
  ~PendingMixFile() {
    file.reset();
    if (!placed && !tempName.empty()) unlink(tempName.c_str());
  }

  std::string name;  // the name the user asked for
  std::string tempName;
  FilePtr file;
  bool placed = false;
};

struct MixFiles {
  std::array<PendingMixFile, 2> files;
  int count = 0;
};

bool CreateMixFile(const SessionState& s, std::string name, std::int64_t frames, std::uint32_t channels,
                   PendingMixFile& mix, UserDialog& dialog) {
  mix.name = std::move(name);
  mix.tempName = mix.name + kUnfinishedSuffix;
  IoResult created = CreateWavFile(mix.tempName.c_str(), s.sampleRate, kTrackBits, frames, channels);
  if (created) {
    mix.file = OpenFile(mix.tempName.c_str(), "ab");
    if (!mix.file) created = IoResult::FromErrno();
  }
  if (mix.file) return true;
  dialog.Tell({NoticeKind::MixFileNotCreated, mix.name, {}, created.error});
  return false;
}

bool CreateMixFiles(const SessionState& s, ExportLayout layout, std::string_view baseName, std::int64_t frames,
                    MixFiles& mix, UserDialog& dialog) {
  const std::vector<std::string> names = MixFileNames(layout, baseName);
  mix.count = static_cast<int>(names.size());
  const std::uint32_t channels = layout == ExportLayout::Interleaved ? 2 : 1;
  for (int i = 0; i < mix.count; ++i) {
    if (!CreateMixFile(s, names[i], frames, channels, mix.files[i], dialog)) return false;
  }
  return true;
}

bool Append(PendingMixFile& mix, const void* data, std::size_t bytes, UserDialog& dialog) {
  const IoResult written = WriteAll(mix.file.get(), data, bytes);
  if (!written) dialog.Tell({NoticeKind::MixFileWriteFailed, mix.name, {}, written.error});
  return written.ok;
}

// An interleaved frame is the left sample's 3 bytes, then the right's. Each
// sample moves as one 4-byte load and store; the extra byte stored lands
// where the next sample goes and is overwritten by it. The last frame moves
// exactly its 6 bytes, so nothing past either chunk or the output is touched.
void Interleave(const std::uint8_t* left, const std::uint8_t* right, int frames, std::uint8_t* out) {
  int i = 0;
  for (; i + 1 < frames; ++i) {
    std::uint32_t l = 0;
    std::uint32_t r = 0;
    std::memcpy(&l, left + kTrackBytesPerSample * i, sizeof l);
    std::memcpy(&r, right + kTrackBytesPerSample * i, sizeof r);
    std::memcpy(out + kStereoFrameBytes * i, &l, sizeof l);
    std::memcpy(out + kStereoFrameBytes * i + kTrackBytesPerSample, &r, sizeof r);
  }
  for (; i < frames; ++i) {
    std::memcpy(out + kStereoFrameBytes * i, left + kTrackBytesPerSample * i, kTrackBytesPerSample);
    std::memcpy(out + kStereoFrameBytes * i + kTrackBytesPerSample, right + kTrackBytesPerSample * i,
                kTrackBytesPerSample);
  }
}

bool WriteChunk(ExportLayout layout, const ChunkPointers& chunks, int frames, std::span<std::uint8_t> interleave,
                MixFiles& mix, UserDialog& dialog) {
  if (layout == ExportLayout::Split) {
    return Append(mix.files[0], chunks[0], SampleBytes(frames), dialog) &&
           Append(mix.files[1], chunks[1], SampleBytes(frames), dialog);
  }
  Interleave(chunks[0], chunks[1], frames, interleave.data());
  return Append(mix.files[0], interleave.data(), 2 * SampleBytes(frames), dialog);
}

// Every file is closed (the last buffered bytes can still fail to reach the
// disk) before any takes its name, so a failure renames nothing.
bool PlaceMixFiles(MixFiles& mix, UserDialog& dialog) {
  for (int i = 0; i < mix.count; ++i) {
    PendingMixFile& file = mix.files[i];
    if (const IoResult closed = CloseFile(file.file); !closed) {
      dialog.Tell({NoticeKind::MixFileCloseFailed, file.name, {}, closed.error});
      return false;
    }
  }
  for (int i = 0; i < mix.count; ++i) {
    PendingMixFile& file = mix.files[i];
    if (std::rename(file.tempName.c_str(), file.name.c_str()) != 0) {
      dialog.Tell({NoticeKind::MixFileNotNamed, file.name, {}, errno});
      return false;
    }
    file.placed = true;
  }
  return true;
}

}  // namespace

std::vector<std::string> MixFileNames(ExportLayout layout, std::string_view baseName) {
  if (baseName.ends_with(".wav")) baseName.remove_suffix(4);
  const std::string base(baseName);
  if (layout == ExportLayout::Interleaved) return {base + ".wav"};
  return {base + "_L.wav", base + "_R.wav"};
}

bool PrepareExport(SessionState& s, ChannelGains& gains, ExportTracks& tracks, UserDialog& dialog) {
  const char* playlist = s.playlistFiles[0].data();
  if (!ReadWholeFile(playlist, tracks.listText)) {
    dialog.Tell({NoticeKind::ExportPlaylistMissing, playlist});
    return false;
  }
  CheckTracks(s, tracks, dialog);
  ComputeChannelGains(s.channelPan, s.channelVolume, gains, s.tracks, tracks.flags, kGainScale, dialog);
  return true;
}

bool ExportMix(const SessionState& s, ExportLayout layout, std::string_view baseName, ExportTracks& tracks,
               const ChannelGains& gains, const ChunkPointers& chunks, MixWorkspace& work, MixPeaks& peaks,
               UserDialog& dialog) {
  const std::int64_t length = s.outPoint - s.inPoint;
  if (s.mixMode == 3) VerifyChannels(s.busChannels, tracks.flags);
  TrackFiles inputs;
  OpenTracks(s, tracks, inputs, dialog);
  MixFiles mix;
  if (!CreateMixFiles(s, layout, baseName, length, mix, dialog)) return false;
  std::vector<std::uint8_t> interleave(layout == ExportLayout::Interleaved ? kChunkFrames * kStereoFrameBytes : 0);
  ClearChunks(s, chunks);
  peaks = MixPeaks{};
  // The last chunk is cut at the out point: the files hold exactly the
  // frames their headers declare, and nothing after the out point reaches
  // the files or the peaks.
  for (std::int64_t done = 0; done < length; done += kChunkFrames) {
    const int frames = static_cast<int>(std::min<std::int64_t>(kChunkFrames, length - done));
    LoadChunks(tracks, inputs, chunks, s.inPoint + done, frames);
    MixChunk(s, tracks, gains, chunks, frames, peaks, work);
    if (!WriteChunk(layout, chunks, frames, interleave, mix, dialog)) return false;
    dialog.Tell({NoticeKind::ExportProgress, {}, {}, 0, done, length});
  }
  return PlaceMixFiles(mix, dialog);
}

void RemoveCutOffExports(UserDialog& dialog) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(".", error)) {
    const std::string name = entry.path().filename().string();
    if (!name.ends_with(std::string(".wav") + kUnfinishedSuffix) || !entry.is_regular_file(error)) continue;
    if (::unlink(name.c_str()) == 0) dialog.Tell({NoticeKind::CutOffExportRemoved, name});
  }
}

}  // namespace sondrel
