#pragma once
// The mbserver program: registration commands, and serving one client over
// two inherited pipes until the client closes its end.
#include <string>
#include <vector>

namespace kd::mb {

// A started server reads its client's requests from descriptor 3 and writes
// the answers to descriptor 4 (a pipe each way: on this platform a pipe
// wakes its reader in about half the time a socket pair takes).
inline constexpr int kRequestFd = 3;
inline constexpr int kAnswerFd = 4;
// The argument that tells the server to serve those descriptors.
inline constexpr const char* kServeArgument = "--serve";

// Serves the client until it closes its end or breaks the protocol.
void ServeChannel(int in, int out);

// The whole program; returns its exit status.
int ServerMain(const std::vector<std::string>& args);

}  // namespace kd::mb
