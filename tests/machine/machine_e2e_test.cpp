// The machine from end to end: a connection worker, mbserver and qzmachine-sim
// over TCP, the way a program would drive them.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "MachineTestSupport.h"
#include "MbClientSupport.h"
#include "SimMachine.h"
#include "SimProcess.h"
#include "Tladmcollectioncmp.h"
#include "Tlambsimpletransacls.h"
#include "Tlaqzmachinecmp.h"
#include "Tlaqzprogramcmp.h"

using namespace qztest;
using namespace std::chrono_literals;

namespace {

class QZMachineRoad : public mbtest::MbClientTest {
 protected:
  QZMachineRoad() { coll_.SetFilePath(kDataDir); }
  ~QZMachineRoad() override {
    machine_.OnMachineStateChange = nullptr;
    machine_.OnStateChange = nullptr;
    machine_.OnAlarmChange = nullptr;
    worker_.reset();
  }

  // qzmachine-sim with the extra options, then the machine (polling every
  // tenth pass) on a worker until it is online.
  void Connect(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{
        "--tcp", "127.0.0.1:0", "--par", kDataDir + "/QZ420_Machine.par", "--select-delay", "20"};
    args.insert(args.end(), extra.begin(), extra.end());
    sim_ = std::make_unique<kdsim::SimProcess>(KD_QZSIM_EXE, args);
    const std::string ini =
        dir_.Write("machines.ini", "[Pressa]\nModBusAddress=1\nSampleTime=10\nEnable=1\n");
    ASSERT_TRUE(machine_.LoadFromIniFile(ini, "Pressa"));
    machine_.DMColl = &coll_;
    worker_ = std::make_unique<TlaMBThread>();
    SetTcp(worker_->Setup(), sim_->TcpPort(), 2, 1000);
    worker_->Add(&machine_);
    worker_->Setup().Enabled = true;
    ASSERT_TRUE(RunUntil([&] { return machine_.UpdateSlaveState() == slaveOnline; }));
  }
  // One transfer through the worker: start() hands it over; waits for its
  // done (or error) event and returns the result.
  std::int32_t Transfer(const std::function<bool()>& start) {
    finished_ = false;
    if (!start()) return -100;
    EXPECT_TRUE(RunUntil([&] { return finished_; }));
    return result_;
  }
  TlaTransaEvent Finish() {
    return [this](TlaMBTransaction* t, std::int32_t) {
      result_ = t->GetLastResult();
      finished_ = true;
    };
  }
  TlaMBTransaction* Transaction(const std::string& name) {
    for (int i = 0; i < machine_.GetTransaCount(); ++i)
      if (machine_.GetTransa(i)->GetName() == name) return machine_.GetTransa(i);
    return nullptr;
  }
  int Value(const char* name) {
    return machine_.GetRegister(std::string(name))->GetValueInteger(0);
  }
  // A register of the simulated machine, read by a master of its own.
  int SimRegister(const char* name) {
    if (!other_) other_ = OpenTcp(sim_->TcpPort());
    Bytes answer;
    const auto address = machine_.GetRegister(std::string(name))->Definition->RegAddr;
    EXPECT_EQ(Exchange(*other_, {1, 3, static_cast<std::uint8_t>(address >> 8),
                                static_cast<std::uint8_t>(address & 0xFF), 0, 1},
                       answer),
              0);
    return answer.size() == 5 ? answer[3] << 8 | answer[4] : -1;
  }
  // Closures that log "<what> <value>" for one transfer.
  TlaTransaEvent Log(const std::string& what) {
    return [this, what](TlaMBTransaction*, std::int32_t v) {
      events_.push_back(what + " " + std::to_string(v));
    };
  }
  // Passes of the worker over the machine: the state word is read again.
  void WaitForPolls(int n) {
    TlaMBTransaction* state = Transaction("StateTerra");
    ASSERT_NE(state, nullptr);
    std::set<double> reads;
    ASSERT_TRUE(RunUntil([&] {
      reads.insert(state->GetLastSuccess());
      return static_cast<int>(reads.size()) > n;
    }));
  }

