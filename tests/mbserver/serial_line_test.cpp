// RTU and ASCII lines against the scripted slave on a pseudo terminal.
#include <gtest/gtest.h>

#include <chrono>

#include "MbCodes.h"
#include "MbConnection.h"
#include "ScriptedSlave.h"

using namespace kd::mb;
using kdtest::Misbehave;
using kdtest::ScriptedSlave;
using namespace std::chrono_literals;

namespace {

const Bytes kRead10{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};

Bytes ReadAnswer(int first, int count) {
  Bytes a{0x01, 0x03, static_cast<std::uint8_t>(2 * count)};
  for (int i = first; i < first + count; ++i) {
    a.push_back(static_cast<std::uint8_t>((0x1000 + i) >> 8));
    a.push_back(static_cast<std::uint8_t>((0x1000 + i) & 0xFF));
  }
  return a;
}

struct Line {
  ScriptedSlave slave;
  MbConnection connection;
  Line(ScriptedSlave::Line kind, int timeoutMs, int silentMs)
      : slave(kind), connection([this](int port) { return port == 1 ? slave.Path() : std::string(); }) {
    EXPECT_TRUE(connection.OpenConnection("COM1", 1));
    connection.Update([&](ConnectionSettings& s) {
      s.comPort = 1;
      s.parity = 2;  // even: a pty drops the bit, which the port must accept
      s.timeout = timeoutMs;
      s.silentInterval = silentMs;
      s.transmissionMode = kind == ScriptedSlave::Line::Ascii ? 1 : 0;
    });
    EXPECT_TRUE(connection.Connect());
  }
};

class SerialFaults : public testing::TestWithParam<ScriptedSlave::Line> {};

TEST_P(SerialFaults, EachFaultGivesItsCodeAndTheNextRequestWorks) {
  const bool ascii = GetParam() == ScriptedSlave::Line::Ascii;
  Line line(GetParam(), 300, 40);
  const Bytes write6{0x01, 0x06, 0x00, 0x03, 0xBE, 0xEF};
  const Bytes write16{0x01, 0x10, 0x00, 0x08, 0x00, 0x02, 0x04, 0x11, 0x22, 0x33, 0x44};
  struct Case {
    kdtest::Step step;
    std::int32_t code;
    const Bytes& request = kRead10;
  } cases[] = {
      {{Misbehave::None}, kOk},
      {{Misbehave::BadChecksum}, kBadChecksum},
      {{Misbehave::WrongSlave}, kInvalidAnswer},
      {{Misbehave::Truncated}, kInvalidAnswer},
      {{Misbehave::Split, 5ms}, kOk},   // pauses below the silent interval
      {{Misbehave::Glued}, kOk},        // the second copy is dropped before the next request
      // RTU: stray bytes make one damaged frame; ASCII skips them before ':'.
      {{Misbehave::Noise}, ascii ? kOk : kBadChecksum},
      {{Misbehave::Silence}, kTimeout},
      // Consistent frames that do not answer the request.
      {{Misbehave::WrongCount}, kInvalidAnswer},
      {{Misbehave::WrongEcho}, kInvalidAnswer, write6},
      {{Misbehave::WrongEcho}, kInvalidAnswer, write16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.step.what));
    line.slave.Script({c.step});
    Bytes answer;
    EXPECT_EQ(line.connection.TxRxMessage(c.request, answer), c.code);
    if (c.code == kOk) {
      EXPECT_EQ(answer, ReadAnswer(0, 10));
    }
    const Bytes read2{0x01, 0x03, 0x00, 0x05, 0x00, 0x02};
    EXPECT_EQ(line.connection.TxRxMessage(read2, answer), kOk);
    EXPECT_EQ(answer, ReadAnswer(5, 2));
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, SerialFaults,
                         testing::Values(ScriptedSlave::Line::Rtu, ScriptedSlave::Line::Ascii),
                         [](const auto& p) {
                           return p.param == ScriptedSlave::Line::Rtu ? "Rtu" : "Ascii";
                         });

TEST(SerialLine, LateAnswerIsNeverTakenForTheNextOne) {
  Line line(ScriptedSlave::Line::Rtu, 200, 100);
  line.slave.Script({{Misbehave::Late, 250ms}});
  Bytes answer;
  EXPECT_EQ(line.connection.TxRxMessage(kRead10, answer), kTimeout);
  ASSERT_TRUE(line.slave.WaitRequests(1, 5s));  // the late answer has been written
  const Bytes read2{0x01, 0x03, 0x00, 0x20, 0x00, 0x0A};  // same shape, other data
  EXPECT_EQ(line.connection.TxRxMessage(read2, answer), kOk);
  EXPECT_EQ(answer, ReadAnswer(0x20, 10));
}

// What comes after a time-out (the slave was slow, or the line caught noise)
// is drained before the next request goes out: the next answer is its own,
// whether the late one has its size or another.
TEST(SerialLine, WhatComesAfterATimeOutIsDrained) {
  const Bytes read1{0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
  const Bytes read3{0x01, 0x03, 0x00, 0x00, 0x00, 0x03};
  struct Case {
    const char* what;
    kdtest::Step step;
    const Bytes& first;
  } cases[] = {
      {"a late answer of another size", {Misbehave::Late, 560ms}, read1},
      {"a late answer of the same size", {Misbehave::Late, 560ms}, read3},
      {"late noise", {Misbehave::LateNoise, 560ms}, read3},
  };
  Line line(ScriptedSlave::Line::Rtu, 500, 20);
  const Bytes next{0x01, 0x03, 0x00, 0x10, 0x00, 0x03};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int before = line.slave.Requests();
    line.slave.Script({c.step});
    Bytes answer;
    EXPECT_EQ(line.connection.TxRxMessage(c.first, answer), kTimeout);
    EXPECT_EQ(line.connection.TxRxMessage(next, answer), kOk);
    EXPECT_EQ(answer, ReadAnswer(0x10, 3));
    EXPECT_TRUE(line.slave.WaitRequests(before + 2, 5s));
  }
}

TEST(SerialLine, WritesExceptionsAndUnsizedAnswers) {
  Line line(ScriptedSlave::Line::Rtu, 500, 20);
  Bytes answer;
  EXPECT_EQ(line.connection.TxRxMessage(Bytes{0x01, 0x06, 0x00, 0x03, 0xBE, 0xEF}, answer), kOk);
  EXPECT_EQ(answer, (Bytes{0x01, 0x06, 0x00, 0x03, 0xBE, 0xEF}));
  EXPECT_EQ(line.connection.TxRxMessage(
                Bytes{0x01, 0x10, 0x00, 0x08, 0x00, 0x02, 0x04, 0x11, 0x22, 0x33, 0x44}, answer),
            kOk);
  EXPECT_EQ(answer, (Bytes{0x01, 0x10, 0x00, 0x08, 0x00, 0x02}));
  EXPECT_EQ(line.slave.Register(3), 0xBEEF);
  EXPECT_EQ(line.slave.Register(9), 0x3344);
  EXPECT_EQ(line.connection.TxRxMessage(Bytes{0x01, 0x03, 0x00, 0x63, 0x00, 0x02}, answer),
            static_cast<std::int32_t>(0x80048202u));
  // 0x41 does not tell its length: the silence after it ends it.
  EXPECT_EQ(line.connection.TxRxMessage(Bytes{0x01, 0x41}, answer), kOk);
  EXPECT_EQ(answer.size(), 12u);
  // Another slave address: nobody answers.
  EXPECT_EQ(line.connection.TxRxMessage(Bytes{0x09, 0x03, 0x00, 0x00, 0x00, 0x01}, answer), kTimeout);
}

TEST(SerialLine, SizedAnswersDoNotWaitForTheSilentInterval) {
  // A silent interval far longer than the exchange: an answer of known
  // length returns at its last byte, an unsized one only after the silence.
  Line line(ScriptedSlave::Line::Rtu, 5000, 1500);
  Bytes answer;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(line.connection.TxRxMessage(kRead10, answer), kOk);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1000ms);
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(line.connection.TxRxMessage(Bytes{0x01, 0x41}, answer), kOk);
  // The line must be quiet before the request and after the answer.
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 1500ms);
}

