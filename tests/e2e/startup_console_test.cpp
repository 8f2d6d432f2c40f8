// End to end: start-up, device set-up on ALSA's null device and the command
// loop, driven through standard input like a user at the prompt.
#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using StartupTest = ProjectTest;
using ConsoleTest = ProjectTest;

TEST_F(StartupTest, FirstRunWritesSettingsAfterDeviceSetUp) {
  const RunResult r = Run("c 8 8 16 null 2 x\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("\nSondrel", 0), 0u);
  EXPECT_NE(r.out.find("version 3.76 (r53)\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nThe param.txt file was not found.\nParameters are stored in this file.\n"
                       "\nEnter 'c' to create this file now or 'x' to exit\n"
                       "\nEnter the number of audio interface INPUTS: "
                       "\nEnter the number of audio interface OUTPUTS: "
                       "\nEnter the maxiumum number of audio TRACKS needed: "
                       "\nEnter soundcard device name or 'd' for default: "
                       "\nEnter project sample rate or\n1 = 44100,  2 = 48000,  3 = 88200,  4 = 96000\n"),
            std::string::npos);
  // Both list files are created on a first run in an empty directory.
  EXPECT_NE(r.out.find("-------------------------\nCould not find the record file list called record.txt\n"
                       "Created a file called record.txt that you will need.\n"
                       "Put a list of wave files in this list, one per line.\n"
                       "Each line will be assigned to an input hardware channel.\n"
                       "Use a '-' on a line to skip over channel.\n-------------------------\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("Cound not find the playlist file called play.txt\n"
                       "Created a file called play.txt that you will need.\n"),
            std::string::npos);
  EXPECT_TRUE(Exists("record.txt"));
  EXPECT_TRUE(Exists("play.txt"));
  EXPECT_NE(r.out.find("-------------------------\nRequested Parameters:\nDevice\tnull\nRate\t48000\nBuffer\t1024\n"
                       "-------------------------\n\nConfiguration:\nInterface inputs  = 8\n"
                       "Interface outputs = 8\nTracks (maximum)  = 16\n"),
            std::string::npos);
  const std::string table =
      "\nReturned Driver Parameters:\n\tBuffer\tPeriods\tRate\tChannels\n"
      "Play\t1024\t4\t48000\t8\nRecord\t1024\t4\t48000\t8\n-----------------------------------------\n\n";
  const std::size_t tableAt = r.out.find(table);
  ASSERT_NE(tableAt, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Created param.txt file\n", tableAt), std::string::npos);
  EXPECT_EQ(ReadFile("param.txt"), "dv\tnull\nsr\t48000\ninputs\t8\noutputs\t8\nch\t16\nbuf\t1024\nint\t1\n");
}

TEST_F(StartupTest, FirstRunQuestionIgnoresOtherWordsAndExitsWithTwo) {
  const RunResult r = Run("yes x\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(Exists("param.txt"));
  EXPECT_EQ(r.out.find("INPUTS"), std::string::npos);
}

TEST_F(StartupTest, UnopenableDeviceEndsWithOneAndWritesNoSettings) {
  const RunResult r = Run("c 2 2 2 no_such_device 1 x\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Playback device could not be opened: "), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Returned Driver Parameters"), std::string::npos);
  EXPECT_FALSE(Exists("param.txt"));
}

TEST_F(StartupTest, CountsResolvedFromSettingsAndEmptyRecordListNoted) {
  WriteParams("ch\t12\n");
  WriteLists("", "");
  const RunResult r = Run("x\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Interface inputs  = 12\nInterface outputs = 2\nTracks (maximum)  = 12\n"), std::string::npos);
  EXPECT_NE(r.out.find("-------------------------\nNote: The record.txt file is empty!\n-------------------------\n"),
            std::string::npos);
  EXPECT_EQ(r.out.find("Created param.txt"), std::string::npos);
}

TEST_F(StartupTest, MissingNamedPlaylistCreatesPlayTxt) {
  WriteParams("play\t1\tsongs.txt\n");
  WriteFile("record.txt", "a.wav\n");
  RunResult r = Run("x play.txt\n");
  EXPECT_NE(r.out.find("Cound not find the playlist file called songs.txt\nCreated a file called play.txt"),
            std::string::npos);
  EXPECT_TRUE(Exists("play.txt"));
  EXPECT_FALSE(Exists("songs.txt"));
  // The exit reads the current lists too, and asks while one is missing.
  EXPECT_NE(r.out.find("Cannot find playlist file called songs.txt\nCreate the file or enter a different name\n"),
            std::string::npos);
  EXPECT_EQ(r.status, 0);
}

TEST_F(ConsoleTest, PositionsRoundUpToTheBlockGridAndSaveWritesThem) {
  WriteParams("buf\t1024\ni\t1\no\t1025\ne\t1024\nmem\t-5\nrange\t1\t2047\tverse one\nloc\t3000\tchorus\n");
  WriteLists("", "");
  const RunResult r = Run("s x\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\nStored Settings\n\n"), std::string::npos);
  const std::string saved = ReadFile("param.txt");
  EXPECT_NE(saved.find("\ni\t1024\no\t2048\ne\t1024\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\nmem\t0\n"), std::string::npos);
  EXPECT_NE(saved.find("range\t1024\t2048\tverse one\n"), std::string::npos);
  EXPECT_NE(saved.find("loc\t3072\tchorus\n"), std::string::npos);
}

TEST_F(ConsoleTest, GrantedPeriodOtherThanRequestedIsWarnedAndUsed) {
  WriteParams("buf\t1000\ni\t1001\n");
  WriteLists("", "");
  const RunResult r = Run("s x\n");
  // The null device grants any size: 1000 is asked for and granted.
  EXPECT_EQ(r.out.find("Driver did not return"), std::string::npos);
  EXPECT_NE(r.out.find("Play\t1000\t4\t44100\t2\n"), std::string::npos);
  EXPECT_NE(ReadFile("param.txt").find("\ni\t2000\n"), std::string::npos);
}

TEST_F(ConsoleTest, StatusDisplayInSecondsAndShortForm) {
  // 2 s in, 1 s punch, 10 s out at 44100 Hz, all on the 1024 grid already.
  WriteParams("i\t88064\ne\t44032\no\t440320\nmem\t0\n");
  WriteLists("", "");
  RunResult r = Run("x\n");
  EXPECT_NE(r.out.find("Time functions:  (memory = 0.00)\n\n"
                       "   'i' to set play start (2.00)\n"
                       "   'o' to set play/record stop (9.98)\n"
                       "   'e' to set record enter (1.00)\n"
                       "\nTransport:\n\n"
                       "   'p' to play from 2.00 to 9.98.\n"
                       "   'r' to play from 2.00 and record from 2.00 to 9.98.\n"
                       "   'R' to record without playback from 1.00 to 9.98.\n"
                       "\n   '+' for all functions\n"
                       "   's' to save all settings to param.txt file\n"
                       "   'x' to exit program\n"),
            std::string::npos)
      << r.out;

  WriteParams("int\t0\ni\t88064\ne\t44032\no\t440320\n");
  r = Run("x\n");
  EXPECT_NE(r.out.find("Play: 2.00   Rec: 1.00   Stop: 9.98   Mem: 0.00\n"), std::string::npos);
  EXPECT_EQ(r.out.find("Time functions"), std::string::npos);
}

TEST_F(ConsoleTest, StatusDisplayInMeasures) {
  // 120 bpm, 4/4 at 48000 Hz: 96000 samples is measure 2, 120000 is 2.2.
  WriteParams("sr\t48000\ntmode\t1\nbuf\t1000\ni\t96000\ne\t120000\no\t192000\n");
  WriteLists("", "");
  const RunResult r = Run("x\n");
  EXPECT_NE(r.out.find("Time functions:  (memory = 1.1.00)\n\n"
                       "   'i' to set play start  (2.1.00)\n"
                       "   'o' to set play/record stop (3.1.00)\n"
                       "   'e' to set record enter (2.2.00)\n"
                       "\nTransport:\n\n"
                       "   'p' to play from 2.1.00 to 3.1.00\n"
                       "   'r' to play from 2.1.00 and record from 2.2.00 to 3.1.00\n"
                       "   'R' to record without playback from 2.2.00 to 3.1.00\n"),
            std::string::npos)
      << r.out;
}

TEST_F(ConsoleTest, HelpNeedsExactWordsAndWaitsForC) {
  WriteParams("");
  WriteLists("", "");
  const RunResult r = Run("hh h x cc c x\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(CountOf(r.out, "\nFunctions:\n\nMonitoring:\n"), 1);
  EXPECT_NE(r.out.find("   'l.i' 'l.o' or 'l.e' to recall times from locate point\n\nEnter 'c' continue\n"),
            std::string::npos);
  // "hh" changed nothing: one prompt each for hh, h and the final x.
  EXPECT_EQ(CountOf(r.out, "   'x' to exit program\n"), 3);
}

TEST_F(ConsoleTest, EndOfInputLeavesCleanly) {
  WriteParams("");
  WriteLists("", "");
  const RunResult r = Run("s\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Exists("param.txt"));
  EXPECT_FALSE(Exists("param.txt.tmp"));
}

TEST_F(ConsoleTest, OverlongWordsAreCutNotOverrun) {
  WriteParams("");
  WriteLists("", "");
  const RunResult r = Run(std::string(100000, 'z') + " x\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(CountOf(r.out, "   'x' to exit program\n"), 2);
}

}  // namespace
}  // namespace sondrel::e2e
