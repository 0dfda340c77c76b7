// The data-model collection: file choice, cache shared by version, events.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "IniFile.h"
#include "TestFiles.h"
#include "Tladmcollectioncmp.h"

using regtest::Fixture;
using regtest::TempDir;

namespace {

std::string BaseName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

class Collection : public ::testing::Test {
 protected:
  void SetUp() override {
    coll = new TlaDMCollection(&owner);  // deleted by owner
    coll->SetFilePath(Fixture("collection"));
    coll->OnNoFile = [this](TlaDMCollection*, const std::string& f) { events.push_back("NoFile " + f); };
    coll->OnNoVersion = [this](TlaDMCollection*, const std::string& v) { events.push_back("NoVersion " + v); };
    coll->OnNewVersion = [this](TlaDMCollection*, const std::string& v) { events.push_back("NewVersion " + v); };
  }
  kd::Component owner;
  TlaDMCollection* coll = nullptr;
  std::vector<std::string> events;
};

}  // namespace

TEST_F(Collection, FirstFileInNameOrderWinsAndIsSharedByVersion) {
  TlaRegDefsList* m = coll->LoadRegDefsListFor(" KDP7_KD730v105 ");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(BaseName(m->FileName), "a_first.par");  // B_second.par declares it too
  EXPECT_EQ(m->Owner(), &owner);
  EXPECT_EQ(events, (std::vector<std::string>{"NewVersion KDP7_KD730v105"}));
  EXPECT_EQ(coll->VersionCache().size(), 4u);

  events.clear();
  EXPECT_EQ(coll->LoadRegDefsListFor("kdp7_kd730v104"), m);  // a key of its [Versions]: cached
  EXPECT_EQ(coll->LoadRegDefsListFor("VerDescr"), m);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(coll->GetVersionString(m), "KDP7_KD730v105");
  EXPECT_TRUE(coll->AreVersionCompatible(m, coll->LoadRegDefsListFor("KDP7_KD730v104")));

  // Found by the substring test but no key: loaded again into a new model.
  TlaRegDefsList* again = coll->LoadRegDefsListFor("KD730v10");
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, m);
  EXPECT_FALSE(coll->AreVersionCompatible(m, again));
  EXPECT_EQ(coll->LoadRegDefsListFor("KD730v110")->Find("B") != nullptr, true);
}

TEST_F(Collection, NoVersionNoFileAndTheDefaultFile) {
  EXPECT_EQ(coll->LoadRegDefsListFor(""), nullptr);
  EXPECT_EQ(coll->LoadRegDefsListFor("KD999v1"), nullptr);
  const std::string path = coll->FilePath();
  EXPECT_EQ(events, (std::vector<std::string>{"NoVersion ", "NoFile " + path, "NoVersion KD999v1"}));
  EXPECT_EQ(coll->GetVersionFileName("KD999v1"), "");
  EXPECT_FALSE(coll->AreVersionCompatible("KD999v1", "KD998v1"));

  events.clear();
  coll->DfltFile = "c_patterns.par";
  TlaRegDefsList* m = coll->LoadRegDefsListFor("KD999v1");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(BaseName(m->FileName), "c_patterns.par");
  EXPECT_EQ(events, (std::vector<std::string>{"NewVersion KD999v1"}));
  EXPECT_EQ(BaseName(coll->GetVersionFileName("KD998v1")), "c_patterns.par");

  // A default file that does not exist gives no model.
  events.clear();
  coll->DfltFile = "missing.par";
  EXPECT_EQ(coll->LoadRegDefsListFor("KD997v1"), nullptr);
  EXPECT_EQ(events, (std::vector<std::string>{"NoFile " + path, "NoVersion KD997v1"}));
}

TEST_F(Collection, FileNamesAndCompatibility) {
  EXPECT_EQ(BaseName(coll->GetVersionFileName("KDP7_KD730v104")), "a_first.par");
  EXPECT_EQ(BaseName(coll->GetVersionFileName("KD730v110")), "B_second.par");
  EXPECT_TRUE(coll->AreVersionCompatible("KDP7_KD730v104", "KDP7_KD730v105"));
  EXPECT_FALSE(coll->AreVersionCompatible("KDP7_KD730v104", "KD730v110"));
  EXPECT_FALSE(coll->AreVersionCompatible("KDP7_KD730v104", "nowhere"));
  EXPECT_EQ(coll->GetVersionString(nullptr), "");
  TlaRegDefsList stranger;
  EXPECT_EQ(coll->GetVersionString(&stranger), "");
}

