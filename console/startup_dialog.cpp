#include "console/startup_dialog.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "console/device_choice.h"
#include "console/input.h"
#include "core/file_io.h"
#include "engine/audio_device.h"
#include "core/program_exit.h"

namespace sondrel {

namespace {

constexpr const char* kRule = "-------------------------";

// The rates the first-run question offers.
constexpr unsigned kFirstRunRates[] = {44100, 48000, 88200, 96000};

// Creating the list file can fail (an unwritable directory); say so and go
// on: the run-time list prompts let the user name another file later.
void CreateEmptyListFile(const char* name) {
  const FilePtr file = OpenFile(name, "a");
  if (!file) std::printf("Could not create %s: %s\n", name, std::strerror(errno));
}

void PrintListHelp(const char* created, const char* direction) {
  std::printf("Created a file called %s that you will need.\n", created);
  std::printf("Put a list of wave files in this list, one per line.\n");
  std::printf("Each line will be assigned to an %s hardware channel.\n", direction);
  std::printf("Use a '-' on a line to skip over channel.\n");
  std::printf("%s\n", kRule);
}

void CheckRecordList(const SessionState& s) {
  const char* name = s.recordlistFiles[0].data();
  const FilePtr file = OpenFile(name, "rb");
  if (file) {
    if (std::fgetc(file.get()) == EOF) {
      std::printf("%s\n", kRule);
      std::printf("Note: The record.txt file is empty!\n");
      std::printf("%s\n", kRule);
    }
    return;
  }
  std::printf("%s\n", kRule);
  std::printf("Could not find the record file list called %s\n", name);
  CreateEmptyListFile("record.txt");
  PrintListHelp("record.txt", "input");
}

void CheckPlayList(const SessionState& s) {
  const char* name = s.playlistFiles[0].data();
  const FilePtr file = OpenFile(name, "rb");
  if (file) return;
  std::printf("%s\n", kRule);
  std::printf("Cound not find the playlist file called %s\n", name);
  CreateEmptyListFile("play.txt");
  PrintListHelp("play.txt", "output");
}

}  // namespace

void PrintBanner() {
  std::printf("\n");
  std::printf("Sondrel multitrack recorder, version 3.76 (r53)\n");
}

void AskFirstRunSettings(SessionState& s) {
  std::printf("\nThe param.txt file was not found.\n");
  std::printf("Parameters are stored in this file.\n");
  std::printf("\nEnter 'c' to create this file now or 'x' to exit\n");
  WordBuffer word{};
  for (;;) {
    ReadWord(word);
    if (WordOf(word) == "x") throw ProgramExit{2};
    if (WordOf(word) == "c") break;
  }
  std::printf("\nEnter the number of audio interface INPUTS: ");
  s.inputs = ReadInt();
  std::printf("\nEnter the number of audio interface OUTPUTS: ");
  s.outputs = ReadInt();
  std::printf("\nEnter the maxiumum number of audio TRACKS needed: ");
  s.tracks = ReadInt();
  // "?" lists the devices and asks again; no device is named "?".
  for (;;) {
    std::printf("\nEnter soundcard device name or 'd' for default: ");
    ReadWord(word);
    if (WordOf(word) != "?") break;
    ShowAudioDevices(s.outputs, s.inputs, kFirstRunRates);
  }
  SetText(s.deviceName, WordOf(word) == "d" ? std::string_view("default") : WordOf(word));
  std::printf("\nEnter project sample rate or\n");
  std::printf("1 = 44100,  2 = 48000,  3 = 88200,  4 = 96000\n");
  const int answer = ReadInt();
  switch (answer) {
    case 1: s.sampleRate = 44100; break;
    case 2: s.sampleRate = 48000; break;
    case 3: s.sampleRate = 88200; break;
    case 4: s.sampleRate = 96000; break;
    default: s.sampleRate = static_cast<std::uint32_t>(answer); break;
  }
}

namespace {

constexpr std::int64_t kMaxRateHz = 768000;
constexpr std::uint32_t kDefaultRateHz = 44100;

void TellUnusable(const CountRead& read, const char* usable, std::int64_t used) {
  std::printf("%s line %i: %s %lld is outside %s; %lld is used\n", kSettingsFileName, read.line, read.key.c_str(),
              static_cast<long long>(read.value), usable, static_cast<long long>(used));
}

}  // namespace

void ReportUnusableCounts(const std::vector<CountRead>& counts, SessionState& s) {
  for (const CountRead& read : counts) {
    if (read.key == "sr" && (read.value < 1 || read.value > kMaxRateHz)) {
      s.sampleRate = kDefaultRateHz;
      TellUnusable(read, "the rates the program can run at (1 to 768000 Hz)", kDefaultRateHz);
    } else if (read.key == "buf") {
      const int used = ClampPeriodRequest(static_cast<int>(std::clamp<std::int64_t>(read.value, INT32_MIN, INT32_MAX)));
      if (read.value != used) TellUnusable(read, "the period sizes the program asks for (16 to 4096 frames)", used);
    } else if (read.key != "sr" && read.key != "buf" && read.value > kMaxChannels) {
      TellUnusable(read, "the channels the program has (256)", kMaxChannels);
    }
  }
}

void CheckListFiles(const SessionState& s) {
  CheckRecordList(s);
  CheckPlayList(s);
}

void PrintConfiguration(const SessionState& s) {
  std::printf("%s\n", kRule);
  std::printf("Requested Parameters:\n");
  std::printf("Device\t%s\n", s.deviceName.data());
  std::printf("Rate\t%i\n", static_cast<int>(s.sampleRate));
  std::printf("Buffer\t%i\n", s.periodFrames);
  std::printf("%s\n", kRule);
  std::printf("\nConfiguration:\n");
  std::printf("Interface inputs  = %i\n", s.inputs);
  std::printf("Interface outputs = %i\n", s.outputs);
  std::printf("Tracks (maximum)  = %i\n", s.tracks);
}


}  // namespace sondrel
