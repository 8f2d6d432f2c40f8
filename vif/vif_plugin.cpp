// A virtual multichannel audio interface for ALSA, loaded by libasound as an
// external I/O plugin. Output k is wired to input k through a cable of a
// fixed latency, so a recorder can be checked sample by sample on a machine
// without a sound card: what it recorded must be what it played, shifted by
// exactly the latency the recorder believes in.
//
// Playback and capture are opened as two PCMs on the same device name. They
// meet in a shared memory file (named by the configuration) that holds the
// device clock, the playback FIFO and the "wire": one sample per channel per
// clock tick, what the outputs carried at that tick.
//
// The clock counts frames. In paced mode it follows the monotonic clock at
// the stream rate, like real hardware. In unpaced mode it stands still until
// a stream has to wait, and then moves exactly as far as that stream needs,
// so test runs are fast and every run of the same program is identical.
//
// An xrun can be injected at chosen frame positions: the stream behaves as if
// the program had been exactly one period late. The period is lost, the next
// transfer fails with -EPIPE, and once the program prepares the stream again
// it resumes on the same clock one period later (the frames already queued
// for the outputs still play). A program that handles xruns by counting the
// lost period as transferred keeps every later sample on its timeline.
//
// A stream whose stop threshold is the boundary runs free, as a card does:
// an xrun never stops it. The clock goes on, the outputs carry silence where
// nothing was written, unread input is overwritten, and the pointer follows
// the clock, so the program sees more than a buffer available. It then
// forwards the stream by the excess and goes on: transfers follow ALSA's
// application pointer, so every later frame lands at the tick the program's
// own count names.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kBytesPerSample = 3;
constexpr int kMaxChannels = 256;
// Each channel has its own stretch of the shared file; a device that is
// asked for fewer keeps the file small.
constexpr int kDefaultChannels = 32;
// The device buffer is at most this long (four periods of 4096 frames) for
// a stream of the configured channel count. The FIFO holds three buffers:
// after an injected xrun a resuming stream queues a whole buffer behind the
// lost period and the frames still playing. ALSA lets a plugin limit only
// the bytes of a buffer, so a stream of fewer channels may ask for a longer
// one; it gets it, as on a card whose buffer memory is counted in bytes (see
// SplitFifo and SplitWire).
constexpr std::int64_t kMaxBufferFrames = 16384;
constexpr std::int64_t kFifoFrames = 3 * kMaxBufferFrames;
constexpr std::uint64_t kMagic = 0x3246495644'4e4f53ULL;  // "SONDVIF2"
constexpr std::size_t kHeaderBytes = 4096;

// ------------------------------------------------------------ configuration

struct Config {
  std::string file;          // the shared memory file
  std::int64_t latency = 0;  // cable delay, frames
  bool paced = false;
  int channels = kDefaultChannels;
  std::vector<std::int64_t> playbackXruns;
  std::vector<std::int64_t> captureXruns;
  std::vector<std::int64_t> playbackSlips;
  std::vector<std::int64_t> captureSlips;
  std::int64_t freeze = -1;  // stream position from which each stream stops for good (-1: never)
  std::int64_t freezeCapture = -1;  // the same for the capture alone
  std::string playbackFile;  // raw S24_3LE copy of everything written
  int gain = 1;              // what the inputs multiply the wire by, clipping at full scale
};

int ReadInteger(snd_config_t* node, std::int64_t& value) {
  long long v = 0;
  long small = 0;
  if (snd_config_get_integer64(node, &v) == 0) {
    value = v;
    return 0;
  }
  if (snd_config_get_integer(node, &small) == 0) {
    value = small;
    return 0;
  }
  const char* text = nullptr;
  if (snd_config_get_string(node, &text) == 0 && text != nullptr) {
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text, &end, 0);
    if (errno == 0 && end != text && *end == '\0') {
      value = parsed;
      return 0;
    }
  }
  return -EINVAL;
}

// A position list is either one number or a compound of numbers.
int ReadPositions(snd_config_t* node, std::vector<std::int64_t>& positions) {
  if (snd_config_get_type(node) != SND_CONFIG_TYPE_COMPOUND) {
    std::int64_t v = 0;
    if (ReadInteger(node, v) < 0) return -EINVAL;
    positions.push_back(v);
  } else {
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, node) {
      std::int64_t v = 0;
      if (ReadInteger(snd_config_iterator_entry(i), v) < 0) return -EINVAL;
      positions.push_back(v);
    }
  }
  std::sort(positions.begin(), positions.end());
  return 0;
}

int ReadString(snd_config_t* node, std::string& out) {
  const char* text = nullptr;
  if (snd_config_get_string(node, &text) < 0 || text == nullptr) return -EINVAL;
  out = text;
  return 0;
}

int ReadEntry(snd_config_t* node, const std::string& key, Config& config) {
  std::int64_t number = 0;
  if (key == "file") return ReadString(node, config.file);
  if (key == "playback_file") return ReadString(node, config.playbackFile);
  if (key == "xrun_playback") return ReadPositions(node, config.playbackXruns);
  if (key == "xrun_capture") return ReadPositions(node, config.captureXruns);
  if (key == "slip_playback") return ReadPositions(node, config.playbackSlips);
  if (key == "slip_capture") return ReadPositions(node, config.captureSlips);
  if (key == "paced") {
    const int b = snd_config_get_bool(node);
    if (b < 0) return b;
    config.paced = b != 0;
    return 0;
  }
  if (key == "freeze" || key == "freeze_capture") {
    if (ReadInteger(node, number) < 0 || number < 0) return -EINVAL;
    (key == "freeze" ? config.freeze : config.freezeCapture) = number;
    return 0;
  }
  if (key == "latency") {
    if (ReadInteger(node, number) < 0 || number < 0 || number > (1 << 24)) return -EINVAL;
    config.latency = number;
    return 0;
  }
  if (key == "gain") {
    if (ReadInteger(node, number) < 0 || number < 1 || number > 256) return -EINVAL;
    config.gain = static_cast<int>(number);
    return 0;
  }
  if (key == "channels") {
    if (ReadInteger(node, number) < 0 || number < 1 || number > kMaxChannels) return -EINVAL;
    config.channels = static_cast<int>(number);
    return 0;
  }
  return -EINVAL;
}