TEST_F(Collection, ChoiceByVersionRecord) {
  TlaVersionRecord kd610;
  ASSERT_TRUE(kd610.Parse("KD610-ABV203", ""));
  auto reader = coll->GetRegDefsFileFor(&kd610);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(BaseName(reader->FileName()), "c_patterns.par");
  TlaVersionRecord v110;
  ASSERT_TRUE(v110.Parse("KDP7_KD730V110", ""));
  EXPECT_EQ(BaseName(coll->GetRegDefsFileFor(&v110)->FileName()), "B_second.par");
  TlaVersionRecord v105;
  ASSERT_TRUE(v105.Parse("KDP7_KD730V105", ""));
  EXPECT_EQ(BaseName(coll->GetRegDefsFileFor(&v105)->FileName()), "a_first.par");
  TlaVersionRecord none;
  ASSERT_TRUE(none.Parse("KD1V1", ""));
  coll->DfltFile = "a_first.par";  // no default for records
  EXPECT_EQ(coll->GetRegDefsFileFor(&none), nullptr);
  EXPECT_EQ(coll->GetRegDefsFileFor(static_cast<const TlaVersionRecord*>(nullptr)), nullptr);
}

TEST_F(Collection, AllVersions) {
  kd::StringList out;
  out.Add("stale");
  coll->ExtractAllVersionList(&out);
  EXPECT_EQ(out.Lines(), (std::vector<std::string>{
                             "KDP7_KD730v105=firmware 1.05", "KDP7_KD730v104=firmware 1.04", "VerDescr=First file",
                             "Versions=KDP7_KD730v105,KDP7_KD730v104", "KD730v110=firmware 1.10",
                             "VerDescr=Second file", "Versions=KDP7_KD730v105,KD730v110", "KD610=any KD610",
                             "Versions=\"KD610-*V*\""}));
  coll->ExtractAllVersionList(nullptr);
  coll->FileExt = "txt";
  coll->ExtractAllVersionList(&out);
  EXPECT_EQ(out.Count(), 1);
}

TEST_F(Collection, EventsReachTheLoadedModels) {
  int added = 0, missing = 0;
  coll->OnRegAdd = [&](TlaRegDefsList*, TlaRegDefinition*) { ++added; };
  coll->OnRegLoadError = [&](TlaRegDefsList*, int address, const std::string&) { missing += address; };
  coll->OnUseFormat = [](TlaRegDefinition*, std::string& useFormat) { useFormat.clear(); };
  TlaRegDefsList* m = coll->LoadRegDefsListFor("KDP7_KD730v105");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(added, 1);
  EXPECT_EQ(missing, 1);                        // register 1 has no section
  EXPECT_EQ(m->Find("A")->FormatNorm, 1.0);     // the handler chose the own keys
}

// Model files that are no regular files, or past the bound, are no models:
// passed by at once and in bounded memory, as the default file too.
TEST_F(Collection, FilesThatCannotBeReadWholeAreNoModels) {
  TempDir dir;
  const kdtest::RefusedPaths paths(dir.Path(), ".par");
  dir.Write("model.par", "[Versions]\nVersions=KD730v1\n[DataModel]\nRegisterCount=0\n");
  coll->SetFilePath(dir.Path());
  const std::string folder = coll->FilePath();
  const long memory = kdtest::PeakMemoryKiB();
  for (const char* file : {"fifo.par", "folder.par", "sparse.par", "zero.par"}) {
    SCOPED_TRACE(file);
    const kdtest::FifoWatchdog watchdog(paths.fifo, std::chrono::seconds(10));
    TlaRegDefsList list;
    list.VerDescr = "kept";
    EXPECT_FALSE(list.LoadFromFile(folder + file));
    EXPECT_EQ(list.VerDescr, "kept");
    events.clear();
    coll->DfltFile = file;
    EXPECT_EQ(coll->LoadRegDefsListFor("KD999v1"), nullptr);
    EXPECT_EQ(events, (std::vector<std::string>{"NoFile " + folder, "NoVersion KD999v1"}));
    kd::StringList versions;
    coll->ExtractAllVersionList(&versions);
    EXPECT_EQ(versions.Lines(), std::vector<std::string>{"Versions=KD730v1"});
    EXPECT_FALSE(watchdog.Fired()) << "waited for a writer";
  }
  EXPECT_LT(kdtest::PeakMemoryKiB() - memory, 64 * 1024) << "KiB more at the peak";
  ASSERT_NE(coll->LoadRegDefsListFor("KD730v1"), nullptr);
}

TEST(CollectionSettings, FilePathAndOwnership) {
  TlaDMCollection coll;
  EXPECT_EQ(coll.FilePath(), "C:\\");
  EXPECT_EQ(coll.FileExt, "par");
  coll.SetFilePath("/data/models");
  EXPECT_EQ(coll.FilePath(), "/data/models/");
  coll.SetFilePath("/data/models/");
  EXPECT_EQ(coll.FilePath(), "/data/models/");
  coll.SetFilePath("");
  EXPECT_EQ(coll.FilePath(), "/");
  // Without an owner the collection keeps the models itself.
  coll.SetFilePath(Fixture("collection"));
  TlaRegDefsList* m = coll.LoadRegDefsListFor("KD730v110");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->Owner(), &coll);
  // A missing folder finds nothing.
  coll.SetFilePath(Fixture("no-such-folder"));
  EXPECT_EQ(coll.GetRegDefsFileFor("KD730v110"), nullptr);
  EXPECT_EQ(coll.LoadRegDefsListFor("KD730v110"), m);  // still cached
}
