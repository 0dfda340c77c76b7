// The machine device without a line: node states, slot counts, alarms, and
// the transfer entry points before the machine is online.
#include <gtest/gtest.h>

#include "MachineTestSupport.h"
#include "MainThread.h"
#include "TestSupport.h"
#include "Tladmcollectioncmp.h"
#include "Tlambthreadthr.h"
#include "Tlaqzcollectioncmp.h"
#include "Tlaqzmachinecmp.h"

using namespace qztest;

namespace {

TEST(QZMachineNodeState, Table) {
  struct Case {
    TlaSlaveState state;
    int worker;
    bool alarm;
    std::uint16_t code;
  };
  const Case cases[] = {
      {0, 4, false, 0xFFFF}, {1, 0, false, 162}, {2, 0, false, 172},    {3, 0, false, 175},
      {3, 1, false, 164},    {3, 2, false, 166}, {3, 3, false, 259},    {3, 4, false, 164},
      {4, 4, false, 190},    {5, 4, false, 193}, {6, 4, false, 163},    {6, 4, true, 108},
      {7, 4, true, 171},     {8, 0, false, 174}, {9, 4, false, 0xFFFF},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TlaQZMachine::NodeStateFor(c.state, c.worker, c.alarm), c.code)
        << int(c.state) << " " << c.worker;
}

class QZMachineTest : public ::testing::Test {
 protected:
  QZMachineTest() { coll_.SetFilePath(kDataDir); }
  // The machine's image built as its identification would build it.
  void Identify() {
    ASSERT_TRUE(machine_.CreateRegDataBuffer(coll_.LoadRegDefsListFor(kMachineVersion)));
  }