int ParseConfig(snd_config_t* conf, Config& config) {
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* node = snd_config_iterator_entry(i);
    const char* id = nullptr;
    if (snd_config_get_id(node, &id) < 0) continue;
    const std::string key = id;
    if (key == "comment" || key == "type" || key == "hint") continue;
    if (ReadEntry(node, key, config) < 0) {
      SNDERR("sondrel_vif: bad or unknown setting %s", key.c_str());
      return -EINVAL;
    }
  }
  if (config.file.empty()) {
    SNDERR("sondrel_vif: the setting 'file' (shared memory file) is required");
    return -EINVAL;
  }
  return 0;
}

// ------------------------------------------------------------ shared state

// The outputs: device frame index i is heard at clock tick anchor + i.
// Indices count on across prepares, so an injected xrun can skip one period
// without moving the stream on the clock.
struct PlaybackLine {
  std::int64_t anchor;
  std::int64_t written;  // next index the program writes
  std::int64_t played;   // frames below this index are played or discarded
  std::int64_t base;     // index of ALSA position 0 since the last prepare
  std::int64_t fifoFrames;  // the length of each output's FIFO ring
  std::int32_t open;
  std::int32_t channels;
  std::int32_t sounding;     // the FIFO is being played out
  std::int32_t underrun;     // the FIFO ran dry while running
  std::int32_t lostPeriod;   // an injected xrun waits for the program to prepare
  std::int32_t draining;
  std::int32_t freeRunning;  // no underrun: the outputs go on with silence
  std::int32_t padding;
};

// The inputs: device frame index j holds what the wire carried at clock tick
// anchor + j - latency.
struct CaptureLine {
  std::int64_t anchor;
  std::int64_t read;  // next index the program reads
  std::int64_t base;
  std::int32_t open;
  std::int32_t channels;
  std::int32_t capturing;
  std::int32_t overrun;
  std::int32_t lostPeriod;
  std::int32_t freeRunning;  // no overrun: unread frames are overwritten
};

struct SharedHeader {
  std::uint64_t magic;
  std::int64_t channels;
  std::int64_t latency;
  std::int64_t wireFrames;  // the length of each ring of the wire
  std::int64_t wireRings;   // how many channels the wire holds (see SplitWire)
  std::int64_t now;         // the device clock, frames
  std::int64_t epochNs;
  std::int64_t rate;
  std::int64_t wireChannels;  // channels the outputs ever carried
  pthread_mutex_t mutex;
  PlaybackLine play;
  CaptureLine capture;
};
static_assert(sizeof(SharedHeader) <= kHeaderBytes);

std::int64_t WireFramesFor(std::int64_t latency) {
  // The wire must still hold what the oldest unread input frame needs.
  std::int64_t frames = 1;
  while (frames < latency + 2 * kMaxBufferFrames) frames *= 2;
  return frames;
}

std::int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Zeroes the whole file (silence on the wire) and gives it `size` bytes. A
// file left by an earlier program is emptied by punching a hole, not by
// truncating it to nothing: some file systems write a file truncated to
// nothing back to disk on close, which makes deleting it slow.
int StartAfresh(int fd, std::size_t size) {
  struct stat st{};
  if (fstat(fd, &st) < 0) return -errno;
  if (st.st_size > 0 && fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, st.st_size) < 0 &&
      ftruncate(fd, 0) < 0) {
    return -errno;
  }
  if (ftruncate(fd, static_cast<off_t>(size)) < 0) return -errno;
  return 0;
}

// The mapped shared memory file. Every open PCM holds a shared flock on it;
// the first one to find no other holder starts the device afresh, so state
// left by a crashed program never leaks into the next one.
class SharedFile {
 public:
  SharedFile() = default;
  SharedFile(const SharedFile&) = delete;
  SharedFile& operator=(const SharedFile&) = delete;
  ~SharedFile() {
    if (map_ != nullptr) munmap(map_, size_);
  }