  TlaDMCollection coll_;
  std::unique_ptr<kdsim::SimProcess> sim_;
  TlaQZMachine machine_;
  std::unique_ptr<TlaMBThread> worker_;
  bool finished_ = false;
  std::int32_t result_ = 0;
  std::vector<std::string> events_;
  std::unique_ptr<TModbusSrv> other_;  // a master of the test's own
};

// qzmachine-sim answers with the identity its data model names first.
TEST_F(QZMachineRoad, SimulatorIdentifiesAsItsDataModel) {
  kdsim::SimProcess sim(KD_QZSIM_EXE, {"--tcp", "127.0.0.1:0", "--par",
                                       std::string(KD_TEST_FIXTURES) + "/machine/small.par"});
  auto srv = OpenTcp(sim.TcpPort());
  Bytes answer;
  ASSERT_EQ(Exchange(*srv, {1, 0x41}, answer), 0);
  TlaVersionRecord record;
  ASSERT_EQ(TakeIdentification(answer, record), kMBSuccess);
  EXPECT_EQ(record.GetFullString(), "KDP9_KD421v100");
}

// Online with Alarm2 = 5 the node state is 108; once the machine clears the
// alarm it is 163, with one change event. An unchanged state word raises
// nothing.
TEST_F(QZMachineRoad, NodeStateFollowsTheAlarms) {
  std::vector<std::uint16_t> nodeStates;
  int stateChanges = 0, alarmChanges = 0;
  machine_.OnMachineStateChange = [&](TlaDeviceSlave*) {
    nodeStates.push_back(machine_.GetNodeState());
  };
  machine_.OnStateChange = [&](TlaDeviceSlave*) { ++stateChanges; };
  machine_.OnAlarmChange = [&](TlaDeviceSlave*) { ++alarmChanges; };
  Connect({"--set", "Alarm2=5", "--set", "StateTerra=3"});
  for (const char* name : {"CmdBordo", "StateTerra", "Allarmi"})
    ASSERT_NE(Transaction(name), nullptr) << name;
  ASSERT_TRUE(RunUntil([&] { return machine_.GetNodeState() == 108; }));
  EXPECT_EQ(Value("Alarm2"), 5);
  EXPECT_EQ(alarmChanges, 1);

  // Three more reads of an unchanged state word.
  TlaMBTransaction* state = Transaction("StateTerra");
  std::set<double> reads;
  ASSERT_TRUE(RunUntil([&] {
    reads.insert(state->GetLastSuccess());
    return reads.size() > 3;
  }));
  EXPECT_EQ(stateChanges, 1);
  EXPECT_EQ(Value("StateTerra"), 3);

  const std::size_t before = nodeStates.size();
  auto other = OpenTcp(sim_->TcpPort());
  Bytes answer;
  const auto alarm2 =
      static_cast<std::uint8_t>(machine_.GetRegister(std::string("Alarm2"))->Definition->RegAddr);
  ASSERT_EQ(Exchange(*other, {1, 6, 0, alarm2, 0, 0}, answer), 0);
  ASSERT_TRUE(RunUntil([&] { return machine_.GetNodeState() == 163; }));
  EXPECT_EQ(nodeStates.size(), before + 1);
  EXPECT_EQ(alarmChanges, 2);
  kd::StringList alarms;
  machine_.CompileAlarmList(&alarms);
  EXPECT_EQ(alarms.Text().find("ALLARME"), std::string::npos) << alarms.Text();
}

// Headers of every slot; a program from the machine, into a file and back,
// to another slot, compared; the running program in modes 1 to 3.
TEST_F(QZMachineRoad, ProgramsBetweenMachineFileAndSlots) {
  Connect();
  TlaQZProgHeaders* headers = machine_.CreateProgHeaderTransaction(Finish(), {}, Finish(), {});
  TlaQZProgMove* move = machine_.CreateProgMoveTransaction(Finish(), {}, Finish(), {});
  ASSERT_TRUE(headers && move);

  ASSERT_EQ(Transfer([&] { return machine_.AskForProgHeaders(0, kSlots - 1); }), 0);
  EXPECT_EQ(headers->GetLastProg(), kSlots - 1);
  for (int k = 0; k < kSlots; ++k)
    EXPECT_EQ(Shown(headers->GetHeader(k).Name), kdsim::SimMachine::SampleName(k, 10)) << k;

  // Slot 3 into the image, then into a file and back.
  ASSERT_EQ(Transfer([&] { return machine_.MoveProgFromRemote(3); }), 0);
  EXPECT_TRUE(move->GetDiffers());  // the image held no program before
  EXPECT_EQ(Value("EE_TempZona01"), 400);
  EXPECT_EQ(Shown(machine_.GetRegister(std::string("EE_NomeProgramma"))->GetValueText(0)),
            "PROG04");
  const Bytes fromMachine = ProgramBytes(machine_);

  TlaQZProgram saved;
  saved.DMColl = &coll_;
  ASSERT_TRUE(saved.SetVerString(coll_.GetVersionString(machine_.RegDefs())));
  SetProgramBytes(saved, fromMachine);
  saved.Lines.Add("copia dello slot 3");
  const std::string file = dir_.File("slot3.qzp");
  ASSERT_EQ(saved.SaveToFile(file), qzFileDone);
  TlaQZProgram loaded;
  loaded.DMColl = &coll_;
  ASSERT_EQ(loaded.LoadFromFile(file), qzFileDone);
  EXPECT_EQ(ProgramBytes(loaded), fromMachine);
  EXPECT_EQ(loaded.Lines.Lines(), std::vector<std::string>{"copia dello slot 3"});

  // The loaded program, renamed, into slot 7: the cached headers go.
  loaded.RenameProg("COPIA");
  SetProgramBytes(machine_, ProgramBytes(loaded));
  ASSERT_EQ(Transfer([&] { return machine_.MoveProgToRemote(7); }), 0);
  EXPECT_EQ(headers->GetHeader(0).Name, "?????");
  ASSERT_EQ(Transfer([&] { return machine_.CompareProgs(7); }), 0);
  EXPECT_FALSE(move->GetDiffers());
  machine_.GetRegister(std::string("EE_Cavita"))->SetValueInteger(0, 9);
  ASSERT_EQ(Transfer([&] { return machine_.CompareProgs(7); }), 0);
  EXPECT_TRUE(move->GetDiffers());
  EXPECT_EQ(Value("EE_Cavita"), 9);  // a comparison takes nothing
  ASSERT_EQ(Transfer([&] { return machine_.AskForProgHeaders(7, 7); }), 0);
  EXPECT_EQ(Shown(headers->GetHeader(7).Name), "COPIA");
  EXPECT_EQ(Shown(headers->GetHeader(7).Client), "CLIENTE 4");

  // The running program (slot 0's), in three steps.
  TlaQZActProgRAM* ram = nullptr;
  ASSERT_EQ(
      Transfer([&] { return (ram = machine_.ReqActProgNum(Finish(), {}, {}, {})) != nullptr; }), 0);
  EXPECT_EQ(ram->GetLastMode(), 1);
  EXPECT_EQ(Value("ActNumProg"), 1);
  EXPECT_EQ(Value("Act_TempZona01"), 0);
  ASSERT_EQ(Transfer([&] { return machine_.ReqActProgHeader(Finish(), {}, {}, {}) != nullptr; }),
            0);
  EXPECT_EQ(ram->GetLastMode(), 2);
  EXPECT_EQ(Shown(machine_.GetRegister(std::string("Act_NomeProgramma"))->GetValueText(0)),
            "PROG01");
  EXPECT_EQ(Value("Act_TempZona01"), 0);
  std::vector<std::pair<int, int>> progress;
  ASSERT_EQ(Transfer([&] {
              return machine_.ReqActProgRead(
                         Finish(),
                         [&](TlaMBTransaction*, int a, int b) { progress.emplace_back(a, b); }, {},
                         {}) != nullptr;
            }),
            0);
  EXPECT_EQ(ram->GetLastMode(), 3);
  EXPECT_EQ(Value("Act_TempZona01"), 100);
  EXPECT_EQ(Value("Act_Riserva"), 100 + 239);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::make_pair(kProgramRegisters, kProgramRegisters));
  EXPECT_EQ(machine_.GetNodeState(), 163);
}

