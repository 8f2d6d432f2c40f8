// End to end: the track list listings, the solo menu and the list-file menus.
#include <string>

#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using TrackListTest = ProjectTest;

const std::string kPlayHeading = "Source\t\t\tSolo\tDestination\n";

TEST_F(TrackListTest, PlaylistChannelsSkipsAndDirectOutputs) {
  WriteParams("inputs\t2\noutputs\t2\nch\t8\nsolo\t3\n");
  WriteLists("in1.wav\n-\nin3.wav\nin4.wav\n", "a.wav\n\n-\nb.wav\n-old.wav\na_very_long_track_name.wav\n");
  const RunResult r = Run("lp c lr c x\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("File: play.txt\n" + kPlayHeading + "a.wav\t\toff\tOut 1\nb.wav\t\tON\tOut (3)\n"
                       "a_very_long_\t\toff\tOut (5)\n-------------------------\nEnter 'c' to continue\n"),
            std::string::npos)
      << r.out;
  // Only two inputs exist, so in3.wav and in4.wav have no channel.
  EXPECT_NE(r.out.find("File: record.txt\nSource\t\tStatus\t\tDestination\nIn 1\t\tARMED\t\tin1.wav\n"
                       "-------------------------\nEnter 'c' to continue\n"),
            std::string::npos)
      << r.out;
}

TEST_F(TrackListTest, DestinationsInTheMixModes) {
  WriteLists("", "one.wav\ntwo.wav\nthree.wav\nfour.wav\nfive.wav\n");
  WriteParams("inputs\t2\noutputs\t4\nch\t8\nmix\t1\n");
  RunResult r = Run("lp c x\n");
  EXPECT_NE(r.out.find(kPlayHeading + "one.wav\t\toff\tOut 1 2\ntwo.wav\t\toff\tOut 1 2\n"
                                      "three.wav\t\toff\tOut 1 2 3\nfour.wav\t\toff\tOut 1 2 4\n"
                                      "five.wav\t\toff\tOut 1 2 (5)\n"),
            std::string::npos)
      << r.out;

  // Bus 1 carries channels 1 and 3; bus 2 is empty, so channel 3 also plays
  // directly on output 3 and channel 4 on output 4; bus 3 is beyond the outputs.
  WriteParams("inputs\t2\noutputs\t4\nch\t8\nmix\t2\nbus\t1\t1,3,\nbus\t3\t2,\n");
  r = Run("lp c x\n");
  EXPECT_NE(r.out.find("one.wav\t\toff\tOut 1 2 \ntwo.wav\t\toff\tOut (5 6) \nthree.wav\t\toff\tOut 1 2 3 \n"
                       "four.wav\t\toff\tOut 4 \nfive.wav\t\toff\tOut \n"),
            std::string::npos)
      << r.out;

  WriteParams("inputs\t2\noutputs\t4\nch\t8\nmix\t3\nbus\t1\t1,3,\nbus\t3\t2,3,\n");
  r = Run("lp c x\n");
  EXPECT_NE(r.out.find("one.wav\t\toff\tOut 1 2 \ntwo.wav\t\toff\tBus 3 -> Out 1 2 \n"
                       "three.wav\t\toff\tOut 1 2 Bus 3 -> Out 1 2 \nfour.wav\t\toff\t\n"),
            std::string::npos)
      << r.out;
}

TEST_F(TrackListTest, MissingListsAreReportedAndStillWaitForContinue) {
  WriteParams("inputs\t2\noutputs\t2\nch\t2\nrec\t1\tgone.txt\nplay\t1\tlost.txt\n");
  WriteLists("", "");
  WriteFile("takes.txt", "");
  WriteFile("songs.txt", "");
  const RunResult r = Run("lr x c lp c x songs.txt takes.txt\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Cannot find recordlist file called gone.txt\nEnter 'c' to continue\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Playlist file called lost.txt was not found!\nEnter 'c' to continue\n"),
            std::string::npos);
  // The "x" typed while the listing waited did not end the program there.
  EXPECT_NE(r.out.find("Cannot find playlist file called lost.txt\nCreate the file or enter a different name\n"
                       "Cannot find recordlist file called gone.txt\nCreate the file or enter a different name\n"),
            std::string::npos);
}

TEST_F(TrackListTest, SoloMenuTakesOnlyTrackNumbersThatExist) {
  WriteParams("inputs\t2\noutputs\t2\nch\t8\n");
  WriteLists("", "");
  const RunResult r = Run("so a 2,5,x,300 a 0,9 d s so r 2,7 d x\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Solo Enabled Tracks: (none)\n'a' add, 'r' remove, 'd' done\n"
                       "Enter track number to add, or multiple if comma separated\n"
                       "Solo Enabled Tracks: 2 5\n'a' add, 'r' remove, 'd' done\n"
                       "Enter track number to add, or multiple if comma separated\n"
                       "Solo Enabled Tracks: 2 5\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Enter track number to remove, or multiple if comma separated\nSolo Enabled Tracks: 5\n"),
            std::string::npos);
  EXPECT_NE(ReadFile("param.txt").find("\nSolo Settings:\nsolo\t2\nsolo\t5\n\n"), std::string::npos);
}

TEST_F(TrackListTest, PlaylistFileMenuPositionsAndNames) {
  WriteParams("inputs\t2\noutputs\t2\nch\t2\nplay\t3\tthird.txt\n");
  WriteLists("", "");
  WriteFile("new.txt", "");
  const std::string longName(300, 'n');
  const RunResult r = Run("pf 0 pf 200 pf a extra.txt 7 d pf 3abc rf " + longName + " s pf 5 x new.txt record.txt\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Stored playlist filenames:\n\n1\tplay.txt\n3\tthird.txt\n"
                       "\nCurrently playing from play.txt\n\nEnter a new filename to load\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Set to play from 0\n\n"), std::string::npos);
  EXPECT_NE(r.out.find("Set to play from 200\n\n"), std::string::npos);
  EXPECT_NE(r.out.find("Enter the filename to add\nEnter the list position (1-128)\nSet to play from 200\n\n"
                       "Stored playlist filenames:\n\n1\t200\n3\tthird.txt\n7\textra.txt\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("Set to play from third.txt\n\n"), std::string::npos);
  // Position 5 is empty: the current name becomes empty and the exit asks.
  EXPECT_NE(r.out.find("Set to play from \n\n"), std::string::npos);
  EXPECT_NE(r.out.find("Cannot find playlist file called \nCreate the file or enter a different name\n"),
            std::string::npos);
  const std::string params = ReadFile("param.txt");
  EXPECT_NE(params.find("play\t1\tthird.txt\nplay\t3\tthird.txt\nplay\t7\textra.txt\n"), std::string::npos)
      << params;
  EXPECT_NE(r.out.find("Set to record from " + std::string(127, 'n') + "\n\n"), std::string::npos);
  EXPECT_NE(params.find("rec\t1\t" + std::string(127, 'n') + "\n"), std::string::npos);
}

}  // namespace
}  // namespace sondrel::e2e
