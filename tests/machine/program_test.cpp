// The machine program and its file: layout, round trip, the version rule,
// and files that must be refused without touching the program or the disk.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "MachineTestSupport.h"
#include "TestSupport.h"
#include "Tladmcollectioncmp.h"
#include "Tlaqzprogramcmp.h"

using namespace qztest;

namespace {

// Small models beside the shipped one: a chain with an invalid block, a
// program past the registers, and a model without the header registers.
const char kBadBlock[] =
    "[Versions]\nKDP1_KD1v101=x\nVersions=KDP1_KD1v101\n[DataModel]\nRegisterCount=4\n"
    "[Categories]\nEEProgram=x,0/"
    "1\n[0]\nType=short\n[1]\nType=short\n[2]\nType=short\n[3]\nType=short\n";
const char kOutside[] =
    "[Versions]\nKDP1_KD1v102=x\nVersions=KDP1_KD1v102\n[DataModel]\nRegisterCount=4\n"
    "[Categories]\nEEProgram=2/"
    "7\n[0]\nType=short\n[1]\nType=short\n[2]\nType=short\n[3]\nType=short\n";
const char kPlain[] =
    "[Versions]\nKDP1_KD1v103=x\nVersions=KDP1_KD1v103\n[DataModel]\nRegisterCount=2\n"
    "[Categories]\nEEProgram=0/1\n[0]\nType=short\n[1]\nType=short\n";

std::string U32(std::uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF),
          static_cast<char>(v >> 16 & 0xFF), static_cast<char>(v >> 24)};
}

// A program file as the format describes it.
std::string ProgramFile(const std::string& version, std::uint32_t registers, std::uint32_t bytes,
                        const std::string& data, const std::string& tail = "") {
  std::string f(80, '\0');
  f.replace(0, 16, "Quarzo Program\n\r");
  f.replace(20, 9, "QZPv100\n\r");
  f.replace(40, std::min<std::size_t>(30, version.size()), version.substr(0, 30));
  f.replace(72, 4, U32(registers));
  f.replace(76, 4, U32(bytes));
  return f + data + tail;
}

class ProgramFileTest : public ::testing::Test {
 protected:
  ProgramFileTest() {
    std::filesystem::copy_file(kDataDir + "/QZ420_Machine.par", models_.File("QZ420_Machine.par"));
    models_.Write("badblock.par", kBadBlock);
    models_.Write("outside.par", kOutside);
    models_.Write("plain.par", kPlain);
    coll_.SetFilePath(models_.Path());
  }
  // A program of the shipped model with a name, a parameter and two lines.
  std::unique_ptr<TlaQZProgram> Sample() {
    auto p = NewProgram();
    EXPECT_TRUE(p->SetVerString(kMachineVersion));
    p->RenameProg("PRESSA 7");
    p->GetRegister(std::string("EE_TempZona03"))
        ->SetValueInteger(0, 0x123);  // 291, inside the bounds
    p->Lines.Add("prima riga");
    p->Lines.Add("");
    p->Lines.Add("terza riga");
    return p;
  }
  std::unique_ptr<TlaQZProgram> NewProgram() {
    auto p = std::make_unique<TlaQZProgram>();
    p->DMColl = &coll_;
    return p;
  }

  kdtest::TempDir models_, files_;
  TlaDMCollection coll_;
};

TEST_F(ProgramFileTest, SavedFileLayout) {
  auto p = Sample();
  const std::string path = files_.File("p.qzp");
  ASSERT_EQ(p->SaveToFile(path), qzFileDone);
  const std::string f = kdtest::ReadFile(path);
  EXPECT_EQ(f.substr(0, 20), std::string("Quarzo Program\n\r\0\0\0\0", 20));
  EXPECT_EQ(f.substr(20, 20), std::string("QZPv100\n\r") + std::string(11, '\0'));
  EXPECT_EQ(f.substr(40, 32), kMachineVersion + "\n\r" + std::string(16, '\0'));
  EXPECT_EQ(f.substr(72, 8), U32(kProgramRegisters) + U32(kProgramBytes));
  const Bytes image = ProgramBytes(*p);
  EXPECT_EQ(f.substr(80, kProgramBytes), std::string(image.begin(), image.end()));
  EXPECT_EQ(f.substr(80 + kProgramBytes), "prima riga\r\n\r\nterza riga\r\n");
  // Modbus byte order in the file: the parameter's high byte first.
  auto offset = [&](const char* name) {
    return p->RegDefs()->CalcDataBufferOffset(
        p->GetRegister(std::string(name))->Definition->RegAddr);
  };
  const auto at =
      static_cast<std::size_t>(80 + offset("EE_TempZona03") - offset("EE_NomeProgramma"));
  EXPECT_EQ(f.substr(at, 2), "\x01\x23");
}

