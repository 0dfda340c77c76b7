// Registry: typed values, paths, persistence, damaged stores, concurrent writers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>

#include "Exception.h"
#include "Registry.h"
#include "TestSupport.h"

using namespace kd;
using kdtest::ChildProcess;
using kdtest::ReadFile;
using kdtest::ScopedEnv;
using kdtest::TempDir;
using kdtest::WriteFile;

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  TempDir dir_;
  ScopedEnv env_{"XDG_CONFIG_HOME", dir_.Path()};
  std::string Store() const { return dir_.File("kd730-tuning-desk/registry"); }
};

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RegistryError& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST_F(RegistryTest, StorePathFollowsTheEnvironment) {
  EXPECT_EQ(Registry::StorePath(), Store());
  {
    ScopedEnv home("HOME", "/home/tech");
    ScopedEnv unset("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(Registry::StorePath(), "/home/tech/.config/kd730-tuning-desk/registry");
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/dir");  // not absolute: ignored
    EXPECT_EQ(Registry::StorePath(), "/home/tech/.config/kd730-tuning-desk/registry");
  }
}

TEST_F(RegistryTest, TypedValuesAndTheirErrors) {
  Registry reg(HKEY_CURRENT_USER);
  EXPECT_FALSE(reg.OpenKey("Software\\Test", false));
  ASSERT_TRUE(reg.OpenKey("Software\\Test", true));
  reg.WriteString("HostName", "10.0.0.7");
  reg.WriteInteger("Timeout", -1000);
  reg.WriteBool("Enabled", true);
  reg.WriteBool("RaiseError", false);
  reg.WriteString("", "default text");

  EXPECT_EQ(reg.ReadString("hostname"), "10.0.0.7");
  EXPECT_EQ(reg.ReadInteger("TIMEOUT"), -1000);
  EXPECT_TRUE(reg.ReadBool("Enabled"));
  EXPECT_FALSE(reg.ReadBool("RaiseError"));
  EXPECT_EQ(reg.ReadString(""), "default text");
  EXPECT_EQ(reg.GetValueNames(), (std::vector<std::string>{"HostName", "Timeout", "Enabled", "RaiseError", ""}));

  struct Bad { const char* name; std::function<void()> read; } bad[] = {
      {"HostName", [&] { reg.ReadInteger("HostName"); }},
      {"HostName", [&] { reg.ReadBool("HostName"); }},
      {"Timeout", [&] { reg.ReadString("Timeout"); }},
      {"Missing", [&] { reg.ReadString("Missing"); }},
      {"Missing", [&] { reg.ReadInteger("Missing"); }},
  };
  for (const auto& b : bad) EXPECT_EQ(ErrorOf(b.read), std::string("Invalid data type for '") + b.name + "'");

  reg.WriteInteger("hostNAME", 5);  // another type replaces the value, spelling kept
  EXPECT_EQ(reg.ReadInteger("HostName"), 5);
  EXPECT_EQ(reg.GetValueNames()[0], "HostName");
  EXPECT_TRUE(reg.DeleteValue("HOSTNAME"));
  EXPECT_FALSE(reg.DeleteValue("HostName"));
  EXPECT_FALSE(reg.ValueExists("HostName"));
  EXPECT_TRUE(reg.ValueExists("timeout"));
}

TEST_F(RegistryTest, ObjectsSeeEachOthersWritesAfterReopening) {
  Registry a(HKEY_LOCAL_MACHINE), b(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(a.OpenKey("HARDWARE\\DEVICEMAP\\SERIALCOMM", true));
  a.WriteString("COM1", "/dev/ttyS0");
  ASSERT_TRUE(b.OpenKeyReadOnly("\\hardware\\devicemap\\serialcomm"));
  EXPECT_EQ(b.ReadString("com1"), "/dev/ttyS0");
  EXPECT_EQ(b.CurrentPath(), "HARDWARE\\DEVICEMAP\\SERIALCOMM");

  a.WriteString("COM2", "/dev/pts/4");
  EXPECT_FALSE(b.ValueExists("COM2"));  // b holds what it read when it opened
  b.CloseKey();
  ASSERT_TRUE(b.OpenKeyReadOnly("HARDWARE\\DEVICEMAP\\SERIALCOMM"));
  EXPECT_EQ(b.ReadString("COM2"), "/dev/pts/4");

  Registry other(HKEY_CURRENT_USER);  // roots are apart
  EXPECT_FALSE(other.KeyExists("HARDWARE"));

  EXPECT_NE(ReadFile(Store()).find("[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
                                   "COM1=sz:/dev/ttyS0\n"
                                   "COM2=sz:/dev/pts/4\n"),
            std::string::npos);
}

TEST_F(RegistryTest, RelativeAndAbsolutePathsAndSubkeys) {
  Registry reg(HKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("\\Software\\Conn\\Serial", true));
  ASSERT_TRUE(reg.OpenKey("\\Software\\Conn\\Tcp\\Deep", true));
  ASSERT_TRUE(reg.OpenKey("\\Software\\Empty", true));
  ASSERT_TRUE(reg.OpenKey("\\Software", false));
  ASSERT_TRUE(reg.OpenKey("conn", false));  // relative to the open key
  EXPECT_EQ(reg.CurrentPath(), "Software\\Conn");
  EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"Serial", "Tcp"}));
  EXPECT_TRUE(reg.HasSubKeys());
  EXPECT_TRUE(reg.KeyExists("tcp\\deep"));
  EXPECT_FALSE(reg.KeyExists("Deep"));
  EXPECT_TRUE(reg.KeyExists("\\Software\\Empty"));

  EXPECT_FALSE(reg.OpenKey("Missing", false));  // a failed open keeps the open key
  EXPECT_EQ(reg.CurrentPath(), "Software\\Conn");
  ASSERT_TRUE(reg.OpenKey("Serial", false));
  EXPECT_FALSE(reg.HasSubKeys());
  EXPECT_TRUE(reg.GetKeyNames().empty());

  Registry fresh(HKEY_CURRENT_USER);  // empty keys are kept in the store
  ASSERT_TRUE(fresh.OpenKeyReadOnly("Software\\Empty"));
  EXPECT_TRUE(fresh.GetValueNames().empty());
  ASSERT_TRUE(fresh.OpenKeyReadOnly("\\Software"));
  EXPECT_EQ(fresh.GetKeyNames(), (std::vector<std::string>{"Conn", "Empty"}));
}