  int Open(const Config& config) {
    fd_.reset(::open(config.file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (fd_.get() < 0) return -errno;
    const std::int64_t wire = WireFramesFor(config.latency);
    size_ = kHeaderBytes + static_cast<std::size_t>(config.channels) * static_cast<std::size_t>(kFifoFrames + wire) *
                               kBytesPerSample;
    const bool alone = flock(fd_.get(), LOCK_EX | LOCK_NB) == 0;
    if (alone) {
      const int err = StartAfresh(fd_.get(), size_);
      if (err < 0) return err;
    }
    if (flock(fd_.get(), LOCK_SH) < 0) return -errno;
    struct stat st{};
    if (fstat(fd_.get(), &st) < 0) return -errno;
    if (static_cast<std::size_t>(st.st_size) != size_) return -EINVAL;  // another program uses other settings
    void* map = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(), 0);
    if (map == MAP_FAILED) return -errno;
    map_ = static_cast<std::uint8_t*>(map);
    if (alone) return Initialise(config, wire);
    const SharedHeader& h = header();
    if (h.magic != kMagic || h.channels != config.channels || h.latency != config.latency) return -EINVAL;
    return 0;
  }

  SharedHeader& header() const { return *reinterpret_cast<SharedHeader*>(map_); }
  std::uint8_t* fifo(int channel) const {
    return map_ + kHeaderBytes +
           static_cast<std::size_t>(channel) * static_cast<std::size_t>(header().play.fifoFrames) * kBytesPerSample;
  }
  std::uint8_t* wire(int channel) const {
    const SharedHeader& h = header();
    return map_ + kHeaderBytes + static_cast<std::size_t>(h.channels) * kFifoFrames * kBytesPerSample +
           static_cast<std::size_t>(channel) * static_cast<std::size_t>(h.wireFrames) * kBytesPerSample;
  }

 private:
  int Initialise(const Config& config, std::int64_t wire) {
    SharedHeader& h = header();
    h.channels = config.channels;
    h.latency = config.latency;
    h.wireFrames = wire;
    h.wireRings = config.channels;
    h.play.fifoFrames = kFifoFrames;
    h.epochNs = MonotonicNs();
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    const int err = pthread_mutex_init(&h.mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (err != 0) return -err;
    h.magic = kMagic;
    return 0;
  }

  UniqueFd fd_;
  std::uint8_t* map_ = nullptr;
  std::size_t size_ = 0;
};

class SharedLock {
 public:
  explicit SharedLock(SharedHeader& h) : mutex_(&h.mutex) {
    // A program that died holding the lock left the state consistent enough
    // for a test device: take it over.
    if (pthread_mutex_lock(mutex_) == EOWNERDEAD) pthread_mutex_consistent(mutex_);
  }
  SharedLock(const SharedLock&) = delete;
  SharedLock& operator=(const SharedLock&) = delete;
  ~SharedLock() { pthread_mutex_unlock(mutex_); }

 private:
  pthread_mutex_t* mutex_;
};

// ------------------------------------------------------------------ device

struct Vif {
  snd_pcm_ioplug_t io{};
  Config config;
  SharedFile shared;
  UniqueFd timer;  // the poll descriptor
  UniqueFd rawOut;
  std::vector<std::uint8_t> rawBuffer;
  std::vector<std::int64_t> xruns;  // positions still to inject, ascending
  std::size_t nextXrun = 0;
  std::vector<std::int64_t> slips;  // positions at which the stream silently falls a period behind
  std::size_t nextSlip = 0;
  std::int64_t reportedPointer = 0;  // playback: the pointer never goes back, whatever the clock says
  snd_pcm_sframes_t frozenPointer = -1;  // where a frozen stream's pointer stands
  std::int64_t openIndex = 0;  // the stream's frame index when it was opened
  bool claimed = false;          // this PCM holds its stream of the device
  snd_pcm_uframes_t boundary = 0;
  snd_pcm_uframes_t availMin = 1;

  bool playback() const { return io.stream == SND_PCM_STREAM_PLAYBACK; }
  SharedHeader& h() const { return shared.header(); }
  std::int64_t period() const { return static_cast<std::int64_t>(io.period_size); }
  std::int64_t buffer() const { return static_cast<std::int64_t>(io.buffer_size); }
};

Vif& VifOf(snd_pcm_ioplug_t* io) { return *static_cast<Vif*>(io->private_data); }

// Copies `frames` samples of one channel between two rings, splitting at
// either ring's end.
void CopyRing(std::uint8_t* dst, std::int64_t dstPos, std::int64_t dstSize, const std::uint8_t* src, std::int64_t srcPos,
              std::int64_t srcSize, std::int64_t frames) {
  while (frames > 0) {
    const std::int64_t d = dstPos % dstSize;
    const std::int64_t s = srcPos % srcSize;
    const std::int64_t n = std::min({frames, dstSize - d, srcSize - s});
    std::memcpy(dst + d * kBytesPerSample, src + s * kBytesPerSample, static_cast<std::size_t>(n) * kBytesPerSample);
    dstPos += n;
    srcPos += n;
    frames -= n;
  }
}

void ZeroRing(std::uint8_t* dst, std::int64_t pos, std::int64_t size, std::int64_t frames) {
  while (frames > 0) {
    const std::int64_t d = pos % size;
    const std::int64_t n = std::min(frames, size - d);
    std::memset(dst + d * kBytesPerSample, 0, static_cast<std::size_t>(n) * kBytesPerSample);
    pos += n;
    frames -= n;
  }
}

// Moves the clock to `to`: the outputs put what the FIFO holds for each tick
// on the wire, or silence where it holds nothing. Only the channels an input
// can read are kept on the wire.
void Advance(const SharedFile& shared, std::int64_t to) {
  SharedHeader& h = shared.header();
  if (to <= h.now) return;
  const std::int64_t from = std::max(h.now, to - h.wireFrames);  // older ticks are overwritten anyway
  PlaybackLine& p = h.play;
  std::int64_t soundFrom = to;
  std::int64_t soundTo = to;
  if (p.sounding) {
    soundFrom = std::clamp(p.anchor + p.played, from, to);
    soundTo = std::clamp(p.anchor + p.written, soundFrom, to);
  }
  for (int k = 0; k < std::min(h.wireChannels, h.wireRings); ++k) {
    std::uint8_t* wire = shared.wire(k);
    ZeroRing(wire, from, h.wireFrames, soundFrom - from);
    if (k < p.channels) {
      CopyRing(wire, soundFrom, h.wireFrames, shared.fifo(k), soundFrom - p.anchor, p.fifoFrames, soundTo - soundFrom);
    } else {
      ZeroRing(wire, soundFrom, h.wireFrames, soundTo - soundFrom);
    }
    ZeroRing(wire, soundTo, h.wireFrames, to - soundTo);
  }
  const std::int64_t heard = to - p.anchor;  // the stream's frames the outputs have passed
  if (p.sounding && p.freeRunning) {
    // Nothing stops a free-running stream: frames written after their tick
    // has passed come too late to be heard.
    p.played = std::max(p.played, heard);
  } else if (p.sounding) {
    p.played = std::max(p.played, std::min(heard, p.written));
    if (heard >= p.written && !p.draining) {
      // The FIFO ran dry: a real underrun.
      p.sounding = 0;
      p.underrun = 1;
    }
  }
  h.now = to;
}

std::int64_t PacedNow(const SharedHeader& h) {
  const std::int64_t rate = h.rate > 0 ? h.rate : 48000;
  const __int128 elapsed = MonotonicNs() - h.epochNs;
  return static_cast<std::int64_t>(elapsed * rate / 1000000000);
}

// In paced mode time has passed since the last call: catch up.
void CatchUp(Vif& vif) {
  if (vif.config.paced) Advance(vif.shared, PacedNow(vif.h()));
}

bool Active(const Vif& vif) {
  return vif.io.state == SND_PCM_STATE_RUNNING || vif.io.state == SND_PCM_STATE_PREPARED;
}

std::int64_t Boundary(const Vif& vif) {
  return static_cast<std::int64_t>(vif.boundary > 0 ? vif.boundary : (1ULL << 62));
}

// A forward (or a rewind) moves ALSA's application pointer without a
// transfer. The stream follows it and keeps its place on the clock, so the
// next transfer lands at the tick the pointer names: playback frames skipped
// that way are silence, capture frames skipped are never read. The pointer
// counts from the last prepare and wraps at the boundary.
void FollowApplPointer(Vif& vif) {
  // Before this stream's first prepare (and within a prepare, which has
  // already reset it) the pointer names no position of ours.
  if (!Active(vif)) return;
  SharedHeader& h = vif.h();
  PlaybackLine& p = h.play;
  std::int64_t& index = vif.playback() ? p.written : h.capture.read;
  const std::int64_t boundary = Boundary(vif);
  const std::int64_t since = (index - (vif.playback() ? p.base : h.capture.base)) % boundary;
  std::int64_t moved = static_cast<std::int64_t>(vif.io.appl_ptr % static_cast<snd_pcm_uframes_t>(boundary)) - since;
  if (moved > boundary / 2) moved -= boundary;
  if (moved < -boundary / 2) moved += boundary;
  if (vif.playback() && moved > 0) {
    // Whatever the FIFO held there before must not sound again.
    const std::int64_t from = std::max(p.written, p.played);
    const std::int64_t frames = std::min(p.written + moved - from, p.fifoFrames);
    for (int k = 0; k < p.channels; ++k) ZeroRing(vif.shared.fifo(k), from, p.fifoFrames, frames);
  }
  index += moved;
}

// Every callback first takes in what the program did since the last one and
// the time that passed.
void Sync(Vif& vif) {
  FollowApplPointer(vif);
  CatchUp(vif);
}

// Frames of the stream since it was opened, lost periods included: the
// position on the program's own timeline when it counts a lost period as
// moved.
std::int64_t StreamPosition(const Vif& vif) {
  const SharedHeader& h = vif.h();
  return (vif.playback() ? h.play.written : h.capture.read) - vif.openIndex;
}

// True when the program is about to transfer at or past the next injection
// point.
bool InjectionDue(Vif& vif) {
  return Active(vif) && vif.nextXrun < vif.xruns.size() && StreamPosition(vif) >= vif.xruns[vif.nextXrun];
}

int& LostPeriod(Vif& vif) { return vif.playback() ? vif.h().play.lostPeriod : vif.h().capture.lostPeriod; }

// A slip makes the stream fall one period behind the clock with nothing
// reported, as a sound server does when it leaves one stream out of a
// cycle: playback sounds a period later from there on (the wire carries a
// period of silence), capture never gets the period the wire carried.
bool SlipDue(const Vif& vif) {
  return vif.nextSlip < vif.slips.size() && StreamPosition(vif) >= vif.slips[vif.nextSlip];
}

void TakeSlip(Vif& vif, std::int64_t& anchor) {
  anchor += vif.period();
  ++vif.nextSlip;
}

// A frozen stream is a device that went away without a word, as a sound
// server does when it is killed, or as one client of a stuck server: its
// pointer stands still, and nothing ever wakes a program waiting on it.
bool Frozen(const Vif& vif) {
  std::int64_t from = vif.config.freeze;
  if (!vif.playback() && vif.config.freezeCapture >= 0) {
    from = from < 0 ? vif.config.freezeCapture : std::min(from, vif.config.freezeCapture);
  }
  return from >= 0 && Active(vif) && StreamPosition(vif) >= from;
}

snd_pcm_sframes_t Wrap(const Vif& vif, std::int64_t position) {
  return static_cast<snd_pcm_sframes_t>(position % Boundary(vif));
}

// ------------------------------------------------------------ the pointer

snd_pcm_sframes_t PlaybackPointer(Vif& vif) {
  SharedHeader& h = vif.h();
  PlaybackLine& p = h.play;
  if (p.underrun && vif.io.state == SND_PCM_STATE_RUNNING) return -EPIPE;
  if (!p.sounding) return Wrap(vif, std::max<std::int64_t>(0, p.played - p.base));
  // A free-running stream's pointer follows the clock past what was written.
  const std::int64_t end = p.freeRunning ? std::numeric_limits<std::int64_t>::max() : p.written;
  // After a slip the clock catches up with the pointer before it moves on.
  vif.reportedPointer = std::max(vif.reportedPointer, std::clamp(h.now - p.anchor, p.base, end) - p.base);
  return Wrap(vif, vif.reportedPointer);
}

snd_pcm_sframes_t CapturePointer(Vif& vif) {
  SharedHeader& h = vif.h();
  CaptureLine& c = h.capture;
  if (c.overrun && vif.io.state == SND_PCM_STATE_RUNNING) return -EPIPE;
  if (!c.capturing) return Wrap(vif, c.read - c.base);
  // A free-running capture goes on when the program falls behind: the wire
  // keeps what it has not read for a while, and the pointer says how far.
  const std::int64_t avail = h.now - c.anchor - c.read;
  if (vif.io.state == SND_PCM_STATE_RUNNING && avail >= vif.buffer() && !c.freeRunning) {
    // The program did not read in time: a real overrun.
    c.overrun = 1;
    c.capturing = 0;
    return -EPIPE;
  }
  return Wrap(vif, c.read - c.base + std::max<std::int64_t>(0, avail));
}

snd_pcm_sframes_t VifPointer(snd_pcm_ioplug_t* io) {
  Vif& vif = VifOf(io);
  SharedLock lock(vif.h());
  Sync(vif);
  if (Frozen(vif)) {
    if (vif.frozenPointer < 0) vif.frozenPointer = vif.playback() ? PlaybackPointer(vif) : CapturePointer(vif);
    return vif.frozenPointer;
  }
  if (LostPeriod(vif)) return -EPIPE;
  if (InjectionDue(vif)) {
    ++vif.nextXrun;
    LostPeriod(vif) = 1;
    return -EPIPE;
  }
  return vif.playback() ? PlaybackPointer(vif) : CapturePointer(vif);
}

// ------------------------------------------------------------ transfers

std::uint8_t* FrameAddress(const snd_pcm_channel_area_t& area, snd_pcm_uframes_t frame) {
  return static_cast<std::uint8_t*>(area.addr) + (area.first + area.step * frame) / 8;
}

bool Packed(const snd_pcm_channel_area_t& area) { return area.step == 8 * kBytesPerSample && area.first % 8 == 0; }

// Appends what the program wrote, interleaved, to the raw playback file.
void KeepRawCopy(Vif& vif, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
  if (vif.rawOut.get() < 0) return;
  const unsigned channels = vif.io.channels;
  vif.rawBuffer.resize(static_cast<std::size_t>(size) * channels * kBytesPerSample);
  std::uint8_t* out = vif.rawBuffer.data();
  for (snd_pcm_uframes_t i = 0; i < size; ++i) {
    for (unsigned k = 0; k < channels; ++k) {
      if (areas[k].addr == nullptr) {
        std::memset(out, 0, kBytesPerSample);
      } else {
        std::memcpy(out, FrameAddress(areas[k], offset + i), kBytesPerSample);
      }
      out += kBytesPerSample;
    }
  }
  std::size_t done = 0;
  while (done < vif.rawBuffer.size()) {
    const ssize_t n = ::write(vif.rawOut.get(), vif.rawBuffer.data() + done, vif.rawBuffer.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
}

// Queues the frames at the stream's index, which follows ALSA's application
// pointer (see FollowApplPointer). Frames whose tick has passed are queued
// too, but below the played index, where they never sound.
snd_pcm_sframes_t WritePlayback(Vif& vif, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                                snd_pcm_uframes_t size) {
  SharedHeader& h = vif.h();
  PlaybackLine& p = h.play;
  const auto frames = static_cast<std::int64_t>(size);
  for (unsigned k = 0; k < vif.io.channels; ++k) {
    std::uint8_t* fifo = vif.shared.fifo(static_cast<int>(k));
    if (areas[k].addr == nullptr) {
      // The ALSA API lets a program pass no buffer for a channel: silence.
      ZeroRing(fifo, p.written, p.fifoFrames, frames);
    } else if (Packed(areas[k])) {
      CopyRing(fifo, p.written, p.fifoFrames, FrameAddress(areas[k], offset), 0, frames, frames);
    } else {
      for (std::int64_t i = 0; i < frames; ++i) {
        std::memcpy(fifo + ((p.written + i) % p.fifoFrames) * kBytesPerSample,
                    FrameAddress(areas[k], offset + static_cast<snd_pcm_uframes_t>(i)), kBytesPerSample);
      }
    }
  }
  p.written += frames;
  if (p.sounding && SlipDue(vif)) TakeSlip(vif, p.anchor);
  h.wireChannels = std::max<std::int64_t>(h.wireChannels, vif.io.channels);
  KeepRawCopy(vif, areas, offset, size);
  return static_cast<snd_pcm_sframes_t>(size);
}

// Fills `frames` frames of one input with the wire from clock tick `tick` on.
// The wire holds ticks up to (not including) the clock and at most one wire
// length back; anything else is silence.
void ReadWire(const Vif& vif, int channel, std::int64_t tick, std::int64_t frames, const snd_pcm_channel_area_t& area,
              snd_pcm_uframes_t offset) {
  const SharedHeader& h = vif.h();
  const std::uint8_t* wire = channel < std::min(h.wireChannels, h.wireRings) ? vif.shared.wire(channel) : nullptr;
  const std::int64_t oldest = std::max<std::int64_t>(0, h.now - h.wireFrames);
  const std::int64_t from = wire == nullptr ? tick : std::clamp(oldest, tick, tick + frames);
  const std::int64_t to = wire == nullptr ? tick : std::clamp(h.now, from, tick + frames);
  if (Packed(area) && to > from) {
    std::uint8_t* dst = FrameAddress(area, offset);
    std::memset(dst, 0, static_cast<std::size_t>(from - tick) * kBytesPerSample);
    CopyRing(dst + (from - tick) * kBytesPerSample, 0, to - from, wire, from, h.wireFrames, to - from);
    std::memset(dst + (to - tick) * kBytesPerSample, 0, static_cast<std::size_t>(tick + frames - to) * kBytesPerSample);
    return;
  }
  for (std::int64_t i = 0; i < frames; ++i) {
    std::uint8_t* dst = FrameAddress(area, offset + static_cast<snd_pcm_uframes_t>(i));
    const std::int64_t t = tick + i;
    if (t >= from && t < to) {
      std::memcpy(dst, wire + (t % h.wireFrames) * kBytesPerSample, kBytesPerSample);
    } else {
      std::memset(dst, 0, kBytesPerSample);
    }
  }
}

// An input's gain turned up: the wire's samples multiplied, clipping at
// full scale as a converter does.
void AmplifyInput(int gain, std::int64_t frames, const snd_pcm_channel_area_t& area, snd_pcm_uframes_t offset) {
  for (std::int64_t i = 0; i < frames; ++i) {
    std::uint8_t* p = FrameAddress(area, offset + static_cast<snd_pcm_uframes_t>(i));
    const std::int32_t sample = static_cast<std::int32_t>((std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                                            std::uint32_t{p[2]} << 16) << 8) >> 8;
    const auto loud = static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{sample} * gain, -8388608, 8388607));
    p[0] = static_cast<std::uint8_t>(loud);
    p[1] = static_cast<std::uint8_t>(loud >> 8);
    p[2] = static_cast<std::uint8_t>(loud >> 16);
  }
}

snd_pcm_sframes_t ReadCapture(Vif& vif, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                              snd_pcm_uframes_t size) {
  CaptureLine& c = vif.h().capture;
  const auto frames = static_cast<std::int64_t>(size);
  const std::int64_t tick = c.anchor + c.read - vif.config.latency;
  for (unsigned k = 0; k < vif.io.channels; ++k) {
    // No buffer for a channel (as the ALSA API allows): its frames are dropped.
    if (areas[k].addr == nullptr) continue;
    ReadWire(vif, static_cast<int>(k), tick, frames, areas[k], offset);
    if (vif.config.gain != 1) AmplifyInput(vif.config.gain, frames, areas[k], offset);
  }
  c.read += frames;
  // A capture slips once the program has read all it had, so that its
  // pointer never goes back.
  if (c.capturing && SlipDue(vif) && vif.h().now - c.anchor - c.read <= 0) TakeSlip(vif, c.anchor);
  return static_cast<snd_pcm_sframes_t>(size);
}

snd_pcm_sframes_t VifTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                              snd_pcm_uframes_t size) {
  Vif& vif = VifOf(io);
  SharedLock lock(vif.h());
  Sync(vif);
  return vif.playback() ? WritePlayback(vif, areas, offset, size) : ReadCapture(vif, areas, offset, size);
}

// ------------------------------------------------------------ waiting

constexpr std::int64_t kNever = -1;
constexpr std::int64_t kNow = 0;

// The clock tick at which the stream can go on: kNow when it can already (or
// has an error to report), kNever when no passing of time will help.
std::int64_t ReadyTick(Vif& vif) {
  SharedHeader& h = vif.h();
  const auto availMin = static_cast<std::int64_t>(vif.availMin);
  // A stream stopped by an xrun wakes its waiter at once, as a card's does:
  // the program has to prepare it, and would otherwise wait for ever.
  if (Frozen(vif)) return kNever;
  if (LostPeriod(vif) || InjectionDue(vif) || vif.io.state == SND_PCM_STATE_XRUN) return kNow;
  if (vif.playback()) {
    const PlaybackLine& p = h.play;
    if (p.underrun && vif.io.state == SND_PCM_STATE_RUNNING) return kNow;
    const std::int64_t needPlayed = p.written - vif.buffer() + availMin;
    if (needPlayed <= p.base) return kNow;
    if (!p.sounding) return kNever;
    const std::int64_t tick = p.anchor + needPlayed;
    return h.now >= tick ? kNow : tick;
  }
  const CaptureLine& c = h.capture;
  if (c.overrun && vif.io.state == SND_PCM_STATE_RUNNING) return kNow;
  if (!c.capturing) return kNever;
  const std::int64_t tick = c.anchor + c.read + availMin;
  return h.now >= tick ? kNow : tick;
}

void ArmTimer(const Vif& vif, std::int64_t ns) {
  itimerspec when{};
  if (ns > 0) {
    when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000LL);
    when.it_value.tv_nsec = static_cast<long>(ns % 1000000000LL);
  }
  timerfd_settime(vif.timer.get(), 0, &when, nullptr);  // ns 0 disarms
}