// The line drops after three of the program's six blocks: the move ends with
// the time-out and OnError, and the image keeps the program it had.
TEST_F(QZMachineRoad, LineDroppedMidTransfer) {
  Connect({"--drop-after", "3"});
  TlaQZProgMove* move = machine_.CreateProgMoveTransaction(Log("done"), {}, Log("error"), {});
  ASSERT_NE(move, nullptr);
  SetProgramBytes(machine_, Bytes(kProgramBytes, 0x5A));
  ASSERT_TRUE(machine_.MoveProgFromRemote(3));
  ASSERT_TRUE(RunUntil([&] { return !events_.empty(); }, 60s));
  EXPECT_EQ(events_, std::vector<std::string>{"error " + std::to_string(kMBTimeout)});
  EXPECT_EQ(move->GetLastResult(), kMBTimeout);
  EXPECT_EQ(ProgramBytes(machine_), Bytes(kProgramBytes, 0x5A));
}

// While a selection waits for the machine, the device's transactions can be
// counted, a transfer created and the slave address changed at once; an abort
// then ends the header read with -8.
TEST_F(QZMachineRoad, SelectionWaitsOutsideTheLocks) {
  Connect({"--hold-select", "0"});
  TlaQZProgHeaders* headers = machine_.CreateProgHeaderTransaction(Log("done"), {}, Log("error"), {});
  ASSERT_NE(headers, nullptr);
  headers->SelectTimeoutMs = 60000;
  ASSERT_TRUE(machine_.AskForProgHeaders(0, 1));
  ASSERT_TRUE(RunUntil([&] { return headers->GetRunning(); }));
  ASSERT_TRUE(RunUntil([&] { return SimRegister("NewSelProgEE") == 1; }));
  const int count = machine_.GetTransaCount();
  EXPECT_NE(machine_.CreateProgMoveTransaction({}, {}, {}, {}), nullptr);
  EXPECT_EQ(machine_.GetTransaCount(), count + 1);
  machine_.ChangeSlaveAddress(1);
  // All three came back while the machine still has not confirmed.
  EXPECT_TRUE(headers->GetRunning());
  loop_.ProcessEvents();
  EXPECT_TRUE(events_.empty());

  headers->Abort = true;
  ASSERT_TRUE(RunUntil([&] { return !events_.empty(); }));
  EXPECT_EQ(events_, std::vector<std::string>{"error -8"});
  EXPECT_FALSE(headers->GetRunning());
}