TEST_F(RegistryTest, DeleteKeyTakesItsSubkeys) {
  Registry reg(HKEY_CLASSES_ROOT);
  ASSERT_TRUE(reg.OpenKey("CLSID\\{B3DE3CC2-C629-11D1-8FE9-E4CD05C10000}\\LocalServer32", true));
  reg.WriteString("", "/opt/kd/mbserver");
  ASSERT_TRUE(reg.OpenKey("\\CLSID\\Other", true));
  EXPECT_FALSE(reg.DeleteKey("\\CLSID\\Nothing"));
  EXPECT_FALSE(reg.DeleteKey("\\"));  // a root stays
  EXPECT_TRUE(reg.DeleteKey("\\CLSID\\{b3de3cc2-c629-11d1-8fe9-e4cd05c10000}"));
  EXPECT_FALSE(reg.KeyExists("\\CLSID\\{B3DE3CC2-C629-11D1-8FE9-E4CD05C10000}\\LocalServer32"));
  EXPECT_EQ(reg.CurrentPath(), "CLSID\\Other");  // not below the deleted key: still open

  EXPECT_TRUE(reg.DeleteKey("\\CLSID"));  // the open key goes with it
  EXPECT_EQ(reg.CurrentPath(), "");
  EXPECT_THROW(reg.WriteString("x", "y"), RegistryError);
  EXPECT_TRUE(reg.OpenKey("\\CLSID", true));
  EXPECT_TRUE(reg.GetKeyNames().empty());
}

