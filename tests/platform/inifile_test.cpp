// INI files: reading rules, writes that keep the file, atomic replacement.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "Exception.h"
#include "IniFile.h"
#include "TestSupport.h"

using namespace kd;
using kdtest::ReadFile;
using kdtest::TempDir;
using kdtest::WriteFile;

namespace {

const char* const kSample =
    "; settings\n"
    "orphan=before any section\n"
    "[Setup]\n"
    "  LastPort = 3  \n"
    "Hex=0x1F\n"
    "Dollar= $ff \n"
    "Wrap=0xFFFFFFFF\n"
    "Signed= -12\n"
    "Garbage=12abc\n"
    "Big=4294967296\n"
    "Empty=\n"
    "Float=2.5\n"
    "BadFloat=2,5\n"
    "Yes=7\n"
    "No=0\n"
    "Quoted=\"12\",\"-3\",\"0\"\n"
    "lastport=99\n"
    "no equals sign here\n"
    "[ other ]\n"
    "; only a comment\n"
    "[Keyless]\n"
    "[SETUP]\n"
    "Later=from second block\n"
    "Hex=ignored duplicate\n";

}  // namespace

TEST(IniFile, ReadsFollowProfileRules) {
  TempDir dir;
  const std::string path = dir.File("a.ini");
  WriteFile(path, kSample);
  IniFile ini(path);
  WriteFile(path, "[Setup]\nLastPort=5\n");  // parsed once: later changes are not seen

  struct IntCase { const char* key; int expected; } ints[] = {
      {"lastport", 3}, {"HEX", 31}, {"Dollar", 255}, {"Wrap", -1}, {"Signed", -12},
      {"Garbage", -7}, {"Big", -7}, {"Empty", -7}, {"Float", -7}, {"Missing", -7},
  };
  for (const auto& c : ints) EXPECT_EQ(ini.ReadInteger("setup", c.key, -7), c.expected) << c.key;

  struct BoolCase { const char* key; bool def; bool expected; } bools[] = {
      {"Yes", false, true}, {"No", true, false}, {"Garbage", true, true}, {"Missing", false, false},
  };
  for (const auto& c : bools) EXPECT_EQ(ini.ReadBool("Setup", c.key, c.def), c.expected) << c.key;

  struct FloatCase { const char* key; double expected; } floats[] = {
      {"Float", 2.5}, {"LastPort", 3.0}, {"BadFloat", -1.0}, {"Empty", -1.0}, {"Missing", -1.0},
  };
  for (const auto& c : floats) EXPECT_DOUBLE_EQ(ini.ReadFloat("Setup", c.key, -1.0), c.expected) << c.key;

  EXPECT_EQ(ini.ReadString("Setup", "Quoted", ""), "\"12\",\"-3\",\"0\"");  // quotes kept
  EXPECT_EQ(ini.ReadString("Setup", "Empty", "def"), "");
  EXPECT_TRUE(ini.ValueExists("Setup", "Empty"));
  EXPECT_EQ(ini.ReadString("Setup", "Later", ""), "from second block");
  EXPECT_EQ(ini.ReadString("Setup", "no equals sign here", "none"), "none");
  EXPECT_EQ(ini.ReadString("", "orphan", "none"), "none");
}

TEST(IniFile, SectionReads) {
  TempDir dir;
  const std::string path = dir.File("a.ini");
  WriteFile(path, kSample);
  IniFile ini(path);

  StringList list;
  ini.ReadSections(list);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Setup", "other", "Keyless"}));

  ini.ReadSection("SETUP", list);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"LastPort", "Hex", "Dollar", "Wrap", "Signed", "Garbage",
                                                    "Big", "Empty", "Float", "BadFloat", "Yes", "No", "Quoted",
                                                    "Later"}));
  ini.ReadSectionValues("Setup", list);
  EXPECT_EQ(list.Count(), 13);  // all but Empty
  EXPECT_EQ(list[0], "LastPort=3");
  EXPECT_EQ(list.Values("hex"), "0x1F");
  EXPECT_EQ(list.IndexOfName("Empty"), -1);

  EXPECT_TRUE(ini.SectionExists("setup"));
  EXPECT_FALSE(ini.SectionExists("other"));  // a comment only
  EXPECT_FALSE(ini.SectionExists("Keyless"));
  EXPECT_FALSE(ini.SectionExists("Nowhere"));

  IniFile missing(dir.File("missing.ini"));
  missing.ReadSections(list);
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(missing.ReadInteger("Setup", "LastPort", 1), 1);
}

