// RegisterModbusServer with scripted dialogs.
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <filesystem>

#include "ProxyTestBase.h"
#include "RegisterModbusServer.h"

namespace {

struct ScriptedDialogs : TRegistrationDialogs {
  std::vector<std::string> messages;
  std::vector<std::string> captions;
  std::deque<std::string> folders;  // answers of the folder dialog; none left: cancel
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool SelectDirectory(const std::string& caption, const std::string&, std::string& chosen) override {
    captions.push_back(caption);
    if (folders.empty()) return false;
    chosen = folders.front();
    folders.pop_front();
    return true;
  }
};

class Registration : public ProxyTest {
 protected:
  Registration() {
    kd::mb::UnregisterServer();
    std::filesystem::create_directory(serverDir_);
    std::filesystem::create_symlink(KD_MBSERVER_PATH, serverDir_ + "/mbserver");
  }
  std::string serverDir_ = dir_.File("bin");
};

TEST_F(Registration, FindsTheServerInTheGivenFolderWithOrWithoutSlash) {
  for (const std::string& folder : {serverDir_, serverDir_ + "/"}) {
    ScriptedDialogs d;
    EXPECT_TRUE(RegisterModbusServer(folder, d));
    EXPECT_EQ(d.messages, std::vector<std::string>{"MBServer registered!\r\n \"" + serverDir_ + "/mbserver\""});
    EXPECT_TRUE(d.captions.empty());
    EXPECT_EQ(kd::mb::RegisteredServer(), KD_MBSERVER_PATH);
    kd::mb::UnregisterServer();
  }
}

TEST_F(Registration, EmptyFolderMeansTheCurrentDirectory) {
  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(serverDir_);
  ScriptedDialogs d;
  const bool ok = RegisterModbusServer("", d);
  std::filesystem::current_path(old);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d.messages.size(), 1u);
  EXPECT_EQ(kd::mb::RegisteredServer(), KD_MBSERVER_PATH);
}

TEST_F(Registration, AsksForAnotherFolderUntilFoundOrCancelled) {
  const std::string empty = dir_.File("empty");
  std::filesystem::create_directory(empty);
  const std::string notFound = "MBServer file not found!\r\n \"" + empty + "/mbserver\" does not exists.";
  {
    ScriptedDialogs d;
    EXPECT_FALSE(RegisterModbusServer(empty, d));
    EXPECT_EQ(d.messages, std::vector<std::string>{notFound});
    EXPECT_EQ(d.captions, std::vector<std::string>{"Select a new search path for \"mbserver\""});
    EXPECT_EQ(kd::mb::RegisteredServer(), "");
  }
  ScriptedDialogs d;
  d.folders = {serverDir_};
  EXPECT_TRUE(RegisterModbusServer(empty, d));
  ASSERT_EQ(d.messages.size(), 2u);
  EXPECT_EQ(d.messages[0], notFound);
  EXPECT_EQ(kd::mb::RegisteredServer(), KD_MBSERVER_PATH);
}

// A program that starts but fails is not reported as registered.
TEST_F(Registration, FailedRegistrationIsNotReportedAsSuccess) {
  const std::string fake = dir_.File("fake");
  std::filesystem::create_directory(fake);
  kdtest::WriteFile(fake + "/mbserver", "#!/bin/sh\nexit 3\n");
  ::chmod((fake + "/mbserver").c_str(), 0755);
  ScriptedDialogs d;
  EXPECT_FALSE(RegisterModbusServer(fake, d));
  EXPECT_EQ(d.messages, std::vector<std::string>{"MBServer registration unsuccessful!"});
  // Not executable at all: the start fails.
  ::chmod((fake + "/mbserver").c_str(), 0644);
  ScriptedDialogs d2;
  EXPECT_FALSE(RegisterModbusServer(fake, d2));
  EXPECT_EQ(d2.messages, std::vector<std::string>{"MBServer registration unsuccessful!"});
}

}  // namespace