TEST_F(RegistryTest, WritesNeedAWritableKeyThatStillExists) {
  Registry writer(HKEY_CURRENT_USER), reader(HKEY_CURRENT_USER), gone(HKEY_CURRENT_USER);
  EXPECT_THROW(writer.WriteInteger("x", 1), RegistryError);  // nothing open
  ASSERT_TRUE(writer.OpenKey("Dev\\A", true));
  ASSERT_TRUE(reader.OpenKeyReadOnly("Dev\\A"));
  EXPECT_THROW(reader.WriteInteger("x", 1), RegistryError);
  EXPECT_THROW(reader.DeleteValue("x"), RegistryError);
  ASSERT_TRUE(gone.OpenKey("Dev\\A", false));
  writer.DeleteKey("\\Dev\\A");
  EXPECT_THROW(gone.WriteInteger("x", 1), RegistryError);  // not brought back
  EXPECT_FALSE(writer.KeyExists("\\Dev\\A"));
}

TEST_F(RegistryTest, AwkwardNamesAndTextsSurviveTheStore) {
  const std::vector<std::pair<std::string, std::string>> values = {
      {"@", "at"},          {"a=b", "x=y"},        {"[x]", "[y]"},        {";c", ";d"},
      {" lead", " lead"},   {"trail ", "trail "},  {"50%", "100%"},       {"new\nline", "two\r\nlines"},
      {"back\\slash", "C:\\dir\\"}, {"tab\t", "\t"}, {"\xFF\xFE", "caf\xE9"}, {"nul", std::string("a\0b", 3)},
      {"empty", ""},
  };
  const std::string key = "Odd ] %keys\\ spaced ";
  {
    Registry reg;
    ASSERT_TRUE(reg.OpenKey(key, true));
    for (const auto& [name, text] : values) reg.WriteString(name, text);
    reg.WriteInteger("", -2147483647 - 1);
  }
  Registry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly(key));
  EXPECT_EQ(reg.CurrentPath(), "Odd ] %keys\\ spaced ");
  for (const auto& [name, text] : values) EXPECT_EQ(reg.ReadString(name), text) << name;
  EXPECT_EQ(reg.ReadInteger(""), -2147483647 - 1);
  EXPECT_EQ(reg.GetValueNames().size(), values.size() + 1);
}

TEST_F(RegistryTest, DamagedStoreRaisesAndIsNeverOverwritten) {
  const std::string good =
      "; KD730 Tuning Desk registry\n"
      "[HKEY_CURRENT_USER\\Dev]\n"
      "Port=dword:3\n"
      "; end\n";
  struct Case { const char* name; std::string text; int line; } cases[] = {
      {"empty file", "", 1},
      {"no end line", good.substr(0, good.find("; end")), 4},
      {"cut inside a line", good.substr(0, good.find("=dword") + 4), 3},
      {"no '='", "[HKEY_CURRENT_USER\\Dev]\nPort\n; end\n", 2},
      {"unknown type", "[HKEY_CURRENT_USER\\Dev]\nPort=real:1.5\n; end\n", 2},
      {"bad number", "[HKEY_CURRENT_USER\\Dev]\nPort=dword:12x\n; end\n", 2},
      {"bad escape", "[HKEY_CURRENT_USER\\Dev]\nPort=sz:50%\n; end\n", 2},
      {"value before a key", "Port=dword:3\n; end\n", 1},
      {"unknown root", "[HKEY_NOWHERE\\Dev]\n; end\n", 1},
      {"unclosed key", "[HKEY_CURRENT_USER\\Dev\n; end\n", 1},
      {"value twice", "[HKEY_CURRENT_USER\\Dev]\nPort=dword:3\nport=dword:4\n; end\n", 3},
      {"text after the end", good + "[HKEY_CURRENT_USER\\More]\n", 5},
      {"NUL byte", std::string("[HKEY_CURRENT_USER\\Dev]\nP\0=dword:1\n; end\n", 38), 2},
  };
  std::filesystem::create_directory(dir_.File("kd730-tuning-desk"));
  for (const auto& c : cases) {
    WriteFile(Store(), good);
    Registry early(HKEY_CURRENT_USER);  // opened while the store was sound
    ASSERT_TRUE(early.OpenKey("Dev", false));
    WriteFile(Store(), c.text);

    Registry reg(HKEY_CURRENT_USER);
    const std::string err = ErrorOf([&] { reg.OpenKey("Dev", true); });
    EXPECT_EQ(err.rfind("Registry: damaged store '" + Store() + "', line " + std::to_string(c.line) + ": ", 0), 0u)
        << c.name << ": " << err;
    EXPECT_THROW(early.WriteInteger("Port", 4), RegistryError) << c.name;
    EXPECT_THROW(reg.KeyExists("Dev"), RegistryError) << c.name;
    EXPECT_EQ(ReadFile(Store()), c.text) << c.name;
  }
}

