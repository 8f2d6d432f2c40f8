// End to end: the mixer view, the mix mode menu and bus routing.
#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using MixerViewTest = ProjectTest;

TEST_F(MixerViewTest, ViewListsChannelsAndAppliesLevelWords) {
  WriteParams("ch\t4\nmix\t2\nbusvl\t2\t-3.5\n");
  WriteLists("", "kick_drum_close_mic.wav\n-\nsnare.wav\n");
  const RunResult r = Run("mix 3v20 1b20 2b-200 3p-40 xv5 sp d s\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\nSource:\nkick_drum_close\tCh 1\tVol 0.00\tPan    0\nsnare.wav\tCh 3\tVol 0.00\tPan    0\n\n"
                       "Bus 2\t  -3.50 dB\n" + std::string(79, '-') + "\n\nPlay: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n"
                       "\nMix commands are active.  Enter 'h' for help.\n"),
            std::string::npos)
      << r.out;
  // Out-of-range volumes are stored as typed and repaired when the gains are
  // next worked out, here for the "sp" run; bus levels stop at +15 dB.
  EXPECT_NE(r.out.find("Volume of channel 3 is too high.\nIt has been reset to 12 dB, the maximum.\n"),
            std::string::npos);
  const std::string saved = ReadFile("param.txt");
  EXPECT_NE(saved.find("v\t3\t12.00\n"), std::string::npos);
  EXPECT_NE(saved.find("p\t3\t-40\n"), std::string::npos);
  EXPECT_NE(saved.find("busvl\t1\t15.00\n"), std::string::npos);
  EXPECT_NE(saved.find("busvl\t2\t-200.00\n"), std::string::npos);
  // "sp" is a console word, not a pan: it plays; "d" left the view before "s".
  EXPECT_EQ(CountOf(r.out, "Mix commands are active."), 7);
}

TEST_F(MixerViewTest, HelpAndConsoleCommandsStillWorkInTheView) {
  WriteParams("");
  WriteLists("", "");
  const RunResult r = Run("mix h c + c mix\n");
  EXPECT_NE(r.out.find("\nMixer Help:\n\nTo set a channel's volume:\n\n"), std::string::npos);
  EXPECT_NE(r.out.find("Or, 'mix' will toggle the mixer view on/off.\n\nEnter 'c' to continue\n"), std::string::npos);
  // "+" typed at the mixer prompt shows the full help on the next pass,
  // then the mixer again.
  EXPECT_NE(r.out.find("Enter 'c' continue\n\nSource:"), std::string::npos) << r.out;
}

TEST_F(MixerViewTest, MixModeMenuShowsCurrentModeFirst) {
  WriteParams("mix\t3\n");
  WriteLists("", "");
  const RunResult r = Run("mod 7 one 1 s\n");
  EXPECT_NE(r.out.find("\nCurrently using mixmode [3]:\n"
                       "'3'  Playback = busses are routed to outputs 1 and 2.\n"
                       "     Export   = busses will be sent to the master.\n\n"
                       "'0'  Playback = assign channels to direct outputs only.\n"
                       "     Export   = route all channels to the master.  No busses.\n\n"
                       "'1'  Playback = route all channels to outputs 1 and 2.\n"
                       "     Export   = route all channels to the master. No busses.\n\n"
                       "'2'  Playback = route channels to multiple output busses.\n"
                       "     Export   = route all channels to the master. No busses.\n\n"
                       "\nSelect a mix mode\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(ReadFile("param.txt").find("\nmix\t1\n"), std::string::npos);
}

TEST_F(MixerViewTest, BusRoutingAddsAndRemovesChannels) {
  WriteParams("outputs\t4\nch\t8\n");
  WriteLists("", "");
  const RunResult r = Run("bus a 2 2,5,300 a 3 1 r 3 1 c s\n");
  EXPECT_NE(r.out.find("Stereo Bus Assignments: (4 outputs, 2 busses)\n"
                       "\nBus 2\t\tOut 03-04\t\tCh: 2 5 \nEnter 'a' to add"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nBus 3\t\tOut 05-06\t\tCh: 1 "), std::string::npos);
  const std::string saved = ReadFile("param.txt");
  EXPECT_NE(saved.find("bus\t2\t2,5,\n"), std::string::npos) << saved;
  // Removing the last channel of bus 3 takes it out of use.
  EXPECT_EQ(saved.find("bus\t3\t"), std::string::npos);
}

}  // namespace
}  // namespace sondrel::e2e
