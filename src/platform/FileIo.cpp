#include "FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

namespace kd {
namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The temporary file: closed and removed unless it was renamed.
struct TempFile {
  int fd = -1;
  std::string path;
  ~TempFile() {
    if (fd >= 0) ::close(fd);
    if (!path.empty()) ::unlink(path.c_str());
  }
};

}  // namespace

int ReadWholeFile(const std::string& path, std::string& data) {
  data.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char buf[65536];
  int error = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      data.clear();
      break;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return error;
}

int ReplaceFile(const std::string& path, std::string_view data, mode_t newMode) {
  std::string target = path;
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(target.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  const bool existed = ::stat(target.c_str(), &st) == 0;
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));

  TempFile tmp;
  std::random_device rd;
  for (int attempt = 0; tmp.fd < 0; ++attempt) {
    std::string name = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(rd() % 1000000u);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newMode);
    if (fd >= 0) {
      tmp.fd = fd;
      tmp.path = std::move(name);
    } else if (errno != EEXIST || attempt > 100) {
      return errno;
    }
  }
  if (existed) {
    // The owner and group of the old file where the system allows it (a
    // change of owner clears the set-id bits), then its permission bits.
    if (::fchown(tmp.fd, st.st_uid, st.st_gid) != 0 &&
        ::fchown(tmp.fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
      // Not ours to give: the file takes the creator's group.
    }
    if (::fchmod(tmp.fd, st.st_mode & 07777) != 0) return errno;
  }
  if (!WriteAll(tmp.fd, data) || ::fsync(tmp.fd) != 0) return errno;
  const int fd = tmp.fd;
  tmp.fd = -1;
  if (::close(fd) != 0) return errno;
  if (::rename(tmp.path.c_str(), target.c_str()) != 0) return errno;
  tmp.path.clear();
  // Makes the rename itself durable; the new file is in place either way.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return 0;
}

}  // namespace kd