// The connection is disabled while one transfer waits for its selection and
// another for its turn: both are cancelled (OnCancel) and neither runs when
// the connection comes back.
TEST_F(QZMachineRoad, DisabledConnectionCancelsPendingTransfers) {
  Connect({"--hold-select", "0"});
  TlaQZProgHeaders* headers =
      machine_.CreateProgHeaderTransaction(Log("headers done"), {}, Log("headers error"),
                                           Log("headers cancel"));
  TlaQZProgMove* move = machine_.CreateProgMoveTransaction(Log("move done"), {}, Log("move error"),
                                                           Log("move cancel"));
  ASSERT_TRUE(headers && move);
  headers->SelectTimeoutMs = 60000;
  ASSERT_TRUE(machine_.AskForProgHeaders(0, 1));
  ASSERT_TRUE(RunUntil([&] { return headers->GetRunning(); }));
  ASSERT_TRUE(RunUntil([&] { return SimRegister("NewSelProgEE") == 1; }));
  ASSERT_TRUE(machine_.MoveProgToRemote(7));
  worker_->Setup().Enabled = false;
  ASSERT_TRUE(RunUntil([&] { return events_.size() >= 2; }));
  std::sort(events_.begin(), events_.end());
  EXPECT_EQ(events_, (std::vector<std::string>{"headers cancel 0", "move cancel 0"}));
  EXPECT_FALSE(headers->GetActive() || headers->GetRunning() || move->GetActive());

  worker_->Setup().Enabled = true;
  ASSERT_TRUE(RunUntil([&] { return machine_.UpdateSlaveState() == slaveOnline; }));
  WaitForPolls(3);
  loop_.ProcessEvents();
  EXPECT_EQ(events_.size(), 2u);
  EXPECT_EQ(SimRegister("NewSelProgEE"), 1);  // slot 7 was never selected
  // Asked again, it runs.
  ASSERT_TRUE(machine_.MoveProgToRemote(7));
  ASSERT_TRUE(RunUntil([&] { return events_.size() == 3; }));
  EXPECT_EQ(events_.back(), "move done 0");
  EXPECT_EQ(SimRegister("ActSelProgEE"), 8);
}

}  // namespace
