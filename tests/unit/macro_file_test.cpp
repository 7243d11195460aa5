// Macro files: the text format (round trip, every kind of bad input), reading
// files from outside with a size limit, opening into the current profile with
// a question before a recording is replaced, exporting, and the recorder
// settings the page sends with updateRecorder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/macro_files.h"
#include "bridge_json.h"
#include "base/read_file.h"
#include "state/macro_file.h"
#include "state/session_file.h"
#include "tools/playback.h"
#include "tools/recorder.h"
#include "app/status_json.h"
#include "tools_test_util.h"

namespace {

const std::string kDir = [] {
  char tmpl[] = "/tmp/pmr-macro-file-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  setenv("XDG_DATA_HOME", dir.c_str(), 1);
  return dir;
}();

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Put(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

const std::vector<UnifiedEvent> kEvents = {
    {kEventMove, 0, 640, 360, 0, 0, false, 0},
    {kEventButton, 0.25, 640, 360, kFlagLeftDown, 0, false, 0},
    {kEventButton, 0.5, 641, 362, kFlagLeftUp, 0, false, 0},
    {kEventKey, 1.125, 0, 0, 0, 65, true, 0},
    {kEventKey, 1234.5678, 0, 0, 0, 65, false, 0},  // written with 6 significant digits
    {kEventWheel, 2000, 0, 0, 0, 0, false, -120},
    {kEventMove, 3, -9223372036854775807LL, 9223372036854775807LL, 0, 0, false, 0},
};

TEST(MacroFileText, HeaderSettingsThenOneEventPerLineAndStableRoundTrip) {
  const std::string line = "0,0,0,100,0,0,1,10,0,0,0,1,1,1,1,1,2.5,1,700,119,118,0,117,0,0,0,100,1,10,120,32,32,0,0,0,121";
  const std::string text = BuildMacroFileText(line, kEvents);
  EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1) + 1), "PMRMACRO 1\nSETTINGS:" + line + "\n");
  EXPECT_NE(text.find("\n2,0.25,640,360,2,0,0,0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n3,1234.57,0,0,0,65,0,0\n"), std::string::npos) << text;

  MacroFile f;
  ASSERT_EQ(ParseMacroFileText(text, f), MacroFileError::kNone);
  EXPECT_EQ(f.settingsLine, line);
  ASSERT_EQ(f.events.size(), kEvents.size());
  EXPECT_EQ(f.events[1], kEvents[1]);
  EXPECT_EQ(f.events[6], kEvents[6]);
  EXPECT_DOUBLE_EQ(f.events[4].time, 1234.57);
  // Written, read and written again: the same bytes.
  EXPECT_EQ(BuildMacroFileText(f.settingsLine, f.events), text);
}

TEST(MacroFileText, FilesOfTheLastVersionAndEditedOrHorizontalWheelEventsRoundTripByteForByte) {
  // A file the previous version exported, and one with what this version
  // adds: horizontal wheel events (type 5) and times an edit made.
  const std::string kept = ReadFile(std::string(PMR_FIXTURES_DIR) + "/macro/holiday-photos.pmrmacro");
  ASSERT_FALSE(kept.empty());
  const std::string added =
      "PMRMACRO 1\nSETTINGS:0,0,0,100,0,0,1,10,0,0,0,1,1,1,1,1,1,0,500,119,118,0,117,0,0,0,100,1,10,120,32,32,0,0,0,121\n"
      "1,0,3,-2,0,0,0,0\n4,0.05,0,0,0,0,0,30\n5,0.1,0,0,0,0,0,-60\n5,0.333333,0,0,0,0,0,120\n";
  for (const std::string& text : {kept, added}) {
    MacroFile f;
    ASSERT_EQ(ParseMacroFileText(text, f), MacroFileError::kNone);
    EXPECT_EQ(BuildMacroFileText(f.settingsLine, f.events), text);
  }
  MacroFile f;
  ASSERT_EQ(ParseMacroFileText(added, f), MacroFileError::kNone);
  ASSERT_EQ(f.events.size(), 4u);
  EXPECT_EQ(f.events[2].type, kEventHWheel);
  EXPECT_EQ(f.events[2].wheelDelta, -60);
}

