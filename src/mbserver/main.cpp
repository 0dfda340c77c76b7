// mbserver: the Modbus server component.
#include <string>
#include <vector>

#include "ServerMain.h"

int main(int argc, char** argv) {
  return kd::mb::ServerMain(std::vector<std::string>(argv + 1, argv + argc));
}
