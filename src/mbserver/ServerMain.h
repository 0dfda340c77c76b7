#pragma once
// The mbserver program: registration commands, and serving one client over
// an inherited socket until the client closes it.
#include <string>
#include <vector>

namespace kd::mb {

// The descriptor number on which a started server finds its client's socket.
inline constexpr int kChannelFd = 3;
// The argument that tells the server to serve kChannelFd.
inline constexpr const char* kServeArgument = "--serve";

// Serves the client on `fd` until it closes the socket or breaks the protocol.
void ServeChannel(int fd);

// The whole program; returns its exit status.
int ServerMain(const std::vector<std::string>& args);

}  // namespace kd::mb
