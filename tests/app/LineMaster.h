#pragma once
// A Modbus master of the tests' own (libmodbus, RTU) on the simulated drive's
// pseudo terminal, as a second tool would reach the
// drive: only while the program's connection is closed.
#include <vector>

#include "AppTestSupport.h"

namespace apptest {

// Holding registers of slave 1 as raw words; a failure fails the test (-1 values).
std::vector<int> ReadDriveRegisters(const SimulatedDrive& drive, int first, int count);
// One holding register of slave 1; a failure fails the test.
void WriteDriveRegister(const SimulatedDrive& drive, int address, int value);

}  // namespace apptest
