// The program transfers run against a simulated machine in this process,
// through mbserver over TCP; the machine keeps every request it got.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "MachineTestSupport.h"
#include "MbClientSupport.h"
#include "SimMachine.h"
#include "SimSlave.h"
#include "Tladmcollectioncmp.h"
#include "Tlambchainedtransacls.h"
#include "Tlaqzmachinecmp.h"

using namespace qztest;
using namespace std::chrono_literals;

namespace {

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The simulated machine, served over TCP on a port of its own.
class LocalMachine {
 public:
  explicit LocalMachine(const std::string& parFile)
      : machine_(parFile, {}, Seconds()),
        slave_(machine_, 1, kdsim::SimIdentity{9, 420, 0xFFFF, 210, 0xFFFF}, false),
        server_([this](const Bytes& request) { return Answer(request); }) {}

  int Port() const { return server_.Port(); }
  // Runs f(machine) with the machine to itself.
  template <class F>
  auto With(F&& f) {
    std::lock_guard lock(lock_);
    return f(machine_);
  }
  std::vector<Bytes> Requests() {
    std::lock_guard lock(lock_);
    return requests_;
  }
  // Changes every answer from now on.
  void Tamper(std::function<void(Bytes&)> tamper) {
    std::lock_guard lock(lock_);
    tamper_ = std::move(tamper);
  }
  int Register(const char* name) {
    return With([&](kdsim::SimMachine& m) { return m.Map().GetInt(m.Map().Find(name)); });
  }

 private:
  std::optional<Bytes> Answer(const Bytes& request) {
    std::lock_guard lock(lock_);
    requests_.push_back(request);
    auto answer = slave_.Handle(request, Seconds());
    if (answer && tamper_) tamper_(*answer);
    return answer;
  }

  std::mutex lock_;
  kdsim::SimMachine machine_;
  kdsim::SimSlave slave_;
  std::vector<Bytes> requests_;
  std::function<void(Bytes&)> tamper_;
  mbtest::CannedSlave server_;  // last: its thread answers through the members above
};

// Runs a transfer as the worker would, pass after pass, until it is over
// (the machine confirms a selection in its own time).
std::int32_t RunToEnd(TlaMBTransaction& transfer, TModbusSrv& server) {
  const auto until = std::chrono::steady_clock::now() + 30s;
  std::int32_t r = transfer.Run(server);
  while (transfer.GetContinuing() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(10ms);
    r = transfer.Run(server);
  }
  EXPECT_FALSE(transfer.GetContinuing()) << transfer.GetName() << " not over after 30 s";
  return r;
}

// The whole register image.
Bytes Image(const TlaRegDataBuffer& image) {
  return mbtest::Contents(*image.DataBuffer());
}

void FillImage(const TlaRegDataBuffer& image, std::uint8_t value) {
  TlaThreadBuffer::WriteAccess write(*image.DataBuffer());
  std::fill_n(write.Data(), image.DataBuffer()->Size(), value);
}

// The answer carries a block of registers (more than the one register of a
// selection's confirmation or a program number).
bool IsBlockAnswer(const Bytes& answer) {
  return answer.size() > 3 && answer[1] == 3 && answer[2] > 2;
}

// Function-3 reads among the requests, as (first, count).
std::vector<std::pair<int, int>> Reads(const std::vector<Bytes>& requests, int from) {
  std::vector<std::pair<int, int>> reads;
  for (const Bytes& r : requests)
    if (r.size() == 6 && r[1] == 3 && (r[2] << 8 | r[3]) >= from)
      reads.emplace_back(r[2] << 8 | r[3], r[4] << 8 | r[5]);
  return reads;
}

class QZTransferTest : public mbtest::MbClientTest {
 protected:
  // A machine device identified with `version` from `folder`, talking to the
  // simulated machine of `parFile`.
  void Start(const std::string& folder, const std::string& version, const std::string& parFile) {
    coll_.SetFilePath(folder);
    ASSERT_TRUE(machine_.CreateRegDataBuffer(coll_.LoadRegDefsListFor(version)));
    machine_.ChangeSlaveAddress(1);
    local_ = std::make_unique<LocalMachine>(parFile);
    srv_ = OpenTcp(local_->Port());
  }
  void StartShipped() { Start(kDataDir, kMachineVersion, kDataDir + "/QZ420_Machine.par"); }
  TlaQZProgMove* Move() { return machine_.CreateProgMoveTransaction({}, {}, {}, {}); }

  TlaDMCollection coll_;
  TlaQZMachine machine_;
  std::unique_ptr<LocalMachine> local_;
  std::unique_ptr<TModbusSrv> srv_;
};

TEST_F(QZTransferTest, SlotSelectionHandshake) {
  StartShipped();
  TlaQZProgMove* move = Move();
  move->SetProgNum(kSlots);  // past the last slot: nothing is sent
  EXPECT_EQ(RunToEnd(*move, *srv_), kMBSpecialFailed);
  EXPECT_TRUE(local_->Requests().empty());

  move->SetProgNum(kSlots - 1);
  EXPECT_EQ(RunToEnd(*move, *srv_), kMBSuccess);
  EXPECT_TRUE(move->GetLastOk());
  EXPECT_EQ(local_->Register("NewSelProgEE"), kSlots);
  EXPECT_EQ(local_->Register("ActSelProgEE"), kSlots);
  const std::vector<Bytes> requests = local_->Requests();
  const auto newSel = static_cast<std::uint8_t>(move->GetNewSelAddress());
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests.front(), (Bytes{1, 6, 0, newSel, 0, kSlots}));
  // The machine confirms after a delay: the selection is read until it does.
  EXPECT_EQ(Reads(requests, 0).size(), requests.size() - 1);