TEST(IniFile, WritesKeepEveryOtherLineInPlace) {
  struct Case {
    const char* name;
    const char* before;
    const char* section;
    const char* key;
    const char* value;
    const char* after;
  } cases[] = {
      {"replace in place", "; c\n[A]\n  Key = old ; x\nB=2\n", "a", "KEY", "new", "; c\n[A]\n  Key = new\nB=2\n"},
      {"first duplicate replaced", "[A]\nk=1\nk=2\n", "A", "k", "3", "[A]\nk=3\nk=2\n"},
      {"new key after last key", "[A]\nx=1\n\n; tail\n[B]\ny=2\n", "A", "z", "3",
       "[A]\nx=1\nz=3\n\n; tail\n[B]\ny=2\n"},
      {"new key in keyless section", "[A]\n; c\n[B]\n", "A", "z", "3", "[A]\nz=3\n; c\n[B]\n"},
      {"new key in first block", "[A]\nx=1\n[B]\n[a]\ny=2\n", "A", "z", "3", "[A]\nx=1\nz=3\n[B]\n[a]\ny=2\n"},
      {"new section at end", "junk\n[A]\nx=1\n", "N", "k", "v", "junk\n[A]\nx=1\n[N]\nk=v\n"},
      {"CRLF kept", "[A]\r\nx=1\r\n", "A", "y", "2", "[A]\r\nx=1\r\ny=2\r\n"},
      {"CRLF new section", "[A]\r\nx=1\r\n", "B", "y", "2", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
      {"mixed endings kept", "[A]\r\nx=1\nw=0\r\n", "A", "x", "5", "[A]\r\nx=5\nw=0\r\n"},
      {"no final newline", "[A]\nx=1", "A", "y", "2", "[A]\nx=1\ny=2\n"},
      {"no final newline, replace", "[A]\nx=1", "A", "x", "2", "[A]\nx=2"},
      {"new file uses LF", "", "A", "x", "1", "[A]\nx=1\n"},
      {"quoted value", "", "A", "x", "\"12\",\"-3\",\"0\"", "[A]\nx=\"12\",\"-3\",\"0\"\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string path = dir.File("w.ini");
    if (*c.before) WriteFile(path, c.before);
    IniFile ini(path);
    ini.WriteString(c.section, c.key, c.value);
    EXPECT_EQ(ReadFile(path), c.after) << c.name;
    EXPECT_EQ(ini.ReadString(c.section, c.key, "?"), c.value) << c.name;
    EXPECT_EQ(IniFile(path).ReadString(c.section, c.key, "?"), c.value) << c.name;
  }
}

TEST(IniFile, TypedWritesReadBack) {
  TempDir dir;
  IniFile ini(dir.File("t.ini"));
  ini.WriteInteger("S", "Int", -42);
  ini.WriteBool("S", "On", true);
  ini.WriteBool("S", "Off", false);
  ini.WriteFloat("S", "F", 0.1);
  ini.WriteFloat("S", "G", -1250.75);
  EXPECT_EQ(ReadFile(dir.File("t.ini")), "[S]\nInt=-42\nOn=1\nOff=0\nF=0.1\nG=-1250.75\n");
  IniFile again(dir.File("t.ini"));
  EXPECT_EQ(again.ReadInteger("S", "Int", 0), -42);
  EXPECT_TRUE(again.ReadBool("S", "On", false));
  EXPECT_FALSE(again.ReadBool("S", "Off", true));
  EXPECT_DOUBLE_EQ(again.ReadFloat("S", "F", 0), 0.1);
  EXPECT_DOUBLE_EQ(again.ReadFloat("S", "G", 0), -1250.75);
}

TEST(IniFile, DeleteKeyAndEraseSection) {
  TempDir dir;
  const std::string path = dir.File("d.ini");
  WriteFile(path, "; head\n[A]\nk=1\nj=2\nK=3\n[B]\nx=1\n; in B\n[a]\nk=4\nm=5\n");
  IniFile ini(path);
  ini.DeleteKey("a", "K");  // every duplicate, or a later one would show through
  EXPECT_FALSE(ini.ValueExists("A", "k"));
  EXPECT_EQ(ReadFile(path), "; head\n[A]\nj=2\n[B]\nx=1\n; in B\n[a]\nm=5\n");
  ini.EraseSection("B");
  EXPECT_EQ(ReadFile(path), "; head\n[A]\nj=2\n[a]\nm=5\n");
  ini.EraseSection("A");
  EXPECT_EQ(ReadFile(path), "; head\n");
  StringList sections;
  ini.ReadSections(sections);
  EXPECT_TRUE(sections.Empty());
}

TEST(IniFile, BadInputReadsAndSurvivesRewrite) {
  const std::string longValue(1 << 20, 'v');
  std::string source = "\xEF\xBB\xBFnot a section\r\n";
  source += "[Bytes]\n";
  source += "latin=caf\xE9\n";
  source += std::string("nul=a\0b", 7) + "\n";
  source += "long=" + longValue + "\r\n";
  source += "\xFF\xFE garbage line without equals\n";
  source += std::string("\0\0\0", 3) + "\n";
  source += "\n\n;comment\n";
  source += "last=1";  // no final newline

  TempDir dir;
  const std::string path = dir.File("bad.ini");
  WriteFile(path, source);
  IniFile ini(path);
  EXPECT_EQ(ini.ReadString("Bytes", "latin", ""), "caf\xE9");
  EXPECT_EQ(ini.ReadString("Bytes", "nul", ""), std::string("a\0b", 3));
  EXPECT_EQ(ini.ReadString("Bytes", "long", ""), longValue);
  EXPECT_EQ(ini.ReadInteger("Bytes", "last", 0), 1);

  ini.WriteString("Bytes", "last", "2");
  std::string expected = source;
  expected.back() = '2';
  EXPECT_EQ(ReadFile(path), expected);
}

TEST(IniFile, InvalidNamesAndValuesAreRefused) {
  TempDir dir;
  const std::string path = dir.File("n.ini");
  WriteFile(path, "[A]\nx=1\n");
  IniFile ini(path);
  struct Case { const char* section; const char* key; const char* value; } cases[] = {
      {"A", "x", "1\ninjected=2"}, {"A", "x", "1\r"}, {"A", "k=v", "1"}, {"A", "", "1"}, {"A", " ", "1"},
      {"A", "[B]", "1"},           {"A", ";c", "1"},  {"A]", "x", "1"},  {"A\nB", "x", "1"},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(ini.WriteString(c.section, c.key, c.value), IniFileError) << c.key << " " << c.value;
  }
  EXPECT_EQ(ReadFile(path), "[A]\nx=1\n");
  EXPECT_EQ(ini.ReadString("A", "x", ""), "1");
}

TEST(IniFile, UpdateWritesOnceAtTheOutermostEnd) {
  TempDir dir;
  const std::string path = dir.File("u.ini");
  WriteFile(path, "[A]\nx=1\n");
  IniFile ini(path);
  ini.BeginUpdate();
  ini.WriteInteger("A", "x", 2);
  ini.BeginUpdate();
  ini.WriteInteger("B", "y", 3);
  ini.EndUpdate();
  EXPECT_EQ(ini.ReadInteger("B", "y", 0), 3);  // visible in memory
  EXPECT_EQ(ReadFile(path), "[A]\nx=1\n");     // not yet on disk
  ini.EndUpdate();
  EXPECT_EQ(ReadFile(path), "[A]\nx=2\n[B]\ny=3\n");

  {  // destroyed inside an update: nothing written
    IniFile other(path);
    other.BeginUpdate();
    other.WriteInteger("A", "x", 9);
  }
  EXPECT_EQ(ReadFile(path), "[A]\nx=2\n[B]\ny=3\n");

  IniFile cancelled(path);  // cancelled at any depth: nothing written, writes go through again
  cancelled.BeginUpdate();
  cancelled.BeginUpdate();
  cancelled.WriteInteger("A", "x", 7);
  cancelled.CancelUpdate();
  EXPECT_EQ(cancelled.ReadInteger("A", "x", 0), 2);
  cancelled.WriteInteger("B", "y", 4);
  EXPECT_EQ(ReadFile(path), "[A]\nx=2\n[B]\ny=4\n");
}

namespace {

bool OnlyEntry(const std::string& folder, const std::string& name) {
  int count = 0;
  bool found = false;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    ++count;
    found = found || e.path().filename() == name;
  }
  return count == 1 && found;
}

}  // namespace

// Root ignores permission bits, so the failures come from the paths themselves.
TEST(IniFile, FailedWriteRaisesAndKeepsFileAndObject) {
  namespace fs = std::filesystem;
  {  // The folder is a regular file.
    TempDir dir;
    WriteFile(dir.File("plain"), "x");
    const std::string path = dir.File("plain/a.ini");
    IniFile ini(path);
    try {
      ini.WriteString("A", "x", "1");
      ADD_FAILURE() << "no error";
    } catch (const IniFileError& e) {
      EXPECT_EQ(std::string(e.what()), "IniFile: cannot write '" + path + "': Not a directory");
    }
    EXPECT_FALSE(ini.ValueExists("A", "x"));
  }
  {  // The old file stays intact while its folder is away; the object goes on afterwards.
    TempDir dir;
    fs::create_directory(dir.File("cfg"));
    const std::string path = dir.File("cfg/a.ini");
    WriteFile(path, "; keep\n[A]\nx=1\n");
    IniFile ini(path);
    fs::rename(dir.File("cfg"), dir.File("moved"));
    WriteFile(dir.File("cfg"), "");
    EXPECT_THROW(ini.WriteString("A", "x", "2"), IniFileError);
    EXPECT_EQ(ini.ReadString("A", "x", ""), "1");
    fs::remove(dir.File("cfg"));
    fs::rename(dir.File("moved"), dir.File("cfg"));
    EXPECT_EQ(ReadFile(path), "; keep\n[A]\nx=1\n");
    EXPECT_TRUE(OnlyEntry(dir.File("cfg"), "a.ini"));
    ini.WriteString("A", "y", "3");
    EXPECT_EQ(ReadFile(path), "; keep\n[A]\nx=1\ny=3\n");
  }
  {  // Rename fails after the temporary file was written: it is removed again.
    TempDir dir;
    const std::string path = dir.File("a.ini");
    IniFile ini(path);
    fs::create_directory(path);
    WriteFile(path + "/inside", "x");
    ini.BeginUpdate();
    ini.WriteString("A", "x", "1");
    EXPECT_THROW(ini.EndUpdate(), IniFileError);
    EXPECT_FALSE(ini.ValueExists("A", "x"));  // the batch is dropped
    EXPECT_TRUE(OnlyEntry(dir.Path(), "a.ini"));
    EXPECT_EQ(ReadFile(path + "/inside"), "x");
  }
  {  // An existing file that cannot be read is never replaced.
    TempDir dir;
    const std::string path = dir.File("a.ini");
    fs::create_directory(path);
    IniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("A", "x", 4), 4);
    EXPECT_THROW(ini.WriteString("A", "x", "1"), IniFileError);
    EXPECT_TRUE(fs::is_directory(path));
  }
}