TEST(MacroFileText, BadInputIsRefusedOrSkippedLineByLine) {
  const std::string ev = "3,0.5,0,0,0,66,1,0\n";
  struct Case {
    const char* what;
    std::string text;
    MacroFileError error;
    size_t events;
  } cases[] = {
      {"empty", "", MacroFileError::kNotOurs, 0},
      {"a session file", "SETTINGS:1,2,3\nCURRENT:0\nPROFILE:x\n" + ev, MacroFileError::kNotOurs, 0},
      {"binary", std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10), MacroFileError::kNotOurs, 0},
      {"header without version", "PMRMACRO \n" + ev, MacroFileError::kNotOurs, 0},
      {"header with words after the version", "PMRMACRO 1 beta\n" + ev, MacroFileError::kNotOurs, 0},
      {"version 0", "PMRMACRO 0\n" + ev, MacroFileError::kNotOurs, 0},
      {"lower-case name", "pmrmacro 1\n" + ev, MacroFileError::kNotOurs, 0},
      {"a later version", "PMRMACRO 2\nSETTINGS:\n" + ev, MacroFileError::kNewerVersion, 0},
      {"a version too large for any number", "PMRMACRO 99999999999999999999\n" + ev, MacroFileError::kNotOurs, 0},
      {"header only", "PMRMACRO 1\n", MacroFileError::kNoEvents, 0},
      {"settings but no events", "PMRMACRO 1\nSETTINGS:1,2\n\n", MacroFileError::kNoEvents, 0},
      {"only bad lines", "PMRMACRO 1\nSETTINGS:\n3,0.5,0,0\nhello\n1,x,0,0,0,0,0,0\n", MacroFileError::kNoEvents, 0},
      {"bad lines among good ones are skipped",
       "PMRMACRO 1\nSETTINGS:\n" + ev + "3,0.5,0,0,0,66,1\n" + "3,1,0,0,-1,66,1,0\n" + "\n" + ev +
           "1,2,3,4,5,6,7,8,9\n",
       MacroFileError::kNone, 3},
      {"no settings line", "PMRMACRO 1\n" + ev, MacroFileError::kNone, 1},
      {"a second settings line is not an event", "PMRMACRO 1\nSETTINGS:\nSETTINGS:1\n" + ev, MacroFileError::kNone, 1},
      {"CRLF line ends", "PMRMACRO 1\r\nSETTINGS:\r\n3,0.5,0,0,0,66,1,0\r\n", MacroFileError::kNone, 1},
      {"byte order mark", "\xEF\xBB\xBFPMRMACRO 1\n" + ev, MacroFileError::kNone, 1},
      {"no final line feed", "PMRMACRO 1\n3,0.5,0,0,0,66,1,0", MacroFileError::kNone, 1},
  };
  for (const Case& c : cases) {
    MacroFile f;
    f.settingsLine = "untouched";
    EXPECT_EQ(ParseMacroFileText(c.text, f), c.error) << c.what;
    if (c.error == MacroFileError::kNone)
      EXPECT_EQ(f.events.size(), c.events) << c.what;
    else
      EXPECT_EQ(f.settingsLine, "untouched") << c.what << ": a refused file changes nothing";
  }
}

