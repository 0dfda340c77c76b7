#include "CTCPIPServer.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include "MbCodes.h"

namespace kd::mb {

CTCPIPServer::CTCPIPServer(MbConnection& connection) : connection_(connection) {}

CTCPIPServer::~CTCPIPServer() { StopServer(); }

void CTCPIPServer::SetLocalAddress(const std::string& address) {
  std::lock_guard lock(lock_);
  address_ = address;
}

void CTCPIPServer::SetPort(int port) {
  std::lock_guard lock(lock_);
  port_ = port;
}

bool CTCPIPServer::StartServer() {
  std::lock_guard lock(lock_);
  if (link_) return true;
  if (port_ <= 0) return false;
  link_ = ListenTcpSlave(address_, port_);
  if (!link_) return false;
  worker_ = std::thread([this] { Serve(); });
  return true;
}

bool CTCPIPServer::StopServer() {
  std::lock_guard lock(lock_);
  if (!link_) return true;
  link_->Interrupt();
  worker_.join();
  link_.reset();
  return true;
}

void CTCPIPServer::Serve() {
  TcpSlaveLink& link = *link_;
  Bytes answer;
  while (auto request = link.Receive(Millis(-1))) {
    const std::int32_t r = connection_.TxRxMessage(request->frame, answer);
    if (r == kOk) {
      link.Answer(*request, answer);
    } else if (IsExceptionResult(r)) {
      link.Answer(*request, ExceptionFrame(request->frame, static_cast<std::uint8_t>(r & 0xFF)));
    } else {
      const bool lineDown = r == kPortNotInitialised || r == kPortWrite;
      link.Answer(*request, ExceptionFrame(request->frame, lineDown ? kExGatewayPath : kExGatewayTarget));
    }
  }
}

std::string CTCPIPServer::GetLocalHostIP() {
  std::string result = "127.0.0.1";
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return result;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    if ((ntohl(in->sin_addr.s_addr) >> 24) == 127) continue;
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) {
      result = text;
      break;
    }
  }
  ::freeifaddrs(list);
  return result;
}

}  // namespace kd::mb