// Sets the poll descriptor to become readable when the stream can go on.
// Unpaced streams never wait: the clock moves to them.
void ArmForReady(Vif& vif, std::int64_t tick) {
  if (tick == kNever) {
    ArmTimer(vif, 0);
  } else if (tick == kNow || !vif.config.paced) {
    ArmTimer(vif, 1);
  } else {
    const std::int64_t rate = vif.h().rate > 0 ? vif.h().rate : 48000;
    ArmTimer(vif, (tick - vif.h().now) * 1000000000LL / rate + 1000);
  }
}

// A poll begun earlier sleeps on the same descriptor, so whatever changes
// when the stream can go on (a start, a prepare, new software parameters)
// sets it again: a program waiting on a prepared stream that another thread
// starts, or the start threshold starts, wakes when it can go on.
void Rearm(Vif& vif) { ArmForReady(vif, ReadyTick(vif)); }

// ------------------------------------------------------------ state changes

int VifStart(snd_pcm_ioplug_t* io) {
  Vif& vif = VifOf(io);
  SharedLock lock(vif.h());
  Sync(vif);
  SharedHeader& h = vif.h();
  if (vif.playback()) {
    PlaybackLine& p = h.play;
    // A stream resuming after an injected xrun keeps its place on the clock.
    if (!p.sounding) {
      p.anchor = h.now - p.base;
      p.sounding = 1;
    }
    p.underrun = 0;
  } else {
    CaptureLine& c = h.capture;
    if (!c.capturing) {
      c.anchor = h.now - c.read;
      c.capturing = 1;
    }
    c.overrun = 0;
  }
  Rearm(vif);
  return 0;
}