TEST(MacroFileRead, OnlyRegularFilesWithinTheLimitAreRead) {
  const std::string big = kDir + "/big.pmrmacro";
  {
    int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const std::string head = "PMRMACRO 1\n";
    ASSERT_EQ(::write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kMaxMacroFileBytes) + 1), 0);  // sparse: nothing is written
    ::close(fd);
  }
  const std::string fifo = kDir + "/pipe.pmrmacro";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // nobody writes: a blocking open would hang
  const std::string good = kDir + "/good.pmrmacro";
  Put(good, "PMRMACRO 1\n3,0,0,0,0,65,1,0\n");
  struct Case {
    std::string path;
    MacroFileError error;
  } cases[] = {{big, MacroFileError::kTooLarge},
               {fifo, MacroFileError::kCannotRead},
               {kDir, MacroFileError::kCannotRead},
               {kDir + "/missing.pmrmacro", MacroFileError::kCannotRead},
               {good, MacroFileError::kNone}};
  for (const Case& c : cases) {
    MacroFile f;
    EXPECT_EQ(ReadMacroFile(c.path, f), c.error) << c.path;
  }
  EXPECT_EQ(MacroFileErrorText(MacroFileError::kTooLarge, "big.pmrmacro"),
            "big.pmrmacro is too large to be a macro (over 64 MiB).");
}

// Peak resident memory since the last ResetPeakMemory, and now (kB).
long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  return -1;
}
bool ResetPeakMemory() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return out.good();
}

void PutKeyLines(const std::string& path, size_t events) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "PMRMACRO 1\n";
  const std::string line = "3,0,0,0,0,65,1,0\n";
  std::string block;
  for (int i = 0; i < 100000; ++i) block += line;
  for (size_t done = 0; done < events; done += 100000) {
    const size_t n = std::min<size_t>(100000, events - done);
    out.write(block.data(), static_cast<std::streamsize>(n * line.size()));
  }
}

// A 64 MiB file of 3.9 million events used to be read whole and kept whole
// before anything was asked: the program grew from 153 to 447 MB. The cap on
// events is checked while counting, so such a file costs no more than the
// piece being read; a file at the cap is kept in exactly its size.
TEST(MacroFileRead, MoreEventsThanTheCapAreRefusedBeforeAnyIsKept) {
  const std::string flood = kDir + "/flood.pmrmacro";
  PutKeyLines(flood, 3900000);
  struct stat st {};
  ASSERT_EQ(::stat(flood.c_str(), &st), 0);
  ASSERT_LE(static_cast<size_t>(st.st_size), kMaxMacroFileBytes) << "the file is within the byte cap";

  const bool measured = ResetPeakMemory();
  const long before = StatusKb("VmRSS:");
  MacroFile f;
  EXPECT_EQ(ReadMacroFile(flood, f), MacroFileError::kTooManyEvents);
  const long peak = StatusKb("VmHWM:");
  EXPECT_TRUE(f.events.empty());
  if (measured && before > 0 && peak > 0)
    EXPECT_LT(peak - before, 16 * 1024) << "kB more at the peak of reading a refused file";
  else
    ADD_FAILURE() << "peak memory cannot be measured here (/proc/self/clear_refs)";
  EXPECT_EQ(MacroFileErrorText(MacroFileError::kTooManyEvents, "flood.pmrmacro"),
            "flood.pmrmacro was not opened: it holds more than 1,000,000 events, more than a macro can have.");
  ::unlink(flood.c_str());

  // The same from text in memory, one event over the cap.
  std::string text = "PMRMACRO 1\n";
  for (size_t i = 0; i <= kMaxMacroFileEvents; ++i) text += "4,0,0,0,0,0,0,1\n";
  EXPECT_EQ(ParseMacroFileText(text, f), MacroFileError::kTooManyEvents);
  text.resize(text.size() - std::string("4,0,0,0,0,0,0,1\n").size());
  ASSERT_EQ(ParseMacroFileText(text, f), MacroFileError::kNone);
  EXPECT_EQ(f.events.size(), kMaxMacroFileEvents);
  EXPECT_EQ(f.events.capacity(), kMaxMacroFileEvents);

  // Overlong lines are dropped as they arrive, whatever they hold.
  const std::string longLine = "3,0,0,0,0,65,1,0" + std::string(kMaxMacroLineBytes, ' ') + "\n";
  ASSERT_EQ(ParseMacroFileText("PMRMACRO 1\n" + longLine + "3,1,0,0,0,66,1,0\n", f), MacroFileError::kNone);
  ASSERT_EQ(f.events.size(), 1u);
  EXPECT_EQ(f.events[0].vk, 66);
  EXPECT_EQ(ParseMacroFileText("PMRMACRO 1" + std::string(kMaxMacroLineBytes, ' ') + "\n3,1,0,0,0,66,1,0\n", f),
            MacroFileError::kNotOurs);
}