TEST_F(ProgramFileTest, RoundTripAndHeaderTexts) {
  auto p = Sample();
  p->GetRegister(std::string("EE_DataVariazione"))->SetValueDate(0, kd::EncodeDate(2024, 5, 17));
  const std::string path = files_.File("p.qzp");
  ASSERT_EQ(p->SaveToFile(path), qzFileDone);

  auto q = NewProgram();
  EXPECT_FALSE(q->GetIsOpen());
  ASSERT_EQ(q->LoadFromFile(path), qzFileDone);
  EXPECT_TRUE(q->GetIsOpen());
  EXPECT_EQ(q->GetCurrentVersion(), kMachineVersion + "\n\r");
  EXPECT_EQ(ProgramBytes(*q), ProgramBytes(*p));
  EXPECT_EQ(q->Lines.Lines(), p->Lines.Lines());
  EXPECT_EQ(Shown(q->GetProgName()), "PRESSA 7");
  EXPECT_EQ(Shown(q->GetProgClie()), "");
  EXPECT_EQ(q->GetProgDate(), "17/05/24");
  q->RenameProg("  STAMPO  ");
  EXPECT_EQ(Shown(q->GetProgName()), "STAMPO");

  // Lines ended by LF or CR alone, and a last line without an end, read back
  // as lines; a version text without its line end is taken as well.
  const Bytes data = ProgramBytes(*p);
  kdtest::WriteFile(path, ProgramFile(kMachineVersion, kProgramRegisters, kProgramBytes,
                                      std::string(data.begin(), data.end()), "a\nb\rc\r\nd"));
  auto r = NewProgram();
  ASSERT_EQ(r->LoadFromFile(path), qzFileDone);
  EXPECT_EQ(r->Lines.Lines(), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(r->GetCurrentVersion(), kMachineVersion);

  // A model without the header registers: empty texts, renaming does nothing.
  auto plain = NewProgram();
  ASSERT_TRUE(plain->SetVerString("KDP1_KD1v103"));
  plain->RenameProg("X");
  EXPECT_EQ(plain->GetProgName(), "");
  EXPECT_EQ(plain->GetProgDate(), "");
}

TEST_F(ProgramFileTest, VersionRule) {
  TlaQZProgram orphan;
  EXPECT_FALSE(orphan.SetVerString(kMachineVersion));  // no collection
  auto p = NewProgram();
  EXPECT_FALSE(p->SetVerString("KDP9_KD999v100"));  // no model for it
  EXPECT_FALSE(p->GetIsOpen());
  EXPECT_TRUE(p->SetVerString(kMachineVersion));
  EXPECT_FALSE(p->SetVerString(kMachineVersion));   // the current version
  EXPECT_FALSE(p->SetVerString("KDP9_KD420v200"));  // another name of the image's model
  EXPECT_FALSE(p->SetVerString("KDP1_KD1v103"));    // an image is built once
  EXPECT_EQ(p->GetCurrentVersion(), kMachineVersion);
  EXPECT_EQ(p->RegDefs(), coll_.LoadRegDefsListFor(kMachineVersion));

  // Loading into a program that holds the file's version is refused; the
  // program keeps what it has.
  auto saved = Sample();
  ASSERT_EQ(saved->SaveToFile(files_.File("a.qzp")), qzFileDone);
  auto q = NewProgram();
  ASSERT_EQ(q->LoadFromFile(files_.File("a.qzp")), qzFileDone);
  const Bytes before = ProgramBytes(*q);
  saved->RenameProg("ALTRO");
  ASSERT_EQ(saved->SaveToFile(files_.File("b.qzp")), qzFileDone);
  EXPECT_EQ(q->LoadFromFile(files_.File("b.qzp")), qzFileNoImage);
  EXPECT_EQ(ProgramBytes(*q), before);
}

// Bad files give their code and leave the program exactly as it was: no
// image, no version, the old lines.
TEST_F(ProgramFileTest, RefusedFilesChangeNothing) {
  auto good = Sample();
  const Bytes data = ProgramBytes(*good);
  const std::string payload(data.begin(), data.end());
  const std::string v = kMachineVersion + "\n\r";
  const std::string valid = ProgramFile(v, kProgramRegisters, kProgramBytes, payload);
  std::string wrongTag = valid;
  wrongTag[26] = '1';
  struct Case {
    const char* what;
    std::string file;
    std::uint8_t result;
  };
  const Case cases[] = {
      {"empty", "", qzFileNotProgram},
      {"cut inside the format tag", valid.substr(0, 26), qzFileNotProgram},
      {"other format", wrongTag, qzFileNotProgram},
      {"cut inside the header", valid.substr(0, 79), qzFileTotals},
      {"unknown version",
       ProgramFile("KDP9_KD999v100\n\r", kProgramRegisters, kProgramBytes, payload), qzFileNoImage},
      {"version field without an end",
       ProgramFile(std::string(30, 'K'), kProgramRegisters, kProgramBytes, payload), qzFileNoImage},
      {"only the header", ProgramFile(v, kProgramRegisters, kProgramBytes, ""), qzFileTotals},
      {"one byte short", valid.substr(0, valid.size() - 1), qzFileTotals},
      {"byte total of 4 GB", ProgramFile(v, kProgramRegisters, 0xFFFFFFFFu, payload), qzFileTotals},
      {"register total one more", ProgramFile(v, kProgramRegisters + 1, kProgramBytes, payload),
       qzFileTotals},
      {"byte total one less", ProgramFile(v, kProgramRegisters, kProgramBytes - 1, payload),
       qzFileTotals},
      {"invalid block", ProgramFile("KDP1_KD1v101", 2, 4, "abcd"), qzFileBadBlock},
      {"program outside the image", ProgramFile("KDP1_KD1v102", 6, 12, std::string(12, 'x')),
       qzFileSegment},
  };
  for (const Case& c : cases) {
    const std::string path = files_.File("bad.qzp");
    kdtest::WriteFile(path, c.file);
    auto p = NewProgram();
    p->Lines.Add("kept");
    EXPECT_EQ(p->LoadFromFile(path), c.result) << c.what;
    EXPECT_FALSE(p->GetIsOpen()) << c.what;
    EXPECT_EQ(p->RegDefs(), nullptr) << c.what;
    EXPECT_EQ(p->GetCurrentVersion(), "") << c.what;
    EXPECT_EQ(p->Lines.Lines(), std::vector<std::string>{"kept"}) << c.what;
    // After a refusal the same object still takes a good file.
    kdtest::WriteFile(path, valid);
    EXPECT_EQ(p->LoadFromFile(path), qzFileDone) << c.what;
    EXPECT_EQ(ProgramBytes(*p), data) << c.what;
  }
  auto p = NewProgram();
  EXPECT_EQ(p->LoadFromFile(files_.File("none.qzp")), qzFileMissing);
  EXPECT_EQ(p->LoadFromFile(files_.File("none/x.qzp")), qzFileMissing);
  EXPECT_EQ(p->LoadFromFile(files_.Path()), qzFileIo);  // a folder
  EXPECT_FALSE(p->GetIsOpen());
}

// A save that fails leaves an existing file as it was and creates none.
TEST_F(ProgramFileTest, FailedSaveKeepsTheFile) {
  const std::string path = files_.Write("old.qzp", "old contents");
  auto none = NewProgram();
  EXPECT_EQ(none->SaveToFile(path), qzFileNoImage);
  auto orphan = Sample();
  orphan->DMColl = nullptr;
  EXPECT_EQ(orphan->SaveToFile(path), qzFileNoImage);
  auto badBlock = NewProgram();
  ASSERT_TRUE(badBlock->SetVerString("KDP1_KD1v101"));
  EXPECT_EQ(badBlock->SaveToFile(path), qzFileBadBlock);
  auto outside = NewProgram();
  ASSERT_TRUE(outside->SetVerString("KDP1_KD1v102"));
  EXPECT_EQ(outside->SaveToFile(path), qzFileSegment);
  EXPECT_EQ(kdtest::ReadFile(path), "old contents");
  EXPECT_EQ(Sample()->SaveToFile(files_.File("no/such/folder.qzp")), qzFileIo);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(files_.Path()), {}), 1);

  // A model the collection cannot name again would give a file that never loads.
  TlaRegDefsList foreign;
  ASSERT_TRUE(foreign.LoadFromFile(models_.File("plain.par")));
  auto p = NewProgram();
  ASSERT_TRUE(p->CreateRegDataBuffer(&foreign));
  EXPECT_EQ(p->SaveToFile(path), qzFileNoImage);
  EXPECT_EQ(kdtest::ReadFile(path), "old contents");
}