  // A selection the machine refuses, and one it never confirms.
  local_->With([](kdsim::SimMachine& m) { m.Setup().FailSelect = 2; });
  move->SetProgNum(2);
  EXPECT_EQ(RunToEnd(*move, *srv_), kd::mb::ExceptionResult(4));
  EXPECT_FALSE(move->GetLastOk());
  local_->With([](kdsim::SimMachine& m) { m.Setup().HoldSelect = 3; });
  move->SelectTimeoutMs = 200;
  move->SetProgNum(3);
  EXPECT_EQ(RunToEnd(*move, *srv_), kMBSpecialFailed);
  EXPECT_EQ(local_->Register("ActSelProgEE"), 0);
}

TEST_F(QZTransferTest, HeadersOfASlotRange) {
  StartShipped();
  std::vector<std::pair<int, int>> progress;
  TlaQZProgHeaders* headers = machine_.CreateProgHeaderTransaction(
      {}, [&](TlaMBTransaction*, int a, int b) { progress.emplace_back(a, b); }, {}, {});
  ASSERT_EQ(RunToEnd(*headers, *srv_), kMBSuccess);
  EXPECT_TRUE(headers->GetLastOk());
  EXPECT_EQ(headers->GetLastProg(), kSlots - 1);
  for (int k = 0; k < kSlots; ++k) {
    const str_ProgHeader h = headers->GetHeader(k);
    EXPECT_EQ(Shown(h.Name), kdsim::SimMachine::SampleName(k, 10)) << k;
    EXPECT_EQ(Shown(h.Client), kdsim::SimMachine::SampleClient(k)) << k;
    EXPECT_EQ(h.Date, kd::Sprintf("%02d/03/24", k + 1)) << k;
  }
  EXPECT_EQ(Shown(headers->GetHeader(1).Material), "ABS");
  loop_.ProcessEvents();
  ASSERT_EQ(progress.size(), static_cast<std::size_t>(kSlots));
  EXPECT_EQ(progress.front(), std::make_pair(1, kSlots));
  EXPECT_EQ(progress.back(), std::make_pair(kSlots, kSlots));

  // The selection of the third slot of 0..9 fails: two headers, LastProg 1.
  local_->With([](kdsim::SimMachine& m) { m.Setup().FailSelect = 2; });
  headers->SetLastProg(9);
  EXPECT_EQ(headers->GetHeader(0).Name, "?????");  // a new range drops what was read
  EXPECT_EQ(RunToEnd(*headers, *srv_), kd::mb::ExceptionResult(4));
  EXPECT_FALSE(headers->GetLastOk());
  EXPECT_EQ(headers->GetLastProg(), 1);
  EXPECT_EQ(Shown(headers->GetHeader(1).Name), "PROG02");
  EXPECT_EQ(headers->GetHeader(2), (str_ProgHeader{"?????", "-----", "-----", "-----"}));
}

// Blocks are cut already at the limit (MaxBufferSize - 5 bytes), where a
// chained read would send them whole.
TEST_F(QZTransferTest, BlocksAtTheLimitAreCut) {
  const std::string fixtures = std::string(KD_TEST_FIXTURES) + "/machine";
  Start(fixtures, "KDP9_KD421v100", fixtures + "/small.par");
  auto* chained = new TlaMBChainedTransa(&machine_, "EEProgram",
                                         TlaMBChainedTransa::Read);  // owned by the device
  EXPECT_EQ(chained->GetPartRanges(), (std::vector<TlaMBChainedTransa::PartRange>{{11, 8}}));

  std::vector<std::pair<int, int>> progress;
  TlaQZProgMove* move = machine_.CreateProgMoveTransaction(
      {}, [&](TlaMBTransaction*, int a, int b) { progress.emplace_back(a, b); }, {}, {});
  move->SetProgNum(1);
  move->StartMove(TlaQZProgMove::FromMachine);
  ASSERT_EQ(RunToEnd(*move, *srv_), kMBSuccess);
  EXPECT_EQ(Reads(local_->Requests(), 11), (std::vector<std::pair<int, int>>{{11, 4}, {15, 4}}));
  EXPECT_EQ(ProgramBytes(machine_), local_->With([](kdsim::SimMachine& m) { return m.Slot(1); }));
  loop_.ProcessEvents();
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{4, 8}, {8, 8}}));
}