// ---- opening and exporting ----------------------------------------------------

class MacroOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    toolstest::ResetAll();
    ResetMacroFilesForTest();
  }
  void TearDown() override {
    toolstest::ResetAll();
    ResetMacroFilesForTest();
  }
  static bridgetest::Json Status() {
    std::string text;
    {
      std::lock_guard<std::mutex> lock(profileMutex);
      text = BuildStatusJson("[]");
    }
    bridgetest::Json j;
    EXPECT_TRUE(bridgetest::ParseJson(text, j)) << text;
    return j;
  }
  static std::string Note() { return Status()["note"].s; }
  static void SetEvents(std::vector<UnifiedEvent> events) {
    std::lock_guard<std::mutex> lock(profileMutex);
    profiles[0].events = std::move(events);
  }
  // A macro file made on another machine: relative movement, speed 2.5,
  // looping with 700 ms, and hotkeys of its own.
  static std::string ForeignMacro(const std::string& name, size_t events) {
    std::string text =
        "PMRMACRO 1\nSETTINGS:9,9,9,9,2,1,0,3,1,5,5,1,0,1,0,1,2.5,1,700,65,66,0,67,0,0,0,100,1,10,68,32,32,0,0,0,69\n";
    for (size_t i = 0; i < events; ++i) text += "3," + std::to_string(i) + ",0,0,0,65," + (i % 2 ? "0" : "1") + ",0\n";
    const std::string path = kDir + "/" + name;
    Put(path, text);
    return path;
  }
};

TEST_F(MacroOpenTest, EveryFileIsAskedAboutAndItsPlaybackSettingsTakenOnlyWhenAskedFor) {
  struct Case {
    const char* answer;
    size_t events;      // in the profile afterwards
    bool relative;      // how the events were recorded: taken with them
    float speed;        // playback settings: only with the box ticked
    bool loop;
    int loopMs;
    const char* note;
  } cases[] = {
      {"0", 0, false, 1.0f, false, 500, "walk.pmrmacro was not opened; the recording is unchanged."},
      {"1", 4, true, 1.0f, false, 500, "Opened walk.pmrmacro: 4 events."},
      {"1,0", 4, true, 1.0f, false, 500, "Opened walk.pmrmacro: 4 events."},
      {"1,1", 4, true, 2.5f, true, 700, "Opened walk.pmrmacro: 4 events, with its playback settings."},
  };
  for (const Case& c : cases) {
    SetUp();
    OpenMacroFiles({ForeignMacro("walk.pmrmacro", 4)});
    // Nothing is loaded or applied before the answer, into an empty profile too.
    EXPECT_TRUE(toolstest::Events().empty()) << c.answer;
    EXPECT_FALSE(bUseRelativeMouse) << c.answer;
    EXPECT_FLOAT_EQ(fPlaybackSpeed, 1.0f) << c.answer;
    EXPECT_EQ(Status()["macroAsk"].s, "walk.pmrmacro") << c.answer;
    bridgetest::Json ask;
    ASSERT_TRUE(bridgetest::ParseJson(MacroAskJson(), ask));
    EXPECT_EQ(ask["name"].s, "walk.pmrmacro");
    EXPECT_EQ(ask["recorded"].n, 0);
    EXPECT_EQ(ask["summary"]["events"].n, 4);
    EXPECT_EQ(ask["summary"]["speed"].n, 2.5);
    EXPECT_EQ(ask["current"]["speed"].n, 1);
    // An answer to another question changes nothing.
    AnswerMacroOpen(std::string(c.answer) + ",1," + std::to_string(static_cast<int64_t>(ask["id"].n) + 1));
    EXPECT_TRUE(toolstest::Events().empty()) << c.answer;
    EXPECT_EQ(Status()["macroAsk"].s, "walk.pmrmacro") << c.answer;

    AnswerMacroOpen(c.answer);
    EXPECT_EQ(toolstest::Events().size(), c.events) << c.answer;
    EXPECT_EQ(bUseRelativeMouse, c.relative) << c.answer;
    EXPECT_FLOAT_EQ(fPlaybackSpeed, c.speed) << c.answer;
    EXPECT_EQ(bLoopSequence, c.loop) << c.answer;
    EXPECT_EQ(iLoopIntervalMs, c.loopMs) << c.answer;
    EXPECT_EQ(Note(), c.note);
    EXPECT_EQ(MacroAskJson(), "null");
    // Hotkeys and tool settings of the other machine stay there, whatever the answer.
    EXPECT_EQ(vkRecord.load(), kDefaultVkRecord);
    EXPECT_EQ(autoClickIntervalHours, 0);
    EXPECT_EQ(keySpamTargetCount.load(), 1);
  }
}