// A device that goes away (a USB adapter pulled) and comes back at its path:
// while it is gone each request fails at once, and once it is back the next
// request goes through on the same connection.
TEST(SerialLine, ALostDeviceIsOpenedAgainByItself) {
  kdtest::PluggedSlave slave;
  MbConnection connection([&](int) { return slave.Device(); });
  ASSERT_TRUE(connection.OpenConnection("COM1", 1));
  connection.Update([](ConnectionSettings& s) {
    s.comPort = 1;
    s.timeout = 3000;
  });
  ASSERT_TRUE(connection.Connect());
  Bytes answer;
  EXPECT_EQ(connection.TxRxMessage(kRead10, answer), kOk);

  slave.Pull();
  for (int i = 0; i < 3; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(connection.TxRxMessage(kRead10, answer), kPortWrite);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1500ms);  // never the time-out
  }
  slave.Plug();
  EXPECT_EQ(connection.TxRxMessage(kRead10, answer), kOk);
  EXPECT_EQ(answer, ReadAnswer(0, 10));
}

TEST(SerialLine, PortErrors) {
  MbConnection connection([](int) { return std::string("/nonexistent/tty"); });
  Bytes answer;
  EXPECT_EQ(connection.TxRxMessage(kRead10, answer), kPortNotInitialised);
  EXPECT_FALSE(connection.Connect());  // not opened
  ASSERT_TRUE(connection.OpenConnection("COM1", 1));
  connection.Update([](ConnectionSettings& s) { s.comPort = 1; });
  EXPECT_FALSE(connection.Connect());
  EXPECT_EQ(connection.TxRxMessage(kRead10, answer), kPortNotInitialised);
  EXPECT_FALSE(connection.OpenConnection("X", 3));

  // Settings that no line can take.
  ScriptedSlave slave(ScriptedSlave::Line::Rtu);
  MbConnection bad([&](int) { return slave.Path(); });
  ASSERT_TRUE(bad.OpenConnection("COM1", 1));
  for (auto change : std::initializer_list<void (*)(ConnectionSettings&)>{
           [](ConnectionSettings& s) { s.baudRate = 12345; },
           [](ConnectionSettings& s) { s.flowControl = 3; },
           [](ConnectionSettings& s) { s.parity = 5; },
           [](ConnectionSettings& s) { s.byteSize = 9; },
           [](ConnectionSettings& s) { s.transmissionMode = 2; }}) {
    bad.Update([](ConnectionSettings& s) { s = ConnectionSettings{}; s.comPort = 1; });
    bad.Update(change);
    EXPECT_FALSE(bad.Connect());
  }
}

}  // namespace