int VifStop(snd_pcm_ioplug_t* io) {
  Vif& vif = VifOf(io);
  SharedLock lock(vif.h());
  Sync(vif);
  SharedHeader& h = vif.h();
  if (vif.playback()) {
    h.play.sounding = 0;
    h.play.played = h.play.written;
    h.play.draining = 0;
  } else {
    h.capture.capturing = 0;
  }
  return 0;
}

void PreparePlayback(Vif& vif) {
  PlaybackLine& p = vif.h().play;
  if (p.lostPeriod) {
    // The period the program never wrote is silence; what it wrote before
    // still plays.
    for (unsigned k = 0; k < vif.io.channels; ++k) {
      ZeroRing(vif.shared.fifo(static_cast<int>(k)), p.written, p.fifoFrames, vif.period());
    }
    p.written += vif.period();
    p.lostPeriod = 0;
    if (!p.sounding) p.played = p.written;
  } else {
    p.sounding = 0;
    p.underrun = 0;
    p.played = p.written;
  }
  p.base = p.written;
  p.draining = 0;
}

void PrepareCapture(Vif& vif) {
  CaptureLine& c = vif.h().capture;
  if (c.lostPeriod) {
    // The period the program did not read is gone; the next one follows it
    // on the same clock.
    c.read += vif.period();
    c.lostPeriod = 0;
  } else {
    c.capturing = 0;
    c.overrun = 0;
  }
  c.base = c.read;
}