// The received file of the report: Ctrl+Alt+T, then "touch ~/pwned" and
// Enter, looping at speed 10. It used to load at once into an empty profile
// with its loop and speed, from the command line, a second start, a drop or
// Open; one F7 then ran it 19 times in 3 s.
TEST_F(MacroOpenTest, AReceivedFileNeverLoadsWithoutTheQuestionShowingWhatItTypes) {
  const std::string path = std::string(PMR_FIXTURES_DIR) + "/macro/holiday-photos.pmrmacro";
  struct Case {
    const char* how;
    std::function<void()> open;
  } cases[] = {
      // Command line, second start and drop all reach the open-files handler.
      {"open-files handler", [&] { OpenMacroFiles({path}); }},
      {"Open dialog", [&] { OpenMacroFile(path); }},
  };
  for (const Case& c : cases) {
    SetUp();
    c.open();
    EXPECT_TRUE(toolstest::Events().empty()) << c.how;
    EXPECT_FALSE(bLoopSequence) << c.how;
    EXPECT_FLOAT_EQ(fPlaybackSpeed, 1.0f) << c.how;
    bridgetest::Json ask;
    ASSERT_TRUE(bridgetest::ParseJson(MacroAskJson(), ask)) << c.how;
    ASSERT_EQ(ask.kind, bridgetest::Json::Object) << c.how << ": no question asked";
    EXPECT_NE(ask["summary"]["text"].s.find("touch ~/pwned\u23CE"), std::string::npos) << ask["summary"]["text"].s;
    ASSERT_EQ(ask["summary"]["shortcuts"].items.size(), 1u) << c.how;
    EXPECT_EQ(ask["summary"]["shortcuts"].items[0]["keys"].s, "Ctrl+Alt+T");
    EXPECT_TRUE(ask["summary"]["shortcuts"].items[0]["flagged"].b);
    EXPECT_TRUE(ask["summary"]["loop"].b);
    EXPECT_EQ(ask["summary"]["speed"].n, 10);
    // A second file while the question waits is not opened over it.
    OpenMacroFiles({ForeignMacro("other.pmrmacro", 2)});
    EXPECT_EQ(Note(), "other.pmrmacro was not opened: answer the question about holiday-photos.pmrmacro first.");
    // Loaded without the box ticked: its loop and speed stay out.
    AnswerMacroOpen("1,0," + std::to_string(static_cast<int64_t>(ask["id"].n)));
    EXPECT_EQ(toolstest::Events().size(), 36u) << c.how;
    EXPECT_FALSE(bLoopSequence) << c.how;
    EXPECT_FLOAT_EQ(fPlaybackSpeed, 1.0f) << c.how;
  }
}