// Files no loader may read whole: each gives its result at once and reads
// no more than a program and its bounded text; the program stays as it was.
TEST_F(ProgramFileTest, HugeAndEndlessFilesAreRefusedAtOnce) {
  const Bytes data = ProgramBytes(*Sample());
  const std::string valid = ProgramFile(kMachineVersion + "\n\r", kProgramRegisters,
                                        kProgramBytes, std::string(data.begin(), data.end()));
  const std::size_t text = TlaQZProgram::kMaxTextBytes;
  // A file of `size` bytes that begins with `head` (sparse past it).
  auto sized = [&](const char* name, const std::string& head, off_t size) {
    const std::string path = files_.File(name);
    kdtest::WriteFile(path, head);
    EXPECT_EQ(::truncate(path.c_str(), size), 0) << name;
    return path;
  };
  const std::string fifo = files_.File("fifo.qzp");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const off_t gb3 = off_t{3} << 30;
  struct Case {
    const char* what;
    std::string path;
    std::uint8_t result;
  };
  const Case cases[] = {
      {"3 GB with the header of a program", sized("big.qzp", valid, gb3), qzFileTotals},
      {"3 GB of zeros", sized("zeros.qzp", "", gb3), qzFileNotProgram},
      {"1 GB of text after the program", sized("text.qzp", valid, off_t{1} << 30), qzFileTotals},
      {"one byte of text too many", sized("over.qzp", valid, valid.size() + text + 1),
       qzFileTotals},
      {"text that grows past the bound when saved (LF to CR LF)",
       sized("lf.qzp", valid + std::string(text, '\n'), valid.size() + text), qzFileTotals},
      {"the longest text",
       sized("full.qzp", valid + std::string(text - 2, 'x') + "\r\n", valid.size() + text),
       qzFileDone},
      {"a device without end", "/dev/zero", qzFileIo},
      {"a FIFO nobody writes", fifo, qzFileIo},
  };
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  for (const Case& c : cases) {
    auto p = NewProgram();
    p->Lines.Add("kept");
    auto load = std::async(std::launch::async, [&] { return p->LoadFromFile(c.path); });
    if (load.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      ADD_FAILURE() << c.what << ": no result after 20 s";
      const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // lets a FIFO reader go on
      if (writer >= 0) ::close(writer);
    }
    EXPECT_EQ(load.get(), c.result) << c.what;
    if (c.result == qzFileDone) {
      EXPECT_EQ(p->Lines.Count(), 1) << c.what;
      EXPECT_EQ(p->SaveToFile(files_.File("again.qzp")), qzFileDone) << c.what;
      continue;
    }
    EXPECT_FALSE(p->GetIsOpen()) << c.what;
    EXPECT_EQ(p->RegDefs(), nullptr) << c.what;
    EXPECT_EQ(p->Lines.Lines(), std::vector<std::string>{"kept"}) << c.what;
  }
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "KiB more at the peak";
}