int VifPrepare(snd_pcm_ioplug_t* io) {
  Vif& vif = VifOf(io);
  SharedLock lock(vif.h());
  CatchUp(vif);  // ALSA has already reset the application pointer
  vif.reportedPointer = 0;
  if (vif.playback()) {
    PreparePlayback(vif);
  } else {
    PrepareCapture(vif);
  }
  Rearm(vif);
  return 0;
}

void SleepFrames(std::int64_t frames, std::int64_t rate) {
  const std::int64_t ns = frames * 1000000000LL / std::max<std::int64_t>(rate, 1) + 1000;
  timespec ts{static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
  while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {
  }
}

// Plays out everything written. Capture has nothing to drain: it stops.
int VifDrain(snd_pcm_ioplug_t* io) {
  Vif& vif = VifOf(io);
  if (!vif.playback()) return 0;
  SharedHeader& h = vif.h();
  PlaybackLine& p = h.play;
  SharedLock lock(h);
  Sync(vif);
  if (!p.sounding && p.written > p.played) {
    p.anchor = h.now - p.played;
    p.sounding = 1;
  }
  if (!p.sounding) return 0;
  p.draining = 1;
  const std::int64_t end = p.anchor + p.written;
  if (vif.config.paced) {
    while (h.now < end) {
      const std::int64_t left = end - h.now;
      pthread_mutex_unlock(&h.mutex);
      SleepFrames(left, h.rate > 0 ? h.rate : 48000);
      if (pthread_mutex_lock(&h.mutex) == EOWNERDEAD) pthread_mutex_consistent(&h.mutex);
      Sync(vif);
    }
  } else {
    Advance(vif.shared, end);
  }
  p.sounding = 0;
  p.draining = 0;
  p.played = p.written;
  return 0;
}

// ------------------------------------------------------------ parameters

// The shared file gives each configured channel a FIFO ring of three longest
// buffers and a ring of the wire that keeps two of them past the latency. A
// stream with a longer buffer than that (it has fewer channels, see
// kMaxBufferFrames) splits the same memory among its own channels only:
// playback the FIFO, capture the wire, whose further channels no input
// reads. A stream within the usual length keeps the usual split.
std::int64_t Rings(const Vif& vif) {
  return vif.buffer() <= kMaxBufferFrames ? vif.config.channels : static_cast<std::int64_t>(vif.io.channels);
}

void SplitFifo(Vif& vif) {
  PlaybackLine& p = vif.h().play;
  const std::int64_t frames = kFifoFrames * vif.config.channels / Rings(vif);
  if (frames == p.fifoFrames) return;
  p.fifoFrames = frames;  // what the FIFO held is gone
  p.sounding = 0;
  p.played = p.written;
}

void SplitWire(Vif& vif) {
  SharedHeader& h = vif.h();
  const std::int64_t rings = Rings(vif);
  if (rings == h.wireRings) return;
  // What the wire carried is gone: the inputs hear silence before this.
  const std::int64_t frames = WireFramesFor(h.latency) * h.channels;
  std::memset(vif.shared.wire(0), 0, static_cast<std::size_t>(frames) * kBytesPerSample);
  h.wireFrames = frames / rings;
  h.wireRings = rings;
}

int VifHwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*) {
  Vif& vif = VifOf(io);
  if (io->channels > static_cast<unsigned>(vif.config.channels)) return -EINVAL;
  // ALSA has held the buffer's bytes to the limit; this only guards it.
  if (vif.buffer() * io->channels > kMaxBufferFrames * vif.config.channels) return -EINVAL;
  SharedLock lock(vif.h());
  SharedHeader& h = vif.h();
  if (h.rate == 0) h.rate = io->rate;
  if (vif.playback()) {
    SplitFifo(vif);
    h.play.channels = static_cast<std::int32_t>(io->channels);
  } else {
    SplitWire(vif);
    h.capture.channels = static_cast<std::int32_t>(io->channels);
  }
  return 0;
}