TEST_F(MacroOpenTest, ReplacingARecordingIsAskedFirst) {
  const std::vector<UnifiedEvent> mine = {kEvents[0], kEvents[1], kEvents[2]};
  struct Case {
    const char* answer;
    size_t eventsAfter;
    const char* note;
  } cases[] = {{"0", 3, "big.pmrmacro was not opened; the recording is unchanged."},
               {"1", 2049, "Opened big.pmrmacro: 2,049 events."}};
  for (const Case& c : cases) {
    SetUp();
    SetEvents(mine);
    OpenMacroFiles({ForeignMacro("big.pmrmacro", 2049)});
    EXPECT_EQ(toolstest::Events(), mine) << "nothing changes before the answer";
    bridgetest::Json j = Status();
    EXPECT_EQ(j["macroAsk"].s, "big.pmrmacro");
    EXPECT_EQ(j["macroAskCount"].n, 2049);
    AnswerMacroOpen(c.answer);
    EXPECT_EQ(toolstest::Events().size(), c.eventsAfter) << c.answer;
    EXPECT_EQ(Note(), c.note);
    EXPECT_EQ(Status()["macroAsk"].s, "");
    AnswerMacroOpen("1");  // nothing waits any more
    EXPECT_EQ(toolstest::Events().size(), c.eventsAfter) << c.answer;
  }
}

TEST_F(MacroOpenTest, FilesThatCannotBeOpenedSaySoAndChangeNothing) {
  const std::vector<UnifiedEvent> mine = {kEvents[3]};
  Put(kDir + "/notes.pmrmacro", "shopping list\n");
  Put(kDir + "/empty.pmrmacro", "PMRMACRO 1\nSETTINGS:\n");
  Put(kDir + "/look.pmrtheme", "{}");
  Put(kDir + "/old.mcr", "x");
  struct Case {
    std::vector<std::string> paths;
    std::string note;
  } cases[] = {
      {{kDir + "/notes.pmrmacro"}, "notes.pmrmacro is not a Pellomar macro file."},
      {{kDir + "/empty.pmrmacro"}, "empty.pmrmacro holds no events that could be read."},
      {{kDir + "/gone.pmrmacro"}, "gone.pmrmacro could not be read."},
      {{kDir + "/look.pmrtheme"}, "look.pmrtheme: theme files are not supported yet."},
      {{kDir + "/old.mcr", kDir + "/look.pmrtheme"},
       "old.mcr: .mcr macro files are not supported yet. look.pmrtheme: theme files are not supported yet."},
      {{kDir + "/readme.txt"}, "readme.txt is not a Pellomar macro file."},
  };
  for (const Case& c : cases) {
    SetEvents(mine);
    const float speed = fPlaybackSpeed;
    OpenMacroFiles(c.paths);
    EXPECT_EQ(Note(), c.note);
    EXPECT_EQ(toolstest::Events(), mine) << c.note;
    EXPECT_EQ(fPlaybackSpeed, speed) << c.note;
    EXPECT_EQ(Status()["macroAsk"].s, "") << c.note;
  }
  // Not while recording or playing: the recording belongs to them.
  SetEvents({});
  isPlaying.store(true);
  OpenMacroFiles({ForeignMacro("walk.pmrmacro", 2)});
  EXPECT_EQ(Note(), "Stop the playback before opening walk.pmrmacro.");
  EXPECT_TRUE(toolstest::Events().empty());
}

