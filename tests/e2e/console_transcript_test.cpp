// End to end: the console driven through standard input like a user at the prompt, on ALSA's null device (block 1024,
// 44100 Hz unless a case says otherwise) or on the ramp device. Each case is one transcript: the project it starts
// from, the words typed, and what must be printed and saved (by "s") afterwards.
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

struct Transcript {
  std::string name{};
  const char* params = "";  // param.txt lines after the device line; no param.txt at all when null
  int ramp = 0;  // inputs of the ramp device (each run reads on 8192 frames of it), defined when not 0
  std::string input{};
  int status = 0;
  std::vector<std::string> out{}, notOut{};  // printed (each after the one before), never printed
  std::vector<std::pair<std::string, int>> counts{};  // printed exactly this many times
  std::vector<std::string> saved{}, notSaved{};     // whole lines in param.txt afterwards, text not in it
  const char *record = "", *play = "";             // the lists, not written when null
  std::vector<std::pair<std::string, std::string>> files{};  // other files of the project
  std::set<std::string> changing{};                         // files of the project the run may change
  std::string err{};                                        // printed on standard error
  std::vector<std::string> exist{}, missing{};              // whole-name patterns of files there afterwards, or not
  // A pattern, how many files it names, and the plain mono track the first of them (in name order) holds.
  std::vector<std::tuple<std::string, std::size_t, std::vector<int>>> wavs{};
  std::vector<std::pair<std::string, std::size_t>> sizes{};  // bytes of files afterwards
};

const std::string kExitPrompt = "   'x' to exit program\n";
const std::string kPlayHeading = "Source\t\t\tSolo\tDestination\n";
const std::string kMixerPrompt = "Mix commands are active.  Enter 'h' for help.\n";
const std::string kMeterPrompt = "Enter Meter Range -120 to -6 (dB) or 0 = off.  Currently at ";
const std::string kContinue = "-------------------------\nEnter 'c' to continue\n";
const std::string kSoloAdd =
    "'a' add, 'r' remove, 'd' done\nEnter track number to add, or multiple if comma separated\n";
const std::string kNs(127, 'n'), kAs(63, 'a');  // long names cut to what the program keeps

// `audio` after `silent` samples of silence.
std::vector<int> AfterSilence(std::size_t silent, std::vector<int> audio) {
  audio.insert(audio.begin(), silent, 0);
  return audio;
}