int VifSwParams(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params) {
  Vif& vif = VifOf(io);
  snd_pcm_sw_params_get_boundary(params, &vif.boundary);
  snd_pcm_uframes_t availMin = 1;
  if (snd_pcm_sw_params_get_avail_min(params, &availMin) == 0) vif.availMin = std::max<snd_pcm_uframes_t>(availMin, 1);
  // A program asks a card for a stream that no xrun stops by setting the
  // stop threshold to the boundary.
  snd_pcm_uframes_t stopThreshold = 0;
  snd_pcm_sw_params_get_stop_threshold(params, &stopThreshold);
  SharedLock lock(vif.h());
  (vif.playback() ? vif.h().play.freeRunning : vif.h().capture.freeRunning) = stopThreshold >= vif.boundary ? 1 : 0;
  Sync(vif);
  Rearm(vif);
  return 0;
}

// ------------------------------------------------------------ polling

int VifPollCount(snd_pcm_ioplug_t*) { return 1; }

int VifPollDescriptors(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int space) {
  if (space < 1) return 0;
  Vif& vif = VifOf(io);
  {
    SharedLock lock(vif.h());
    Sync(vif);
    ArmForReady(vif, ReadyTick(vif));
  }
  pfd->fd = vif.timer.get();
  pfd->events = POLLIN;
  pfd->revents = 0;
  return 1;
}

int VifPollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds, unsigned short* revents) {
  Vif& vif = VifOf(io);
  *revents = 0;
  if (nfds < 1 || (pfd->revents & POLLIN) == 0) return 0;
  std::uint64_t expirations = 0;
  [[maybe_unused]] const ssize_t ignored = ::read(vif.timer.get(), &expirations, sizeof expirations);
  SharedLock lock(vif.h());
  Sync(vif);
  std::int64_t tick = ReadyTick(vif);
  if (tick > kNow && !vif.config.paced) {
    Advance(vif.shared, tick);
    tick = kNow;
  }
  if (tick == kNow) {
    *revents = static_cast<unsigned short>((vif.playback() ? POLLOUT : POLLIN) |
                                           (vif.io.state == SND_PCM_STATE_XRUN ? POLLERR : 0));
  } else {
    ArmForReady(vif, tick);
  }
  return 0;
}

// ------------------------------------------------------------ open and close

void ReleaseStream(Vif& vif) {
  if (!vif.claimed) return;
  SharedLock lock(vif.h());
  (vif.io.stream == SND_PCM_STREAM_PLAYBACK ? vif.h().play.open : vif.h().capture.open) = 0;
  vif.claimed = false;
}

int VifClose(snd_pcm_ioplug_t* io) {
  std::unique_ptr<Vif> vif(static_cast<Vif*>(io->private_data));
  {
    SharedLock lock(vif->h());
    if (vif->playback()) {
      vif->h().play.sounding = 0;
    } else {
      vif->h().capture.capturing = 0;
    }
  }
  ReleaseStream(*vif);
  return 0;
}

const snd_pcm_ioplug_callback_t& Callbacks() {
  static const snd_pcm_ioplug_callback_t callbacks = [] {
    snd_pcm_ioplug_callback_t c{};
    c.start = VifStart;
    c.stop = VifStop;
    c.pointer = VifPointer;
    c.transfer = VifTransfer;
    c.close = VifClose;
    c.hw_params = VifHwParams;
    c.sw_params = VifSwParams;
    c.prepare = VifPrepare;
    c.drain = VifDrain;
    c.poll_descriptors_count = VifPollCount;
    c.poll_descriptors = VifPollDescriptors;
    c.poll_revents = VifPollRevents;
    return c;
  }();
  return callbacks;
}

// One playback and one capture stream per device, like a real interface.
int ClaimStream(Vif& vif) {
  SharedLock lock(vif.h());
  std::int32_t& open = vif.playback() ? vif.h().play.open : vif.h().capture.open;
  if (open) return -EBUSY;
  open = 1;
  vif.claimed = true;
  vif.openIndex = vif.playback() ? vif.h().play.written : vif.h().capture.read;
  return 0;
}

int SetConstraints(Vif& vif) {
  static const unsigned int access[] = {SND_PCM_ACCESS_RW_NONINTERLEAVED};
  static const unsigned int format[] = {SND_PCM_FORMAT_S24_3LE};
  snd_pcm_ioplug_t* io = &vif.io;
  int err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, access);
  if (err >= 0) err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, format);
  if (err >= 0) err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, vif.config.channels);
  if (err >= 0) err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 1000, 768000);
  if (err >= 0) err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024);
  if (err >= 0) {
    err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, kBytesPerSample * 2,
                                          static_cast<unsigned>(kMaxBufferFrames * kBytesPerSample * vif.config.channels));
  }
  return err;
}

int OpenDevice(Vif& vif, snd_pcm_stream_t stream) {
  vif.io.stream = stream;
  int err = vif.shared.Open(vif.config);
  if (err < 0) return err;
  err = ClaimStream(vif);
  if (err < 0) return err;
  vif.xruns = stream == SND_PCM_STREAM_PLAYBACK ? vif.config.playbackXruns : vif.config.captureXruns;
  vif.slips = stream == SND_PCM_STREAM_PLAYBACK ? vif.config.playbackSlips : vif.config.captureSlips;
  vif.timer.reset(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
  if (vif.timer.get() < 0) return -errno;
  if (stream == SND_PCM_STREAM_PLAYBACK && !vif.config.playbackFile.empty()) {
    vif.rawOut.reset(::open(vif.config.playbackFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (vif.rawOut.get() < 0) return -errno;
  }
  return 0;
}

}  // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(sondrel_vif) {
  (void)root;
  auto vif = std::make_unique<Vif>();
  int err = ParseConfig(conf, vif->config);
  if (err < 0) return err;
  err = OpenDevice(*vif, stream);
  if (err < 0) {
    ReleaseStream(*vif);
    return err;
  }
  vif->io.version = SND_PCM_IOPLUG_VERSION;
  vif->io.name = "Sondrel virtual interface";
  vif->io.callback = &Callbacks();
  vif->io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA;
  vif->io.mmap_rw = 0;
  vif->io.poll_fd = vif->timer.get();
  vif->io.poll_events = POLLIN;
  Vif* owned = vif.get();
  owned->io.private_data = owned;
  err = snd_pcm_ioplug_create(&owned->io, name, stream, mode);
  if (err < 0) {
    ReleaseStream(*vif);
    return err;
  }
  vif.release();  // from here the close callback owns it
  err = SetConstraints(*owned);
  if (err < 0) {
    snd_pcm_ioplug_delete(&owned->io);
    return err;
  }
  *pcmp = owned->io.pcm;
  return 0;
}

SND_PCM_PLUGIN_SYMBOL(sondrel_vif)

}  // extern "C"