// A well-formed answer that carries one register fewer than asked is
// refused; the image keeps what it had.
TEST_F(QZTransferTest, AnswersOfTheWrongSize) {
  StartShipped();
  local_->Tamper([](Bytes& answer) {
    if (answer[1] != 3 || answer[2] <= 2) return;  // not the selection's one-register reads
    answer[2] = static_cast<std::uint8_t>(answer[2] - 2);
    answer.resize(answer.size() - 2);
  });
  TlaQZProgMove* move = Move();
  move->SetProgNum(0);
  move->StartMove(TlaQZProgMove::FromMachine);
  EXPECT_EQ(RunToEnd(*move, *srv_), kMBAnswerSize);
  EXPECT_EQ(ProgramBytes(machine_), Bytes(kProgramBytes, 0));

  TlaQZActProgRAM* ram = machine_.ReqActProgRead({}, {}, {}, {});
  EXPECT_EQ(ram->Run(*srv_), kMBAnswerSize);
  EXPECT_EQ(ram->GetLastMode(), 0);
  EXPECT_EQ(ram->GetMode(), 0);
}

TEST_F(QZTransferTest, StartMoveWhileRunningIsIgnored) {
  StartShipped();
  local_->With([](kdsim::SimMachine& m) { m.Setup().HoldSelect = 5; });
  TlaQZProgMove* move = Move();
  move->SetProgNum(5);
  move->StartMove(TlaQZProgMove::FromMachine);
  std::int32_t result = -1;
  std::thread run([&] { result = RunToEnd(*move, *srv_); });
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (!move->GetRunning() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(move->GetRunning());
  move->StartMove(TlaQZProgMove::ToMachine);
  move->SetProgNum(9);
  EXPECT_EQ(move->GetMoveMode(), TlaQZProgMove::FromMachine);
  EXPECT_EQ(move->GetProgNum(), 5);
  local_->With([](kdsim::SimMachine& m) { m.Setup().HoldSelect = -1; });
  run.join();
  EXPECT_EQ(result, kMBSuccess);
  EXPECT_EQ(ProgramBytes(machine_), local_->With([](kdsim::SimMachine& m) { return m.Slot(5); }));
}

// An abort ends a move or a header read with -8 and OnError, never OnDone(0);
// a move from the machine leaves the image as it was.
TEST_F(QZTransferTest, AbortIsAFailure) {
  StartShipped();
  FillImage(machine_, 0x5A);
  const Bytes before = Image(machine_);
  std::vector<std::string> events;
  auto record = [&](const char* what) {
    return [&events, what](TlaMBTransaction*, std::int32_t v) {
      events.push_back(what + std::to_string(v));
    };
  };
  TlaQZProgMove* move = machine_.CreateProgMoveTransaction(record("done "), {}, record("error "), {});
  TlaQZProgHeaders* headers =
      machine_.CreateProgHeaderTransaction(record("done "), {}, record("error "), {});
  struct Case {
    const char* what;
    TlaQZProgEEProm* transfer;
  };
  move->SetProgNum(4);
  move->StartMove(TlaQZProgMove::FromMachine);
  const Case cases[] = {{"move", move}, {"headers", headers}};
  for (const Case& c : cases) {
    local_->Tamper([transfer = c.transfer](Bytes& answer) {
      if (IsBlockAnswer(answer)) transfer->Abort = true;  // after the first block
    });
    events.clear();
    EXPECT_EQ(RunToEnd(*c.transfer, *srv_), kMBSpecialFailed) << c.what;
    EXPECT_FALSE(c.transfer->GetLastOk()) << c.what;
    c.transfer->Notify();
    EXPECT_EQ(events, std::vector<std::string>{"error -8"}) << c.what;
  }
  EXPECT_EQ(Image(machine_), before);
}

// A read that fails part-way takes nothing into the image: no program made of
// the first blocks of one and the rest of another.
TEST_F(QZTransferTest, FailedReadLeavesTheImage) {
  StartShipped();
  FillImage(machine_, 0x5A);
  const Bytes before = Image(machine_);
  TlaQZProgMove* move = Move();
  move->SetProgNum(4);
  TlaQZActProgRAM* ram = machine_.ReqActProgRead({}, {}, {}, {});
  struct Case {
    const char* what;
    TlaMBTransaction* transfer;
    std::function<void()> start;
  };
  const Case cases[] = {
      {"move from the machine", move, [&] { move->StartMove(TlaQZProgMove::FromMachine); }},
      {"running program", ram, [&] { ram->StartRequest(3); }},
  };
  for (const Case& c : cases) {
    std::atomic<int> blocks = 0;  // counted where the machine answers
    local_->Tamper([&blocks](Bytes& answer) {
      if (IsBlockAnswer(answer) && ++blocks == 3) answer = {1, 0x83, 4};  // the third block
    });
    c.start();
    EXPECT_EQ(RunToEnd(*c.transfer, *srv_), kd::mb::ExceptionResult(4)) << c.what;
    EXPECT_EQ(blocks.load(), 3) << c.what;
    EXPECT_EQ(Image(machine_), before) << c.what;
  }
  local_->Tamper({});
  ram->StartRequest(3);
  ASSERT_EQ(RunToEnd(*ram, *srv_), kMBSuccess);
  EXPECT_NE(Image(machine_), before);
}

}  // namespace