// A file that may not be written is refused and stays as it was; a replaced
// file keeps its permission bits and its group.
TEST_F(ProgramFileTest, SaveKeepsWhatTheFileIs) {
  auto p = Sample();
  const std::string locked = files_.Write("locked.qzp", "kept as it is");
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  EXPECT_EQ(p->SaveToFile(locked), qzFileIo);
  EXPECT_EQ(kdtest::ReadFile(locked), "kept as it is");
  struct stat st {};
  ASSERT_EQ(::stat(locked.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  const std::string fifo = files_.File("fifo.qzp");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(p->SaveToFile(fifo), qzFileIo);  // no regular file: it stays
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // Another group of the user's (any one for the superuser), when there is one.
  gid_t group = ::getegid();
  if (::geteuid() == 0) {
    group = 4242;
  } else {
    gid_t groups[64];
    const int n = ::getgroups(64, groups);
    for (int i = 0; i < n; ++i)
      if (groups[i] != group) group = groups[i];
  }
  const std::string shared = files_.Write("shared.qzp", "old");
  ASSERT_EQ(::chown(shared.c_str(), static_cast<uid_t>(-1), group), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
  ASSERT_EQ(p->SaveToFile(shared), qzFileDone);
  ASSERT_EQ(::stat(shared.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_gid, group);
  auto q = NewProgram();
  EXPECT_EQ(q->LoadFromFile(shared), qzFileDone);
  EXPECT_EQ(ProgramBytes(*q), ProgramBytes(*p));

  // Text no loader would take back is not saved.
  const std::string saved = kdtest::ReadFile(shared);
  p->Lines.Add(std::string(TlaQZProgram::kMaxTextBytes, 'x'));
  EXPECT_EQ(p->SaveToFile(shared), qzFileTotals);
  EXPECT_EQ(kdtest::ReadFile(shared), saved);
}

}  // namespace
