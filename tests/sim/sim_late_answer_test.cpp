// The operator program's road (a KD730 on the connection worker, mbserver, an
// RTU line) against a drive that answers one state read late: that answer
// must never land in the register image as another request's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceStack.h"
#include "Tladevicekd730cmp.h"

using namespace devtest;

namespace {

// The KD730 data model with a setup block as long as the state block and no
// fault block, so that the setup read follows the state read in the first
// pass, and a state answer would fit it.
std::string ModelWithEqualBlocks(const kdtest::TempDir& dir) {
  std::string text = kdtest::ReadFile(kPar);
  auto replace = [&](const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("data model: no '" + from + "'");
    text.replace(at, from.size(), to);
  };
  replace("RamSetup=0/23\n", "RamSetup=0/7\n");  // 8 registers, as ActState=26/33
  replace("FaultState=34/37\n", "");
  return dir.Write("KD730_Parameters.par", text);
}

TEST(LateStateAnswer, NeverReachesTheSetupImage) {
  // A slow drive (100 ms for each answer) answers its first state read after
  // the time-out (500 ms). 650 ms: the late answer comes while the line is
  // drained, and the retry's answer is its own. 1050 ms: the retry takes the
  // late answer, and the retry's own answer comes while the setup read waits.
  for (const char* late : {"26:650", "26:1050"}) {
    SCOPED_TRACE(late);
    Stack stack;
    kdtest::TempDir models;
    const std::string par = ModelWithEqualBlocks(models);
    stack.coll.SetFilePath(models.Path());
    stack.coll.DfltFile = "KD730_Parameters.par";
    SimLine sim(Line::Rtu, {"--par", par, "--latency", "100", "--late", late});

    TlaDeviceKD730 dev;
    dev.DMColl = &stack.coll;
    dev.SetMaxFaultCount(10);
    int setupUpdates = 0;
    dev.OnSetupUpdate = [&](TlaMBTransaction*, std::int32_t) { ++setupUpdates; };
    auto thread = std::make_unique<TlaMBThread>();
    Stack::Attach(dev, *thread, sim);  // the operator program's settings: 500 ms, two retries
    Stack::Open(*thread);
    ASSERT_TRUE(stack.RunUntil([&] { return setupUpdates == 1; }));
    EXPECT_DOUBLE_EQ(dev.UrV->GetValueDouble(0), 400.0);  // the drive's, not a state word

    // What the setup read put into the image is what the drive holds.
    std::vector<std::int32_t> taken;
    for (int n = 0; n < 8; ++n) taken.push_back(dev.GetRegister(n)->GetValueInteger(0));
    ASSERT_TRUE(stack.Online(dev));
    for (int n = 0; n < 8; ++n) {
      ASSERT_TRUE(dev.ReadReg(dev.GetRegister(n), true)) << n;
      EXPECT_EQ(dev.GetRegister(n)->GetValueInteger(0), taken[n]) << dev.GetRegister(n)->Definition->Name;
    }
  }
}

}  // namespace