  kd::ScopedQueueLoop loop_;
  TlaDMCollection coll_;
  TlaQZMachine machine_;
};

// The node state follows the settings and the connection, one event per change.
TEST_F(QZMachineTest, NodeStateWithoutALine) {
  std::vector<std::uint16_t> seen;
  machine_.OnMachineStateChange = [&](TlaDeviceSlave* sender) {
    EXPECT_EQ(sender, &machine_);
    seen.push_back(machine_.GetNodeState());
  };
  EXPECT_EQ(machine_.GetNodeState(), 0xFFFF);  // settings invalid
  TlaMBDeviceSetup& setup = *machine_.DeviceSetup();
  setup.SetName("Pressa");
  setup.SetConnectionName("COM1");
  setup.SetModBusAddress(1);
  EXPECT_EQ(machine_.GetNodeState(), 162);  // disabled
  setup.SetEnable(true);
  EXPECT_EQ(machine_.GetNodeState(), 172);  // no connection
  {
    TlaMBThread worker;
    worker.Setup().Name = "COM1";
    worker.Add(&machine_);
    EXPECT_EQ(machine_.GetNodeState(), 175);  // connection not enabled
    EXPECT_EQ(machine_.UpdateQZNodeState(), 175);
    worker.Remove(&machine_);
  }
  EXPECT_EQ(machine_.UpdateQZNodeState(), 172);
  EXPECT_EQ(seen, (std::vector<std::uint16_t>{162, 172, 175, 172}));
}

TEST_F(QZMachineTest, SlotsAndAlarms) {
  EXPECT_EQ(machine_.GetEEPromProgCount(), 0);  // no data model yet
  kd::StringList list;
  machine_.CompileAlarmList(&list);
  EXPECT_TRUE(list.Empty());
  EXPECT_FALSE(machine_.GetIsAlarm());

  Identify();
  EXPECT_EQ(machine_.GetEEPromProgCount(), 10);
  EXPECT_EQ(machine_.GetMemBoxProgCount(), 5);
  EXPECT_FALSE(machine_.GetIsAlarm());
  machine_.GetRegister(std::string("Alarm2"))->SetValueInteger(0, 5);
  EXPECT_TRUE(machine_.GetIsAlarm());
  machine_.GetRegister(std::string("Alarm1"))->SetValueInteger(0, 0x8001);
  machine_.CompileAlarmList(&list);
  const std::string text = list.Text();
  for (const char* name : {"Emergenza", "Errore memoria", "Robot", "Soffiaggio"})
    EXPECT_NE(text.find(name), std::string::npos) << name << "\n" << text;
}

TEST(QZProgCount, AddOnInfo) {
  TlaRegDefsList model;
  EXPECT_EQ(QZProgCount(nullptr, "ProgCountEE"), 0);
  EXPECT_EQ(QZProgCount(&model, "ProgCountEE"), 0);
  for (const auto& [text, count] : std::vector<std::pair<std::string, int>>{
           {"12", 12}, {" 0x10", 16}, {"ten", 0}, {"-3", 0}, {"", 0}}) {
    model.AddOnInfo.Clear();
    model.AddOnInfo.Add("progcountee=" + text);  // the key in any letter case
    EXPECT_EQ(QZProgCount(&model, "ProgCountEE"), count) << text;
  }
}

// The transfers exist only once a data model with the slot registers is
// there; none of them starts while the machine is not online.
TEST_F(QZMachineTest, TransfersBeforeOnline) {
  EXPECT_EQ(machine_.CreateProgHeaderTransaction({}, {}, {}, {}), nullptr);
  EXPECT_EQ(machine_.CreateProgMoveTransaction({}, {}, {}, {}), nullptr);
  EXPECT_FALSE(machine_.AskForProgHeaders(0, 14));
  EXPECT_FALSE(machine_.MoveProgFromRemote(0));

  Identify();
  machine_.ChangeSlaveAddress(7);
  EXPECT_FALSE(machine_.AskForProgHeaders(0, 14));  // before CreateProgHeaderTransaction
  int done = 0;
  TlaQZProgHeaders* headers = machine_.CreateProgHeaderTransaction(
      [&](TlaMBTransaction*, std::int32_t) { ++done; }, {}, {}, {});
  ASSERT_NE(headers, nullptr);
  EXPECT_EQ(machine_.CreateProgHeaderTransaction({}, {}, {}, {}),
            headers);  // once; the closures replaced
  headers->PostDone();
  loop_.ProcessEvents();
  EXPECT_EQ(done, 0);
  EXPECT_EQ(headers->GetName(), "ProgHeaderEE[7]");
  EXPECT_EQ(headers->GetSlotCount(), kSlots);
  EXPECT_EQ(headers->GetFirstProg(), 0);
  EXPECT_EQ(headers->GetLastProg(), kSlots - 1);
  EXPECT_EQ(headers->GetHeader(3), (str_ProgHeader{"?????", "-----", "-----", "-----"}));
  EXPECT_EQ(headers->GetHeader(kSlots), str_ProgHeader{});
  headers->SetLastProg(kSlots);  // past the slots: ignored
  headers->SetFirstProg(2);
  EXPECT_EQ(headers->GetFirstProg(), 2);
  EXPECT_EQ(headers->GetLastProg(), kSlots - 1);
  EXPECT_FALSE(machine_.AskForProgHeaders(0, 14));  // not online
  EXPECT_FALSE(headers->GetActive());

  TlaQZProgMove* move = machine_.CreateProgMoveTransaction({}, {}, {}, {});
  ASSERT_NE(move, nullptr);
  EXPECT_EQ(move->GetName(), "ProgMove[7]");
  EXPECT_EQ(move->GetNewSelAddress(),
            machine_.GetRegister(std::string("NewSelProgEE"))->Definition->RegAddr);
  EXPECT_EQ(move->GetActSelAddress(),
            machine_.GetRegister(std::string("ActSelProgEE"))->Definition->RegAddr);
  EXPECT_FALSE(machine_.MoveProgToRemote(1));
  EXPECT_FALSE(machine_.CompareProgs(1));
  EXPECT_FALSE(move->GetActive());

  TlaQZActProgRAM* ram = machine_.ReqActProgHeader({}, {}, {}, {});
  EXPECT_EQ(machine_.ReqActProgNum({}, {}, {}, {}), ram);
  EXPECT_EQ(ram->GetName(), "ActProgRAM[7]");
  EXPECT_EQ(ram->GetMode(), 1);
  EXPECT_TRUE(ram->GetActive());
  EXPECT_EQ(machine_.GetTransaCount(), 3);
}

// The machine collection loads its set as the general one does; its devices
// are machines, their node state following their settings.
TEST(QZCollection, LoadsMachines) {
  kd::ScopedQueueLoop loop;
  kdtest::TempDir dir;
  const std::string ini = dir.Write("machines.ini",
                                    "[Pressa1]\nConnectionName=TCP\nModBusAddress=1\n"
                                    "[Pressa2]\nConnectionName=TCP\nModBusAddress=2\nEnable=0\n");
  TlaQZCollection set;
  EXPECT_EQ(set.ClassName(), "TlaQZCollection");
  set.CreateSetFromIniFile(ini);
  ASSERT_EQ(set.GetCountDevice(), 2);
  auto* first = dynamic_cast<TlaQZMachine*>(set.FindByName("Pressa1"));
  auto* second = dynamic_cast<TlaQZMachine*>(set.FindByName("Pressa2"));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->GetNodeState(), 172);   // enabled, no connection
  EXPECT_EQ(second->GetNodeState(), 162);  // disabled
  EXPECT_TRUE(set.DeleteDevice("Pressa1"));
  EXPECT_EQ(set.GetCountDevice(), 1);
}

}  // namespace