const Transcript kTranscripts[] = {
    // Start-up: the first-run dialogue, the device and the lists.
    {.name = "FirstRunWritesSettingsAfterDeviceSetUp", .params = nullptr, .input = "c 8 8 16 null 2 x\n",
     .out = {"version 3.76 (r53)\n", "\nThe param.txt file was not found.\n", "\nEnter 'c' to create this file now or "
             "'x' to exit\n\nEnter the number of audio interface INPUTS: \nEnter the number of audio interface "
             "OUTPUTS: \nEnter the maxiumum number of audio TRACKS needed: \nEnter soundcard device name or 'd' for "
             "default: \nEnter project sample rate or\n1 = 44100,  2 = 48000,  3 = 88200,  4 = 96000\n",
             "Created a file called record.txt", "Created a file called play.txt", "Requested Parameters:\nDevice\tnull"
             "\nRate\t48000\nBuffer\t1024\n", "Interface inputs  = 8\nInterface outputs = 8\nTracks (maximum)  = 16\n",
             "Play\t1024\t4\t48000\t8\nRecord\t1024\t4\t48000\t8\n", "Created param.txt file\n"},
     .saved = {"sr\t48000\ninputs\t8\noutputs\t8\nch\t16\nbuf\t1024\nint\t1"}, .record = nullptr, .play = nullptr,
     .exist = {"record.txt", "play.txt"}},
    {.name = "FirstRunQuestionIgnoresOtherWordsAndExitsWithTwo", .params = nullptr, .input = "yes x\n", .status = 2,
     .notOut = {"INPUTS"}, .record = nullptr, .play = nullptr, .missing = {"param.txt"}},
    {.name = "UnopenableDeviceEndsWithOne", .params = nullptr, .input = "c 2 2 2 no_such_device 1 x\n", .status = 1,
     .notOut = {"Returned Driver Parameters"}, .record = nullptr, .play = nullptr,
     .err = "Playback device could not be opened: No such file or directory\n", .missing = {"param.txt"}},
    // The exit reads the current lists too, and asks while one is missing.
    {.name = "MissingNamedPlaylistCreatesPlayTxt", .params = "play\t1\tsongs.txt\n", .input = "f x play.txt\n",
     .out = {"Cound not find the playlist file called songs.txt\nCreated a file called play.txt",
             "Playlist file called songs.txt was not found!\n",
             "Cannot find playlist file called songs.txt\nCreate the file or enter a different name\n"},
     .record = "a.wav\n", .play = nullptr, .exist = {"play.txt"}, .missing = {"songs.txt"}},
    // The null device grants any period size: 1000 is asked for and used, and the stored positions round up to its
    // grid.
    {.name = "PositionsRoundUpToTheGrantedPeriod", .params = "buf\t1000\ni\t1\no\t1001\ne\t1000\nmem\t-5\n"
     "range\t1\t1999\tverse one\nloc\t2500\tchorus\n", .input = "s x\n", .out = {"-------------------------\nNote: The "
             "record.txt file is empty!\n-------------------------\n-------------------------\nRequested", "Play\t1000\t4\t44100\t2\n", "\nStored Settings\n\n"}, .notOut = {"Driver did not return"},
     .saved = {"i\t1000\no\t2000\ne\t1000", "mem\t0", "range\t1000\t2000\tverse one", "loc\t3000\tchorus"}},
    // 2 s in, 1 s punch, 10 s out, all on the block grid already.
    {.name = "StatusInSeconds", .params = "i\t88064\ne\t44032\no\t440320\nmem\t0\n", .input = "x\n",
     .out = {"Time functions:  (memory = 0.00)\n\n   'i' to set play start (2.00)\n   'o' to set play/record stop "
             "(9.98)\n   'e' to set record enter (1.00)\n\nTransport:\n\n   'p' to play from 2.00 to 9.98.\n   'r' "
             "to play from 2.00 and record from 2.00 to 9.98.\n   'R' to record without playback from 1.00 to 9.98."
             "\n\n   '+' for all functions\n   's' to save all settings to param.txt file\n" + kExitPrompt}},
    {.name = "StatusShortForm", .params = "int\t0\ni\t88064\ne\t44032\no\t440320\n", .input = "x\n",
     .out = {"Play: 2.00   Rec: 1.00   Stop: 9.98   Mem: 0.00\n"}, .notOut = {"Time functions"}},
    // 120 bpm, 4/4 at 48000 Hz: 96000 samples is measure 2, 120000 is 2.2.
    {.name = "StatusInMeasures", .params = "sr\t48000\ntmode\t1\nbuf\t1000\ni\t96000\ne\t120000\no\t192000\n",
     .input = "x\n", .out = {"Time functions:  (memory = 1.1.00)\n\n   'i' to set play start  (2.1.00)\n   'o' to "
             "set play/record stop (3.1.00)\n   'e' to set record enter (2.2.00)\n\nTransport:\n\n   'p' to play from"
             " 2.1.00 to 3.1.00\n   'r' to play from 2.1.00 and record from 2.2.00 to 3.1.00\n   'R' to record "
             "without playback from 2.2.00 to 3.1.00\n"}},
    // "hh" changes nothing: one prompt each for hh, h and the last x.
    {.name = "HelpNeedsExactWordsAndWaitsForC", .input = "hh h x cc c x\n",
     .out = {"   'l.i' 'l.o' or 'l.e' to recall times from locate point\n\nEnter 'c' continue\n"},
     .counts = {{"\nFunctions:\n\nMonitoring:\n", 1}, {kExitPrompt, 3}}},

    // Time points. A typed time rounds up to the block grid (1 s is 44 blocks); a huge one is capped, not wrapped; 'ix'
    // has no number.
    {.name = "SecondsEntryAndCopies", .params = "o\t440320\n", .input = "i 1.0 i.m ix e 2 e.o s i 1e30\n",
     .out = {"Enter in-time in seconds.\n", "Enter recording start time in seconds.\n",
             "   'i' to set play start (104573377183744.00)\n"},
     .saved = {"mem\t45056", "i\t0", "e\t89088", "o\t89088"}},
    {.name = "OutPointMayEqualButNotPrecedeIn", .params = "i\t45056\no\t440320\n", .input = "o 0.5 o.m o 1 s\n",
     .out = {"Enter out-time in seconds.\n"}, .saved = {"mem\t440320", "o\t45056"}},
    // 120 bpm, 4/4, 48000 Hz: 8 beats round up to 188 blocks; neither stop on the start is taken; a prompted measure 0
    // counts as 1.
    {.name = "MeasureEntryPromptedAndDirect", .params = "sr\t48000\ntmode\t1\no\t480256\nmem\t1024\n",
     .input = "i3.1 o3.1 o 3 1 o.m o4 e 0 2 s\n", .out = {"Enter measure for stop time.\nEnter beat for stop time.\n",
             "Enter measure for recording start time.\nEnter beat for recording start time.\n"},
     .saved = {"i\t192512", "mem\t480256", "o\t288768", "e\t24576"}},
    // A typed measure 0 is the project start; only 16 characters of a word count.
    {.name = "MeasureZeroAndLongNumbers", .params = "sr\t48000\ntmode\t1\ne\t480256\n",
     .input = "e0.6 i3.000000000000199 s\n", .saved = {"e\t0", "i\t192512"}},
    // Back to 0 to 88064, then forward by that length twice.
    {.name = "JumpBackAndForward", .params = "i\t88064\no\t440320\n", .input = "J j j s\n",
     .saved = {"i\t176128", "o\t264192"}},
    // The default 0.25 s nudge is 11 blocks.
    {.name = "NudgesAndNudgeAmount", .params = "i\t5120\no\t440320\ne\t44032\nmem\t1024\n",
     .input = "b N bo ne n be nn 0.5 n nn 0 n s\n", .out = {"\nNudge Amount = 11264 samples, 0.255 sec\nEnter new "
             "nudge amount (in sec) or '0' to keep settings\nNudge amount will be set to 22528 samples, 0.511 sec\n",
             "\nNudge Amount = 22528 samples, 0.511 sec\n"}, .counts = {{"Nudge amount will be set", 1}},
     .saved = {"nudge\t0.5000", "i\t67584", "o\t440320", "e\t55296", "mem\t1024"}},
    // The exact length of the longest, off the block grid, of the first entries (as many as the tracks): an empty
    // line is no entry, "-" is passed over, and a missing file counts as 0 after its message.
    {.name = "StopAtLongestPlaylistFile", .params = "ch\t4\no\t440320\n", .input = "f s\n",
     .out = {"Checking file a.wav\nCannot find file in track list called gone.wav!!\nChecking file gone.wav\n"
             "Checking file b.wav\n"}, .notOut = {"Checking file c.wav"}, .saved = {"o\t88200"},
     .play = "a.wav\n-\n\ngone.wav\nb.wav\nc.wav\n", .files = {{"a.wav", MonoWavBytes(Ramp(66150))},
               {"b.wav", MonoWavBytes(Ramp(88200))}, {"c.wav", MonoWavBytes(Ramp(99999))}}},

    // Track lists. Only two inputs exist, so in3.wav and in4.wav have no channel.
    {.name = "PlaylistChannelsSkipsAndDirectOutputs", .params = "inputs\t2\noutputs\t2\nch\t8\nsolo\t3\n",
     .input = "lp c lr c x\n", .out = {"File: play.txt\n" + kPlayHeading + "a.wav\t\toff\tOut 1\nb.wav\t\tON\tOut "
             "(3)\na_very_long_\t\toff\tOut (5)\n" + kContinue, "File: record.txt\nSource\t\tStatus\t\tDestination\n"
             "In 1\t\tARMED\t\tin1.wav\n" + kContinue},
     .record = "in1.wav\n-\nin3.wav\nin4.wav\n", .play = "a.wav\n\n-\nb.wav\n-old.wav\na_very_long_track_name.wav\n"},
    // Bus 1 carries channels 1 and 3, bus 3 channels 2 and 3, bus 2 none. In mode 2 channel 3 also plays directly on
    // output 3 and channel 4 on output 4, and bus 3 is beyond the outputs; mode 3 mixes the busses to outputs 1 and 2.
    {.name = "DestinationsInEachMixMode", .params = "inputs\t2\noutputs\t4\nch\t8\nmix\t1\nbus\t1\t1,3,\nbus\t3\t2,3,"
     "\n", .input = "lp c mod 2 lp c mod 3 lp c x\n",
     .out = {kPlayHeading + "one.wav\t\toff\tOut 1 2\ntwo.wav\t\toff\tOut 1 2\nthree.wav\t\toff\tOut 1 2 3\n"
             "four.wav\t\toff\tOut 1 2 4\nfive.wav\t\toff\tOut 1 2 (5)\n",
             "one.wav\t\toff\tOut 1 2 \ntwo.wav\t\toff\tOut (5 6) \nthree.wav\t\toff\tOut 1 2 3 (5 6) \n"
             "four.wav\t\toff\tOut 4 \nfive.wav\t\toff\tOut \n",
             "one.wav\t\toff\tOut 1 2 \ntwo.wav\t\toff\tBus 3 -> Out 1 2 \nthree.wav\t\toff\tOut 1 2 Bus 3 -> Out 1 2 "
             "\nfour.wav\t\toff\t\n"}, .play = "one.wav\ntwo.wav\nthree.wav\nfour.wav\nfive.wav\n"},
    {.name = "SoloMenuTakesOnlyTrackNumbersThatExist", .params = "inputs\t2\noutputs\t2\nch\t8\n",
     .input = "so a 2,5,x,300 a 0,9 d s so r 2,7 d x\n", .out = {"Solo Enabled Tracks: (none)\n" + kSoloAdd +
             "Solo Enabled Tracks: 2 5\n" + kSoloAdd + "Solo Enabled Tracks: 2 5\n", "Enter track number to remove,"
             " or multiple if comma separated\nSolo Enabled Tracks: 5\n"},
     .saved = {"Solo Settings:\nsolo\t2\nsolo\t5\n"}},
    // Position 5 is empty: the current name becomes empty and the exit asks.
    {.name = "PlaylistFileMenuPositionsAndNames", .params = "inputs\t2\noutputs\t2\nch\t2\nplay\t3\tthird.txt\n",
     .input = "pf 0 pf 200 pf a extra.txt 7 d pf 3abc rf " + std::string(300, 'n') + " s pf 5 x new.txt record.txt\n",
     .out = {"Stored playlist filenames:\n\n1\tplay.txt\n3\tthird.txt\n\nCurrently playing from play.txt\n\n",
             "Enter a new filename to load\n", "Set to play from 0\n\n", "Set to play from 200\n\n",
             "Enter the filename to add\nEnter the list position (1-128)\nSet to play from 200\n\n"
             "Stored playlist filenames:\n\n1\t200\n3\tthird.txt\n7\textra.txt\n", "Set to play from third.txt\n\n",
             "Set to record from " + kNs + "\n\n", "Set to play from \n\n",
             "Cannot find playlist file called \nCreate the file or enter a different name\n"},
     .saved = {"play\t1\tthird.txt\nplay\t3\tthird.txt\nplay\t7\textra.txt", "rec\t1\t" + kNs},
     .files = {{"new.txt", ""}}},

    // Settings menus. A non-number at the tempo menu shows it again instead of spinning.
    {.name = "TempoMenuReplacesOutOfRangeValues", .params = "tempo\t90\nsig\t7\n",
     .input = "tempo 2 0.5 2 300 2 401 abc 2 400 3 0 1 1 4 s x\n", .out = {"1 = toggle tempo mode (off)\n2 = set "
             "tempo (90.00)\n3 = set beats per measure (7)\n4 = done\n", "Enter tempo (beats per minute)\n", "(120.00)",
             "(300.00)", "(120.00)", "(120.00)", "(400.00)", "Enter beats per measure\n",
             "3 = set beats per measure (4)", "mode (on)", "mode (off)"},
     .counts = {{"4 = done\n", 9}}, .saved = {"tmode\t0", "tempo\t400.00", "sig\t4"}},
    {.name = "OptionsTakeEffectOnDone", .input = "opt hc np int0 zz d s x\n",
     .out = {"Clock: (now set to uc)\n\n  'sc' to stream clock\n", "Peaks: (now set to cp)\n", "Interface: (now set "
             "to int1)\n  'int0' for minimal interface\n", "\n  'd' if done changing options\n", "(now set to hc)",
             "(now set to np)", "(now set to int0)", "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n"},
     .counts = {{"\nOptions:\n\nClock: ", 5}}, .saved = {"clock\thc", "peak\tnp"}, .notSaved = {"int\t1"}},
    // The click and the count-in: an output the interface lacks is refused at start-up and at the word, a level or
    // a count-in out of range leaves the setting as it was, and the help and the options show what is set.
    {.name = "ClickAndCountInAreCheckedShownAndSaved", .params = "click\t9\t-3.00\n",
     .input = "+ c clk 3 clk 2 -61 clk 2 -12.5 cnt 17 cnt 2 + c opt d clk 0 s x\n",
     .out = {"The click is set to output 9, which the interface does not have (2 outputs): the click is off\n",
             "   'clk' to set the click (now off: the interface has no output 9)\n",
             "The interface has no output 3: the click is left as it was\n",
             "A click level is from -60 to 0 dB: the click is left as it was\n",
             "The click sounds on output 2 at -12.50 dB\n", "A count-in is 0 to 16 bars: it is left as it was\n",
             "   'pre' to set preroll amount\n   'clk' to set the click (now on output 2 at -12.50 dB)\n   'cnt' to set "
             "the count-in (now 2 bars)\n   'lat'",
             "\n   'clk' to set the click (now on output 2 at -12.50 dB)\n   'cnt' to set the count-in (now 2 bars)\n\n  "
             "'d' if done changing options\n",
             "The click is off\n"},
     .saved = {"click\t0\t-12.50", "cnt\t2"}},
    // Numbers are read without wrapping; one the program cannot use is named with its line and what is used.
    {.name = "UnusableCountsAreNamedWithTheirLines", .params = "sr\t-48000\nbuf\t1000000000000\nch\t99999999\nbuf\t8\n",
     .input = "x\n", .out = {"param.txt line 2: sr -48000 is outside the rates the program can run at (1 to 768000 Hz); "
             "44100 is used\nparam.txt line 5: buf 8 is outside the period sizes the program asks for (16 to 4096 "
             "frames); 16 is used\nparam.txt line 4: ch 99999999 is outside the channels the program has (256); 256 is "
             "used\n", "Rate\t44100\n"}, .notOut = {"4294919296", "-727379968"}},
    {.name = "AnUnusedClickLeavesTheSettingsAsTheyWere", .input = "s x\n", .notSaved = {"click", "cnt"}},
    // Without "d" the menu keeps every word, "s" included. "d" closing the menu, and "d" put back by "cf", both end the
    // mixer view.
    {.name = "OptionsKeepEveryWordUntilDone", .input = "opt sc s\n", .notOut = {"Stored Settings"}},
    {.name = "OptionsDoneLeavesTheMixerView", .input = "mix opt d x\n", .counts = {{kMixerPrompt, 1}}},
    {.name = "CrossfadeDoneLeavesTheMixerView", .input = "mix cf 10 x\n", .counts = {{kMixerPrompt, 1}}},
    {.name = "SafetyMenuWaitsForZeroOneOrTwo", .params = "safe\t1\n", .input = "safe x 2 safe 0 s x\n",
     .counts = {{"Safety mode for replacing files is ON\nEnter '0' to turn off\nEnter '2' to keep current "
                 "settings\n", 2}, {"Safety mode is OFF\n\n", 1}}, .saved = {"safe\t0"}},
    // "d" keeps the pre-roll; a non-number is 0; a negative pre-roll is 0, a negative crossfade is asked again; answers
    // that are not finite never reach the session.
    {.name = "PrerollCrossfadeAndNonFiniteAnswers", .params = "tempo\t90\nproll\t1.5\nxfade\t3\n",
     .input = "pre d cf abc pre -3 cf -5 10 pre inf cf nan tempo 2 nan 9 aa -inf s x\n",
     .out = {"Preroll is set to 1.500 secs\nEnter new preroll or 'd' for done\n", "Crossfade is currently set to 3.0 "
             "milliseconds.\nEnter 'd' if done or enter a new value\n", "Preroll is set to 1.500", "Crossfade is "
             "currently set to 0.0", "Preroll is set to 0.000", "Crossfade is currently set to 10.0"},
     .saved = {"tempo\t120.00", "proll\t0.000", "xfade\t0.0", "aud\t0.00"}},
    // A length of 0 or less is kept as typed but auditions keep their length.
    {.name = "AuditionLength", .params = "sr\t48000\n", .input = "aa 2 aa 0 aa -1 s x\n", .out = {"Enter audition "
             "time (currently 3.0 sec)\n", "(currently 2.0 sec)", "(currently 2.0 sec)"}, .saved = {"aud\t-1.00"}},
    // The meter range is clamped; a non-number keeps the setting.
    {.name = "MeterRange", .input = "mtr -200 mtr 0 mtr -3 mtr 12 mtr -6 mtr -40 mtr abc s\n",
     .out = {kMeterPrompt + "-30 dB\n", "Currently at -120 dB\n", "Currently at 0 dB\n", "Currently at -6 dB\n",
             "Currently at -6 dB\n", "Currently at -6 dB\n", "Currently at -40 dB\n"},
     .counts = {{kMeterPrompt, 7}}, .saved = {"meter\t-40"}},

    // Mixer view. Out-of-range volumes are stored as typed and repaired when the gains are next worked out (for the
    // "sp" run here); bus levels stop at +15 dB. "sp" is a console word, not a pan; "d" leaves before "s".
    {.name = "MixerViewListsChannelsAndAppliesLevels", .params = "ch\t4\nmix\t2\nbusvl\t2\t-3.5\n",
     .input = "mix 3v20 1b20 2b-200 3p-40 xv5 sp d s\n", .out = {"\nSource:\nkick_drum_close\tCh 1\tVol 0.00\tPan    "
             "0\nsnare.wav\tCh 3\tVol 0.00\tPan    0\n\nBus 2\t  -3.50 dB\n" + std::string(79, '-') + "\n\nPlay: 0.00 "
             "  Rec: 0.00   Stop: 0.00   Mem: 0.00\n\n" + kMixerPrompt, "Volume of channel 3 is too high.\nIt has been "
             "reset to 12 dB, the maximum.\n"}, .counts = {{"Mix commands are active.", 7}},
     .saved = {"v\t3\t12.00", "p\t3\t-40", "busvl\t1\t15.00", "busvl\t2\t-200.00"},
     .play = "kick_drum_close_mic.wav\n-\nsnare.wav\n"},
    // "+" typed at the mixer prompt shows the full help on the next pass, then the mixer again.
    {.name = "MixerHelpAndConsoleHelp", .input = "mix h c + c mix\n", .out = {"\nMixer Help:\n\nTo set a channel's "
             "volume:\n\n", "Or, 'mix' will toggle the mixer view on/off.\n\nEnter 'c' to continue\n",
             "Enter 'c' continue\n\nSource:"}},
    {.name = "MixModeMenuShowsCurrentModeFirst", .params = "mix\t3\n", .input = "mod 7 one 1 s\n",
     .out = {"\nCurrently using mixmode [3]:\n'3'  Playback = busses are routed to outputs 1 and 2.\n",
             "'0'  Playback = assign channels to direct outputs only.\n", "Select a mix mode\n"}, .saved = {"mix\t1"}},
    // Removing the last channel of bus 3 takes it out of use.
    {.name = "BusRoutingAddsAndRemovesChannels", .params = "outputs\t4\nch\t8\n",
     .input = "bus a 2 2,5,300 a 3 1 r 3 1 c s\n", .out = {"Stereo Bus Assignments: (4 outputs, 2 busses)\n\nBus 2\t\t"
             "Out 03-04\t\tCh: 2 5 \nEnter 'a' to add", "\nBus 3\t\tOut 05-06\t\tCh: 1 "},
     .saved = {"bus\t2\t2,5,"}, .notSaved = {"bus\t3\t"}},

    // Locate points and ranges.
    {.name = "LocateSaveAndRecall", .params = "i\t4096\n", .input = "i.l 3 l.o 3 l.i 5 s\n",
     .out = {"Locate Points:\n3\t0.09\t(name)\nEnter a locate point number (1-64)\n"},
     .counts = {{"Stored locate point\n", 1}}, .saved = {"i\t0\no\t4096", "loc\t4096\t(name)"}},
    // Point numbers outside 1-64 store nothing. Point 1 is emptied by saving the unset in point: hidden, yet still
    // named.
    {.name = "LocateMenuNamesDeletesAndCutsLongNames", .params = "o\t8192\nloc\t4096\tintro\n",
     .input = "i.l 65 i.l 0 x.l 3 i.l 1 ll n 2 " + std::string(200, 'a') + " k 9 q c o.l 2 o.l 1 ll k 1 c o.l 1 s\n",
     .out = {"Locate Points:\nEnter 'n' to change name\nEnter 'k' to delete point\nEnter 'c' to continue\n",
             "Enter a name for point 2\n", "1\t0.19\tintro\n2\t0.19\t" + kAs + "\n"},
     .counts = {{"Enter locate point number (1-64)\n", 6}, {"Stored locate point\n", 4}},
     .saved = {"loc\t8192\t(name)\nloc\t8192\t" + kAs}},
    {.name = "RangeStoreOverwritesAndRecallChecksTheSlot", .params = "i\t4096\no\t8192\nrange\t1024\t2048\tverse\n",
     .input = "io. 1 0 .io 5 s\n", .out = {"Loc\tIn\tOut\tName\n1\t0.02\t0.05\tverse\nEnter location to store to "
             "(1-64)\n", "Enter a range name or '0' to skip\n",
             "Enter location to recall (1-64)\nLocation 5 is empty\n"},
     .saved = {"range\t4096\t8192\tverse"}},
    {.name = "RangesNoneStored", .params = "i\t4096\n", .input = ".io io. 0 x\n", .out = {"No locations available\n",
             "All locations available\nEnter location to store to (1-64)\n"}, .notOut = {"Enter location to recall"}},
    // A recalled range sets the points. Deleting the last range ends the editor; a new one has nothing to show.
    {.name = "RangeRecallAndEditorRenamesDeletesAndEndsWhenNoneIsLeft",
     .params = "range\t1024\t2048\tverse\nrange\t4096\t8192\tbridge\n",
     .input = ".io 2 lio n 1 chorus k 2 c s lio k 1 lio x\n",
     .out = {"Enter the range number\nEnter a new range name\n",
             "Enter the range number\nNo range locations to edit\n"},
     .counts = {{"No range locations to edit\n", 2}, {"Enter 'n' to change region name\n", 4}},
     .saved = {"i\t4096\no\t8192", "range\t1024\t2048\tchorus"}, .notSaved = {"bridge"}},
    // Slot 64 is the last one of both tables, not one past it.
    {.name = "TheLastLocateAndRangeSlotsStore", .input = "i5 i.l 64 o6 io. 64 last s x\n",
     .saved = {"range\t221184\t265216\tlast", "loc\t221184\t(name)"}},
    {.name = "RangesListedInMeasures", .params = "sr\t48000\nbuf\t1000\ntmode\t1\ntempo\t120\nsig\t4\nrange\t0\t96000\t"
     "song\n", .input = "lio c\n", .out = {"Loc\tIn\tOut\tName\n1\t1.1.00\t2.1.00\tsong\n"}},

    // Runs. "r" raises the punch point to the in point, so both takes start there, and an input of "-" records
    // nothing; each take's header sizes match it (the null device records silence).
    {.name = "TakesAreNamedAndHoldExactlyTheTakeLength", .params = "i\t2048\ne\t0\no\t10240\n",
     .input = "r stp e0.1 r stp x\n", .out = {"Playing and Recording...\nplayback start = 0.05 sec\nrecord start   = "
             "0.05 sec\nplay/rec stop  = 0.23 sec\n"}, .record = "vox.wav\n-\n", .missing = {"audio_ch_2_.*"},
     .wavs = {{"audio_ch_1_[0-9]+_stp_2048\\.wav", 1, std::vector<int>(10240 - 2048)},
              {"audio_ch_1_[0-9]+_stp_5120\\.wav", 1, std::vector<int>(10240 - 5120)}}},
    {.name = "RecordingRefusesAMissingStop", .input = "R yes c c x\n",
     .out = {">> Stop time is not set!\nEnter 'c' to continue and fix\n\n>> Stop time is the same as record start!\n"
             "Enter 'c' to continue and fix\n"}, .notOut = {"Recording..."}, .record = "a.wav\n"},
    // The first pass checks every playlist line, beyond the two tracks too.
    {.name = "ExportChecksEveryLineAndRefusesAnEmptyRange", .params = "ch\t2\ni\t4096\no\t4096\n", .input = "exp-i x\n",
     .out = {"called late.wav!!\n", "Cannot export until in and out points are set incorrectly.\n"},
     .notOut = {"Enter mix filename", "Enter 'c' to continue"}, .play = "a.wav\n-\nlate.wav\n",
     .files = {{"a.wav", MonoWavBytes(Ramp(5000))}}},
    // A listed track is never replaced by a mix; another file only after "w"; ".wav" is not doubled.
    {.name = "ExportNeverReplacesATrackAndAsksBeforeOtherFiles", .params = "ch\t1\ni\t0\no\t4096\n",
     .input = "exp-i a.wav c exp-i old r c exp-s new.wav c x\n",
     .out = {"a.wav is a track in play.txt: a mix is never written over it\nNothing was exported.\n",
             "-------------------------\n1 file exists!\nEnter 'w' to overwrite\n", "Nothing was exported.\n"},
     .play = "a.wav\n", .files = {{"a.wav", MonoWavBytes(Ramp(5000))}, {"old.wav", MonoWavBytes({1})}},
     .exist = {"new_L.wav", "new_R.wav"}},
    {.name = "TracksAtAnotherRateAreNeitherPlayedNorMixed", .params = "sr\t48000\nch\t2\ni\t0\no\t4096\n",
     .input = "p exp-i mix c x\n", .out = {"slow.wav is a 44100 Hz file, not 48000 Hz, and will not be played\n",
     "Playing...", "slow.wav is a 44100 Hz", "Mixing channels  2\n"}, .play = "slow.wav\nfast.wav\n",
     .files = {{"slow.wav", MonoWavBytes(Ramp(100))}, {"fast.wav", MonoWavBytes(Ramp(100), 48000)}}, .exist = {"mix.wav"}},
    // 2^40 samples of take do not fit on the disk: the run does not start.
    {.name = "ARecordingTheDiskCannotHoldDoesNotStart", .params = "o\t1099511627776\n", .input = "R x\n",
     .out = {"Not enough disk space for the takes: they need 3298534.9 MB, "}, .notOut = {"Recording..."},
     .record = "a.wav\n"},
    // Nothing armed: the run does not start, and no take menu comes.
    {.name = "ARecordingWithNothingArmedDoesNotStart", .params = "o\t4096\n", .input = "R x\n",
     .out = {"Nothing to record: no input of record.txt has a take file, so the run does not start\n"},
     .notOut = {"Recording...", "take handling"}, .record = "-\n"},
    {.name = "ARecordingDrawsTheLevelMeter", .params = "e\t0\no\t44100\n", .input = "R del x\n",
     .out = {"Recording...\n", "\t -30 dB ["}, .record = "voice.wav\n"},
    // The take menu comes back in full after each audition. The second quarter of 8192 samples runs from 2048 to 4096.
    {.name = "AuditionReturnsToTheTakeMenu", .params = "e\t0\no\t8192\n", .input = "R aud 2 aud 9 del x\n",
     .counts = {{"\t'stp' to save with time stamp\n\n", 3}, {"Playing...\nAuditioning...\n", 2},
                {"0 = hear whole take   1 = 1st 1/4   2 = 2nd 1/4   3 = 3rd 1/4   4 = 4th 1/4\n", 2},
                {"playback start = 0.05 sec\nplayback stop  = 0.09 sec\n", 2}},
     .record = "song.wav\n", .play = "old.wav\n", .files = {{"old.wav", MonoWavBytes(std::vector<int>(9000, 3))}},
     .missing = {"audio_ch_.*|song.*"}},
    // The minimal interface shows the take menu as one line, again after an unknown word.
    {.name = "MinimalTakeMenu", .params = "int\t0\ne\t0\no\t4096\n", .input = "R what stp x\n", .notOut = {"'aud'"},
     .counts = {{"Recording finished.  Enter a take handling command.\n", 2}}, .record = "a.wav\n"},
    // bass_take2.wav is free, so only the vocal asks; its new name holds for the rest of the run.
    {.name = "PresetTakeNamesAndTheirConflicts", .params = "inputs\t3\nch\t3\no\t4096\n",
     .input = "R_bass r_take2 take3 x\n",
     .out = {"The file named vocals_take2.wav already exists!\nEnter a different take name or 'w' to overwrite this "
             "file\nor 'W' to overwrite all similar conflicts\n"}, .record = "-\nbass.wav\nvocals.wav\n",
     .files = {{"vocals_take2.wav", MonoWavBytes({1, 2, 3})}},
     .exist = {"bass_bass.wav", "vocals_bass.wav", "bass_take2.wav", "vocals_take3.wav"}},
    // The safety switch asks before a whole file is replaced; "W" replaces it and stops the question for the next take.
    // A take from 1024 replaces the file padded to the project start.
    {.name = "ReplaceAsksAboutExistingFilesAndHonoursTheSafetySwitch",
     .params = "dv\tramp\ninputs\t1\noutputs\t1\nch\t1\ne\t1024\no\t3072\nsafe\t1\n", .ramp = 1,
     .input = "R rep n rep y r rep y W R rep y del\n", .out = {"The file safety switch is on.\nDo you really want to "
             "replace a whole file rather than insert? (y,n)\n", "-------------------------\n1 file exists!\nEnter 'w' "
             "to overwrite\nEnter 'W' to overwrite and don't ask again.\nEnter 'r' to return to previous menu.\n"},
     .counts = {{"1 file exists!", 2}, {"The file safety switch is on.", 4}}, .record = "song.wav\n",
     .files = {{"song.wav", MonoWavBytes({7, 7, 7})}},
     .changing = {"song.wav"}, .missing = {"(?!song\\.wav$).*\\.wav"},
     .wavs = {{"song\\.wav", 1, AfterSilence(1024, Ramp(2048, 8192))}}},
    {.name = "AppendedNamesAskBeforeReplacing", .params = "dv\tramp\ninputs\t1\noutputs\t1\nch\t1\ne\t1024\no\t3072\n",
     .ramp = 1, .input = "R app mix n alt R aws v R awp v2\n", .out = {"\nFile song_mix.wav exists!\n\n'o' to overwrite "
             "one file\n'O' (shift-o) to overwrite all conflicts,\n'n' to try a new append name\nEnter new append "
             "name\n", " -> song_alt.wav\n"}, .record = "song.wav\n", .files = {{"song_mix.wav", MonoWavBytes({1})}},
     .wavs = {{"song_alt\\.wav", 1, Ramp(2048)}, {"song_v_stp_1024\\.wav", 1, Ramp(2048, 8192)},
              {"song_v2\\.wav", 1, AfterSilence(1024, Ramp(2048, 16384))}}},
    // Takes within one second (typed-ahead words, a script) each get a number of their own: a punch-in's backup never
    // replaces the one before it, which holds audio nothing else has.
    {.name = "TakesRecordedInOneSecondKeepApartTheirBackups", .params = "e\t1024\no\t3072\n",
     .input = "R cin R cin R cin x\n", .record = "song.wav\n", .files = {{"song.wav", MonoWavBytes(Ramp(8192))}},
     .changing = {"song.wav"}, .wavs = {{"song_bkup_[0-9]+\\.wav", 3, Ramp(8192)}}},
    // 2 s at 48000 Hz: each monitor run ends at the first block that takes it past 96000 + 4096, 98 blocks of 1024.
    // The device keeps a copy of everything captured.
    {.name = "MonitorShowsInputLevelsForItsTime", .params = "dv\tramp\nsr\t48000\n", .ramp = 2,
     .input = "mr 2 ma 2 x\n", .out = {"Enter monitor time in seconds.\n\nMonitoring Input Peaks...\n", "\r(2/",
             "\r(1/"}, .record = "-\nb.wav\n", .sizes = {{"play.raw", 3u * 2u * 2u * 98u * 1024u}}},
    // Only the soloed quiet track sounds: 1000 at -3 dB, 707 a side. The pre-roll moves the start of the run, not the
    // stored points.
    {.name = "SoloAuditionAndPreRollKeepTheirPoints",
     .params = "ch\t2\nmix\t1\ni\t44032\ne\t88064\no\t176128\nproll\t2.0\nsolo\t2\n", .input = "sp ai ri del s x\n",
     .out = {"Playing...\nTracks are soloed\n", "Output Channel Peaks:\nchannel 1: -81.49 dBFS\nchannel 2: -81.49 "
             "dBFS\n", "Setting pre-roll\nplay 0 rec 44032 stop 176128\n"},
     .saved = {"i\t44032\no\t176128\ne\t88064"}, .record = "-\nin2.wav\n", .play = "loud.wav\nquiet.wav\n",
     .files = {{"loud.wav", MonoWavBytes(std::vector<int>(50000, 100000))},
               {"quiet.wav", MonoWavBytes(std::vector<int>(50000, 1000))}}},
};