TEST(IniFile, KeepsFileModeAndWritesThroughSymlink) {
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string real = dir.File("real.ini"), link = dir.File("link.ini");
  WriteFile(real, "[A]\nx=1\n");
  ::chmod(real.c_str(), 0640);
  fs::create_symlink(real, link);
  IniFile ini(link);
  ini.WriteString("A", "x", "2");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFile(real), "[A]\nx=2\n");
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A path that is no regular file, or a file past the reader's bound, reads
// as empty at once and in bounded memory; a write is refused with the reason
// and the path stays what it was (the device is never written to).
TEST(IniFile, NoRegularFileOrTooLargeReadsEmptyAndIsKept) {
  namespace fs = std::filesystem;
  TempDir dir;
  const kdtest::RefusedPaths paths(dir.Path(), ".ini");
  const long memory = kdtest::PeakMemoryKiB();
  for (const auto& c : paths.Reasons(16 << 20)) {
    SCOPED_TRACE(c.path);
    const kdtest::FifoWatchdog watchdog(paths.fifo, std::chrono::seconds(10));
    IniFile ini(c.path);
    EXPECT_EQ(ini.ReadString("A", "x", "none"), "none");
    if (c.path != paths.device) {
      try {
        ini.WriteString("A", "x", "1");
        ADD_FAILURE() << "written";
      } catch (const IniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "IniFile: cannot write '" + c.path +
                                             "': the existing file cannot be read: " + c.reason);
      }
    }
    EXPECT_FALSE(watchdog.Fired()) << "waited for a writer";
  }
  EXPECT_LT(kdtest::PeakMemoryKiB() - memory, 64 * 1024) << "KiB more at the peak";
  EXPECT_EQ(paths.Changes(), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 4);  // no file left behind
}