TEST_F(RegistryTest, StoreThatCannotBeWrittenRaises) {
  WriteFile(dir_.File("plain"), "");
  ScopedEnv env("XDG_CONFIG_HOME", dir_.File("plain"));
  Registry reg;
  EXPECT_FALSE(reg.OpenKey("Dev", false));
  const std::string err = ErrorOf([&] { reg.OpenKey("Dev", true); });
  EXPECT_EQ(err.rfind("Registry: cannot write '" + dir_.File("plain/kd730-tuning-desk/registry") + "': ", 0), 0u) << err;
}

// A store that is no regular file, or past the bound, raises at once and in
// bounded memory, for reads and writes, and stays what it was (the device
// is never written to).
TEST_F(RegistryTest, StoreThatIsNoRegularFileRaisesAndIsKept) {
  namespace fs = std::filesystem;
  TempDir elsewhere;
  const kdtest::RefusedPaths paths(elsewhere.Path(), "");
  fs::create_directory(dir_.File("kd730-tuning-desk"));
  const long memory = kdtest::PeakMemoryKiB();
  for (const auto& c : paths.Reasons(16 << 20)) {
    SCOPED_TRACE(c.path);
    fs::remove(Store());
    fs::create_symlink(c.path, Store());
    const kdtest::FifoWatchdog watchdog(paths.fifo, std::chrono::seconds(10));
    const std::string error = "Registry: cannot read '" + Store() + "': " + c.reason;
    Registry reg(HKEY_CURRENT_USER);
    EXPECT_EQ(ErrorOf([&] { reg.OpenKey("Dev", false); }), error);
    if (c.path != paths.device) {
      EXPECT_EQ(ErrorOf([&] { reg.OpenKey("Dev", true); }), error);
    }
    EXPECT_FALSE(watchdog.Fired()) << "waited for a writer";
  }
  EXPECT_LT(kdtest::PeakMemoryKiB() - memory, 64 * 1024) << "KiB more at the peak";
  EXPECT_EQ(paths.Changes(), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere.Path()), {}), 4);
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kEach = 200;
  const std::string count = std::to_string(kEach);
  const char* prefixes[2] = {"a", "b"};
  ChildProcess a({KD_REGISTRY_WRITER, prefixes[0], count}, ChildProcess::kNone);
  ChildProcess b({KD_REGISTRY_WRITER, prefixes[1], count}, ChildProcess::kNone);
  EXPECT_EQ(a.Wait(std::chrono::seconds(60)), 0);
  EXPECT_EQ(b.Wait(std::chrono::seconds(60)), 0);
  Registry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\Race"));
  EXPECT_EQ(reg.GetValueNames().size(), 2u * kEach);
  for (const char* p : prefixes)
    for (int i = 0; i < kEach; ++i) EXPECT_EQ(reg.ReadInteger(p + std::to_string(i)), i);
}