void PrintTo(const Transcript& t, std::ostream* os) { *os << t.name; }

class ConsoleTranscript : public ProjectTest, public ::testing::WithParamInterface<Transcript> {};

TEST_P(ConsoleTranscript, PrintsAndSaves) {
  const Transcript& t = GetParam();
  if (t.params != nullptr) WriteParams(t.params);
  if (t.record != nullptr) WriteFile("record.txt", t.record);
  if (t.play != nullptr) WriteFile("play.txt", t.play);
  for (const auto& [name, text] : t.files) WriteFile(name, text);
  if (t.ramp > 0) WriteRampDevice(t.ramp, 200000);
  const RunResult r = RunChecked(t.input, t.status, t.changing);  // also: no sanitizer report, no work file left
  EXPECT_TRUE(r.out.starts_with("\nSondrel"));
  std::size_t from = 0;
  for (const std::string& part : t.out) {
    const std::size_t at = r.out.find(part, from);
    ASSERT_NE(at, std::string::npos) << "missing in order: " << part << "\n" << r.out;
    from = at + part.size();
  }
  for (const std::string& part : t.notOut) EXPECT_EQ(r.out.find(part), std::string::npos) << part;
  for (const auto& [part, times] : t.counts) EXPECT_EQ(CountOf(r.out, part), times) << part;
  const std::string params = Exists("param.txt") ? ReadFile("param.txt") : "";
  for (const std::string& line : t.saved) EXPECT_NE(params.find("\n" + line + "\n"), std::string::npos) << line;
  for (const std::string& part : t.notSaved) EXPECT_EQ(params.find(part), std::string::npos) << part;
  EXPECT_NE(r.err.find(t.err), std::string::npos) << r.err;
  for (const std::string& name : t.exist) EXPECT_FALSE(NamesMatching(name).empty()) << name;
  for (const std::string& name : t.missing) EXPECT_TRUE(NamesMatching(name).empty()) << name;
  for (const auto& [pattern, count, samples] : t.wavs) {
    const std::vector<std::string> names = NamesMatching(pattern);
    ASSERT_EQ(names.size(), count) << pattern;
    EXPECT_EQ(ReadFile(names[0]), MonoWavBytes(samples)) << names[0];
  }
  for (const auto& [name, bytes] : t.sizes) EXPECT_EQ(ReadFile(name).size(), bytes) << name;
}

INSTANTIATE_TEST_SUITE_P(Console, ConsoleTranscript, ::testing::ValuesIn(kTranscripts),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace sondrel::e2e