TEST_F(MacroOpenTest, ExportOpenExportGivesTheSameBytesAndPlaysTheSameEvents) {
  SetEvents(kEvents);
  bUseRelativeMouse = true;
  fPlaybackSpeed = 0.5f;
  EXPECT_TRUE(ExportCurrentMacroTo(kDir + "/first"));  // the extension is added
  EXPECT_EQ(Note(), "Exported 7 events to first.pmrmacro.");
  const std::string first = Slurp(kDir + "/first.pmrmacro");
  ASSERT_FALSE(first.empty());

  // Elsewhere: other settings, nothing recorded.
  toolstest::ResetAll();
  OpenMacroFiles({kDir + "/first.pmrmacro"});
  AnswerMacroOpen("1,1");
  EXPECT_TRUE(bUseRelativeMouse);
  EXPECT_FLOAT_EQ(fPlaybackSpeed, 0.5f);
  const std::vector<UnifiedEvent> opened = toolstest::Events();
  ASSERT_EQ(opened.size(), kEvents.size());
  for (size_t i = 0; i < opened.size(); ++i)
    EXPECT_EQ(PlaybackActionFor(opened[i], true), PlaybackActionFor(kEvents[i], true)) << i;

  EXPECT_TRUE(ExportCurrentMacroTo(kDir + "/second.pmrmacro"));
  EXPECT_EQ(Slurp(kDir + "/second.pmrmacro"), first);

  // Nothing recorded: nothing written.
  SetEvents({});
  EXPECT_FALSE(ExportCurrentMacroTo(kDir + "/third.pmrmacro"));
  EXPECT_EQ(Note(), "Nothing to export yet: record a macro first.");
  struct stat st;
  EXPECT_NE(::stat((kDir + "/third.pmrmacro").c_str(), &st), 0);
  // A place that cannot be written says so.
  SetEvents(kEvents);
  EXPECT_FALSE(ExportCurrentMacroTo(kDir + "/no-such-dir/x.pmrmacro"));
  EXPECT_EQ(Note(), "x.pmrmacro could not be saved.");
}

TEST(MacroFileName, SuggestedNamesAreSafeFileNames) {
  struct Case {
    const char* profile;
    const char* file;
  } cases[] = {{"Default Tracking Profile", "Default Tracking Profile.pmrmacro"},
               {"a/b\\c:d", "a_b_c_d.pmrmacro"},
               {"", "macro.pmrmacro"},
               {"..hidden", "hidden.pmrmacro"},
               {"  ", "macro.pmrmacro"},
               {"tab\there", "tab_here.pmrmacro"}};
  for (const Case& c : cases) EXPECT_EQ(SuggestedMacroFileName(c.profile), c.file) << c.profile;
}

// ---- updateRecorder --------------------------------------------------------------

TEST(RecorderUpdate, FieldsApplyMissingOrUnreadableOnesKeepTheirValue) {
  struct Values {
    bool keyboard, clicks, movement, wheel, relative;
    float speed;
    bool loop;
    int loopMs;
    bool operator==(const Values&) const = default;
  };
  auto now = [] {
    return Values{bRecordKeyboard,   bRecordMouseClicks, bRecordMouseMovement, bRecordMouseScroll,
                  bUseRelativeMouse, fPlaybackSpeed,     bLoopSequence,        iLoopIntervalMs};
  };
  const Values defaults{true, true, true, true, false, 1.0f, false, 500};
  struct Case {
    const char* list;
    Values expect;
  } cases[] = {
      {"0,0,0,0,1,2.5,1,250", {false, false, false, false, true, 2.5f, true, 250}},
      {"", defaults},
      {",,,,,,,", defaults},
      {"0", {false, true, true, true, false, 1.0f, false, 500}},
      {",,,,1", {true, true, true, true, true, 1.0f, false, 500}},
      {"x,true,NaN,inf,,fast,yes,-", defaults},
      {",,,,,0.01,,-40", {true, true, true, true, false, 0.1f, false, 0}},
      {",,,,,50,,99999999999", {true, true, true, true, false, 10.0f, false, kMaxLoopIntervalMs}},
      {",,,,,0.25 ,2, 1500.9", {true, true, true, true, false, 0.25f, true, 1500}},
      {"1,1,1,1,1,1,1,1,extra,fields", {true, true, true, true, true, 1.0f, true, 1}},
  };
  for (const Case& c : cases) {
    toolstest::ResetAll();
    ApplyRecorderUpdate(c.list);
    EXPECT_TRUE(now() == c.expect) << c.list;
  }
  // The profile's settings line is refreshed, as after every settings change.
  toolstest::ResetAll();
  ApplyRecorderUpdate("0");
  std::lock_guard<std::mutex> lock(profileMutex);
  EXPECT_FALSE(profiles[0].settingsLine.empty());
}

}  // namespace
