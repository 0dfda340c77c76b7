#include "SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kd::mb {
namespace {

speed_t BaudConstant(int baud) {
  switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    default: return 0;
  }
}

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

}  // namespace

bool SerialPort::Open(const std::string& path, const SerialSettings& s, std::string* error) {
  Close();
  const speed_t speed = BaudConstant(s.baudRate);
  if (speed == 0) return Fail(error, "unsupported baud rate " + std::to_string(s.baudRate));
  tcflag_t size = 0;
  switch (s.byteSize) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return Fail(error, "unsupported byte size " + std::to_string(s.byteSize));
  }
  if (s.parity < 0 || s.parity > 4) return Fail(error, "unsupported parity code");
  if (s.stopBits < 0 || s.stopBits > 2) return Fail(error, "unsupported stop-bits code");
  if (s.flowControl != 0 && s.flowControl != 1 && s.flowControl != 2 && s.flowControl != 8)
    return Fail(error, "unsupported flow-control code");

  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return Fail(error, path + ": " + std::strerror(errno));
  termios tio{};
  if (::tcgetattr(fd.get(), &tio) != 0) return Fail(error, path + ": not a serial device");
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD | size;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  switch (s.parity) {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (s.parity != 0) tio.c_iflag |= INPCK;
  if (s.stopBits != 0) tio.c_cflag |= CSTOPB;
  if (s.flowControl == 1) tio.c_cflag |= CRTSCTS;
  if (s.flowControl == 2) tio.c_iflag |= IXON | IXOFF;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  if (::tcsetattr(fd.get(), TCSANOW, &tio) != 0) {
    // A pseudo terminal drops the parity bits, and the C library then
    // reports EINVAL although the rest was applied: accept a device whose
    // read-back matches in everything but parity.
    termios back{};
    const tcflag_t parityBits = PARENB | PARODD | CMSPAR;
    if (errno != EINVAL || ::tcgetattr(fd.get(), &back) != 0 ||
        (back.c_cflag & ~parityBits) != (tio.c_cflag & ~parityBits) ||
        ::cfgetospeed(&back) != speed)
      return Fail(error, path + ": settings not accepted");
  }
  ::ioctl(fd.get(), TIOCEXCL);
  ::tcflush(fd.get(), TCIOFLUSH);

  rtsToggle_ = s.flowControl == 8;
  if (rtsToggle_) {
    int rts = TIOCM_RTS;
    ::ioctl(fd.get(), TIOCMBIC, &rts);
  }
  const long bits = 1 + s.byteSize + (s.parity ? 1 : 0) + (s.stopBits ? 2 : 1);
  charMicros_ = bits * 1000000L / s.baudRate;
  fd_ = std::move(fd);
  return true;
}

bool SerialPort::HungUp() const {
  pollfd p{fd_.get(), POLLIN, 0};
  return !fd_ || (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)));
}

bool SerialPort::Write(std::span<const std::uint8_t> data, Clock::time_point deadline) {
  if (!fd_) return false;
  int rts = TIOCM_RTS;
  if (rtsToggle_) ::ioctl(fd_.get(), TIOCMBIS, &rts);
  bool ok = WriteAll(fd_.get(), data, deadline, false);
  if (rtsToggle_) {
    // The line must hold RTS until the last stop bit has left.
    ok = ::tcdrain(fd_.get()) == 0 && ok;
    ::ioctl(fd_.get(), TIOCMBIC, &rts);
  }
  return ok;
}

}  // namespace kd::mb
