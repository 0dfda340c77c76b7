// kd730-sim as a process, against independent Modbus masters: mbpoll and
// libmodbus, over TCP and over a pair of pseudo terminals in RTU.
#include <gtest/gtest.h>
#include <modbus.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <regex>

#include "SimProcess.h"

using namespace kdsim;

namespace {

const std::string kSim = KD_SIM_EXE;
const std::string kPar = std::string(KD_DATA_DIR) + "/KD730_Parameters.par";

// Modbus addresses in KD730_Parameters.par.
constexpr int kUrV = 1, kCfgFlags = 10, kRefDig = 24, kArmature = 32, kActFault0 = 34, kPrevFault0 = 36;
constexpr int kEeModBusSlave = 38, kEeUrV = 39, kRegisterCount = 62;

std::vector<std::string> TcpArgs(std::vector<std::string> more = {}) {
  std::vector<std::string> args{"--tcp", "127.0.0.1:0", "--par", kPar};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

struct ModbusFree {
  void operator()(modbus_t* ctx) const {
    modbus_close(ctx);
    modbus_free(ctx);
  }
};
using Modbus = std::unique_ptr<modbus_t, ModbusFree>;

Modbus Connect(int port, int slave = 1, double timeoutSeconds = 2.0) {
  Modbus ctx(modbus_new_tcp("127.0.0.1", port));
  EXPECT_TRUE(ctx);
  modbus_set_slave(ctx.get(), slave);
  auto seconds = static_cast<uint32_t>(timeoutSeconds);
  modbus_set_response_timeout(ctx.get(), seconds, static_cast<uint32_t>((timeoutSeconds - seconds) * 1e6));
  EXPECT_EQ(modbus_connect(ctx.get()), 0) << modbus_strerror(errno);
  return ctx;
}

int Read(modbus_t* ctx, int address) {
  uint16_t value = 0;
  EXPECT_EQ(modbus_read_registers(ctx, address, 1, &value), 1) << modbus_strerror(errno);
  return value;
}

using kdtest::ChildProcess;
using kdtest::Millis;
constexpr Millis kLong{30000};

// Runs a program to its end: its exit code (-1 after a signal) and what it wrote to `capture`.
std::pair<int, std::string> RunToEnd(const std::string& program, const std::vector<std::string>& args,
                                     int capture = ChildProcess::kStdout) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess child(argv, capture);
  std::string output = child.ReadAll(kLong);
  return {child.Wait(kLong), output};
}

TEST(SimProgram, HelpDocumentsTheCommandLine) {
  auto [status, text] = RunToEnd(kSim, {"--help"});
  EXPECT_EQ(status, 0);
  for (const char* option : {"--rtu PATH", "--baud", "--parity none|even|odd", "--stop 1|2", "--tcp HOST:PORT",
                             "--par FILE", "--slave N", "--kdp", "--model", "--model-letters", "--version",
                             "--version-letters", "--eeprom FILE", "--fault NAME", "--silent", "listening on"})
    EXPECT_NE(text.find(option), std::string::npos) << option;

  auto bad = RunToEnd(kSim, {"--tcp", "127.0.0.1:0", "--parity", "mark"}, ChildProcess::kStderr);
  EXPECT_EQ(bad.first, 2);
  EXPECT_NE(bad.second.find("--parity"), std::string::npos);

  auto noModel = RunToEnd(kSim, {"--tcp", "127.0.0.1:0", "--par", "/nonexistent.par"}, ChildProcess::kStderr);
  EXPECT_EQ(noModel.first, 1);
  EXPECT_NE(noModel.second.find("/nonexistent.par"), std::string::npos);
}

TEST(SimProgram, EndsCleanlyOnSigtermAndSigint) {
  for (int signal : {SIGTERM, SIGINT}) {
    SimProcess sim(kSim, TcpArgs());
    int port = sim.TcpPort();
    ASSERT_GT(port, 0);
    sim.Process().Signal(signal);
    EXPECT_EQ(sim.Process().Wait(kLong), 0) << "signal " << signal;
    Modbus ctx(modbus_new_tcp("127.0.0.1", port));
    EXPECT_EQ(modbus_connect(ctx.get()), -1);  // the port is closed
  }
}

TEST(SimPeers, MbpollReadsAndWritesOverTcp) {
  SimProcess sim(kSim, TcpArgs());
  std::string port = std::to_string(sim.TcpPort());
  auto [status, text] = RunToEnd("mbpoll", {"-m", "tcp", "-p", port, "-a", "1", "-0", "-1", "-r", "1", "-c", "3",
                                       "127.0.0.1"});
  EXPECT_EQ(status, 0) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(\[1\]:\s+400\b)"))) << text;   // UrV 400 V
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(\[3\]:\s+200\b)"))) << text;   // IpA 20.0 A

  auto write = RunToEnd("mbpoll", {"-m", "tcp", "-p", port, "-a", "1", "-0", "-1", "-r", std::to_string(kRefDig),
                              "127.0.0.1", "12288"});
  EXPECT_EQ(write.first, 0) << write.second;
  auto back = RunToEnd("mbpoll", {"-m", "tcp", "-p", port, "-a", "1", "-0", "-1", "-r", std::to_string(kRefDig),
                             "127.0.0.1"});
  EXPECT_TRUE(std::regex_search(back.second, std::regex(R"(\[24\]:\s+12288\b)"))) << back.second;
}

TEST(SimPeers, MbpollReadsAndWritesOverRtuAt19200EvenParity) {
  kdtest::SocatPair ptys;
  SimProcess sim(kSim, {"--rtu", ptys.A(), "--baud", "19200", "--parity", "even", "--par", kPar});
  EXPECT_EQ(sim.Address(), ptys.A());
  const std::vector<std::string> line{"-m", "rtu", "-b", "19200", "-P", "even", "-a", "1", "-0", "-1"};
  auto args = line;
  args.insert(args.end(), {"-r", std::to_string(kRefDig), ptys.B(), "12288"});
  auto write = RunToEnd("mbpoll", args);
  EXPECT_EQ(write.first, 0) << write.second;
  args = line;
  args.insert(args.end(), {"-r", "1", "-c", "2", ptys.B()});
  auto read = RunToEnd("mbpoll", args);
  EXPECT_EQ(read.first, 0) << read.second;
  EXPECT_TRUE(std::regex_search(read.second, std::regex(R"(\[1\]:\s+400\b)"))) << read.second;
  EXPECT_TRUE(std::regex_search(read.second, std::regex(R"(\[2\]:\s+100\b)"))) << read.second;
  args = line;
  args.insert(args.end(), {"-r", std::to_string(kRefDig), ptys.B()});
  auto back = RunToEnd("mbpoll", args);
  EXPECT_TRUE(std::regex_search(back.second, std::regex(R"(\[24\]:\s+12288\b)"))) << back.second;
}

TEST(SimPeers, LibmodbusMasterReadsWritesAndGetsExceptions) {
  SimProcess sim(kSim, TcpArgs());
  Modbus ctx = Connect(sim.TcpPort());
  uint16_t setup[3] = {};
  ASSERT_EQ(modbus_read_registers(ctx.get(), kUrV, 3, setup), 3);
  EXPECT_EQ(setup[0], 400);
  EXPECT_EQ(setup[1], 100);
  EXPECT_EQ(setup[2], 200);

  EXPECT_EQ(modbus_write_register(ctx.get(), kRefDig, 24576), 1);
  const uint16_t twins[2] = {380, 120};
  EXPECT_EQ(modbus_write_registers(ctx.get(), kEeUrV, 2, twins), 2);
  uint16_t back[2] = {};
  ASSERT_EQ(modbus_read_registers(ctx.get(), kEeUrV, 2, back), 2);
  EXPECT_EQ(back[0], 380);
  EXPECT_EQ(back[1], 120);

  uint16_t v = 0;
  EXPECT_EQ(modbus_read_registers(ctx.get(), kRegisterCount, 1, &v), -1);
  EXPECT_EQ(errno, EMBXILADD);
  EXPECT_EQ(modbus_write_register(ctx.get(), kRegisterCount, 1), -1);
  EXPECT_EQ(errno, EMBXILADD);
  uint16_t many[18] = {};
  EXPECT_EQ(modbus_read_registers(ctx.get(), 0, 18, many), -1);  // beyond the drive's buffer
  EXPECT_EQ(errno, EMBXILVAL);
  EXPECT_EQ(modbus_read_input_registers(ctx.get(), 0, 1, &v), -1);
  EXPECT_EQ(errno, EMBXILFUN);

  // The motor turns: the armature feedback rises towards the reference.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int armature = 0;
  while (std::chrono::steady_clock::now() < deadline && (armature = static_cast<int16_t>(Read(ctx.get(), kArmature))) < 1000) {
  }
  EXPECT_GE(armature, 1000);
}

TEST(SimPeers, ServesSeveralTcpClients) {
  SimProcess sim(kSim, TcpArgs());
  Modbus a = Connect(sim.TcpPort());
  Modbus b = Connect(sim.TcpPort());
  Modbus c = Connect(sim.TcpPort());
  EXPECT_EQ(modbus_write_register(a.get(), kRefDig, 100), 1);
  EXPECT_EQ(Read(b.get(), kRefDig), 100);
  c.reset();  // a client going away leaves the others served
  EXPECT_EQ(modbus_write_register(b.get(), kRefDig, 200), 1);
  EXPECT_EQ(Read(a.get(), kRefDig), 200);
}

TEST(SimPeers, OtherSlaveAddressesAndSilentGetNoAnswer) {
  SimProcess sim(kSim, TcpArgs({"--slave", "5"}));
  Modbus other = Connect(sim.TcpPort(), 1, 0.3);
  uint16_t v = 0;
  EXPECT_EQ(modbus_read_registers(other.get(), kUrV, 1, &v), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  Modbus right = Connect(sim.TcpPort(), 5);
  EXPECT_EQ(Read(right.get(), kUrV), 400);

  SimProcess silent(kSim, TcpArgs({"--silent"}));
  Modbus ctx = Connect(silent.TcpPort(), 1, 0.3);
  EXPECT_EQ(modbus_read_registers(ctx.get(), kUrV, 1, &v), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
}

TEST(SimPeers, EepromAndSlaveAddressSurviveARestart) {
  kdtest::TempDir dir;
  const std::string eeprom = dir.Path() + "/eeprom.ini";
  {
    SimProcess sim(kSim, TcpArgs({"--eeprom", eeprom}));
    Modbus ctx = Connect(sim.TcpPort());
    EXPECT_EQ(modbus_write_register(ctx.get(), kUrV, 300), 1);  // RAM only
    EXPECT_EQ(modbus_write_register(ctx.get(), kEeUrV, 420), 1);
    EXPECT_EQ(modbus_write_register(ctx.get(), kEeModBusSlave, 9), 1);
    EXPECT_EQ(Read(ctx.get(), kUrV), 300);  // still slave 1 until the restart
    sim.Process().Signal(SIGTERM);
    EXPECT_EQ(sim.Process().Wait(kLong), 0);
  }
  SimProcess sim(kSim, TcpArgs({"--eeprom", eeprom}));
  Modbus ctx = Connect(sim.TcpPort(), 9);
  EXPECT_EQ(Read(ctx.get(), kUrV), 420);
  EXPECT_EQ(Read(ctx.get(), kEeUrV), 420);
}

TEST(SimPeers, FaultsFromTheCommandLineAndTheirClearing) {
  SimProcess sim(kSim, TcpArgs({"--fault", "Overcurrent", "--fault", "ActFaultState_0.5"}));
  Modbus ctx = Connect(sim.TcpPort());
  EXPECT_EQ(Read(ctx.get(), kActFault0), 0x21);
  EXPECT_EQ(modbus_write_register(ctx.get(), kActFault0, 0x20), 1);  // clear Overcurrent
  EXPECT_EQ(Read(ctx.get(), kActFault0), 0x20);
  EXPECT_EQ(Read(ctx.get(), kPrevFault0), 0x01);

  auto unknown = RunToEnd(kSim, TcpArgs({"--fault", "Melted"}), ChildProcess::kStderr);
  EXPECT_EQ(unknown.first, 1);
  EXPECT_NE(unknown.second.find("Melted"), std::string::npos);
}

// The identification answer, read past libmodbus (which cannot frame it).
std::vector<uint8_t> RawAnswer(modbus_t* ctx, const std::vector<uint8_t>& request, size_t expected) {
  EXPECT_GT(modbus_send_raw_request(ctx, const_cast<uint8_t*>(request.data()), static_cast<int>(request.size())), 0);
  std::vector<uint8_t> answer;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (answer.size() < expected && std::chrono::steady_clock::now() < deadline) {
    pollfd p{modbus_get_socket(ctx), POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    uint8_t buffer[64];
    ssize_t n = read(p.fd, buffer, sizeof buffer);
    if (n <= 0) break;
    answer.insert(answer.end(), buffer, buffer + n);
  }
  return answer;
}

TEST(SimPeers, IdentificationAnswersTwelveBytes) {
  SimProcess sim(kSim, TcpArgs({"--kdp", "12", "--model-letters", "AB", "--version", "1.10"}));
  Modbus ctx = Connect(sim.TcpPort());
  std::vector<uint8_t> answer = RawAnswer(ctx.get(), {1, 0x41}, 7 + 11);
  ASSERT_EQ(answer.size(), 18u);
  EXPECT_EQ(answer[4], 0);
  EXPECT_EQ(answer[5], 12);  // MBAP length: unit id and 11 bytes
  const std::vector<uint8_t> twelve(answer.begin() + 6, answer.end());
  EXPECT_EQ(twelve, (std::vector<uint8_t>{1, 0x41, 0, 12, 0x02, 0xDA, 'A', 'B', 0, 110, 0xFF, 0xFF}));

  kdtest::SocatPair ptys;
  SimProcess rtu(kSim, {"--rtu", ptys.A(), "--par", kPar, "--slave", "3"});
  Modbus line(modbus_new_rtu(ptys.B().c_str(), 19200, 'E', 8, 1));
  modbus_set_slave(line.get(), 3);
  ASSERT_EQ(modbus_connect(line.get()), 0);
  answer = RawAnswer(line.get(), {3, 0x41}, 12 + 2);
  ASSERT_EQ(answer.size(), 14u);  // and the CRC
  EXPECT_EQ(std::vector<uint8_t>(answer.begin(), answer.begin() + 12),
            (std::vector<uint8_t>{3, 0x41, 0, 7, 0x02, 0xDA, 0xFF, 0xFF, 0, 105, 0xFF, 0xFF}));
}

}  // namespace
