#include "LibmodbusSlave.h"

#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace kdtest {
namespace {

modbus_mapping_t* NewMapping() {
  modbus_mapping_t* m = modbus_mapping_new(0, 0, LibmodbusSlave::kRegisters, 0);
  if (!m) throw std::runtime_error("modbus_mapping_new failed");
  for (int i = 0; i < LibmodbusSlave::kRegisters; ++i) m->tab_registers[i] = LibmodbusSlave::Value(i);
  return m;
}

// Serves requests until a read fails for another reason than the short
// indication time-out that lets the thread look at its stop flag.
void Serve(modbus_t* ctx, modbus_mapping_t* mapping, const std::atomic<bool>& stop) {
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  while (!stop) {
    const int n = modbus_receive(ctx, query);
    if (n > 0) modbus_reply(ctx, query, n, mapping);
    else if (n < 0 && errno != ETIMEDOUT) return;
  }
}

}  // namespace

std::unique_ptr<LibmodbusSlave> LibmodbusSlave::Rtu(const std::string& device) {
  std::unique_ptr<LibmodbusSlave> s(new LibmodbusSlave);
  modbus_t* ctx = modbus_new_rtu(device.c_str(), 19200, 'E', 8, 1);
  if (!ctx) throw std::runtime_error("modbus_new_rtu failed");
  s->ctx_ = ctx;
  modbus_set_slave(ctx, 1);
  if (modbus_connect(ctx) != 0) throw std::runtime_error("libmodbus cannot open " + device);
  modbus_set_indication_timeout(ctx, 0, 100000);
  s->mapping_ = NewMapping();
  s->thread_ = std::thread([p = s.get()] { p->ServeRtu(); });
  return s;
}

std::unique_ptr<LibmodbusSlave> LibmodbusSlave::Tcp() {
  std::unique_ptr<LibmodbusSlave> s(new LibmodbusSlave);
  s->listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  if (::bind(s->listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(s->listener_, 8) != 0 ||
      ::getsockname(s->listener_, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    throw std::runtime_error("LibmodbusSlave: no TCP port");
  s->port_ = ntohs(sa.sin_port);
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", s->port_);
  if (!ctx) throw std::runtime_error("modbus_new_tcp failed");
  s->ctx_ = ctx;
  modbus_set_indication_timeout(ctx, 0, 100000);
  s->mapping_ = NewMapping();
  s->thread_ = std::thread([p = s.get()] { p->ServeTcp(); });
  return s;
}

LibmodbusSlave::~LibmodbusSlave() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (ctx_) {
    modbus_close(static_cast<modbus_t*>(ctx_));
    modbus_free(static_cast<modbus_t*>(ctx_));
  }
  if (mapping_) modbus_mapping_free(static_cast<modbus_mapping_t*>(mapping_));
  if (listener_ >= 0) ::close(listener_);
}

void LibmodbusSlave::ServeRtu() {
  Serve(static_cast<modbus_t*>(ctx_), static_cast<modbus_mapping_t*>(mapping_), stop_);
}

void LibmodbusSlave::ServeTcp() {
  auto* ctx = static_cast<modbus_t*>(ctx_);
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    if (modbus_tcp_accept(ctx, &listener_) < 0) continue;
    Serve(ctx, static_cast<modbus_mapping_t*>(mapping_), stop_);
    modbus_close(ctx);
  }
}

}  // namespace kdtest
