#include "FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

std::string FileStatus::Text() const {
  switch (fault) {
    case FileFault::None:
      return {};
    case FileFault::Folder:
      return "Is a directory";
    case FileFault::NotRegular:
      return "Not a regular file";
    case FileFault::TooLarge:
      return "File too large (" + std::to_string(size) + " bytes, at most " +
             std::to_string(maxSize) + ")";
    case FileFault::Missing:
    case FileFault::Unreadable:
      break;
  }
  return std::strerror(error);
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

FileStatus InputFile::Open(const std::string& path, std::uintmax_t maxSize) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
  FileStatus status;
  const auto judge = [&](const struct stat& st) {
    if (S_ISDIR(st.st_mode)) {
      status.fault = FileFault::Folder;
    } else if (!S_ISREG(st.st_mode)) {
      status.fault = FileFault::NotRegular;
    } else if (static_cast<std::uintmax_t>(st.st_size) > maxSize) {
      status.fault = FileFault::TooLarge;
      status.size = static_cast<std::uintmax_t>(st.st_size);
      status.maxSize = maxSize;
    }
  };
  // Non-blocking: a FIFO without a writer, or a device, does not wait here.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    status.error = errno;
    status.fault = status.error == ENOENT || status.error == ENOTDIR ? FileFault::Missing
                                                                     : FileFault::Unreadable;
    // Nothing is read: the kind of what may not be opened only words the refusal.
    struct stat st {};
    if (status.fault == FileFault::Unreadable && ::stat(path.c_str(), &st) == 0) judge(st);
    return status;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    status.error = errno;
    status.fault = FileFault::Unreadable;
  } else {
    judge(st);
  }
  // A regular file is read as usual, blocking.
  const int flags = status.Ok() ? ::fcntl(fd, F_GETFL) : 0;
  if (status.Ok() && (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) {
    status.error = errno;
    status.fault = FileFault::Unreadable;
  }
  if (!status.Ok()) {
    ::close(fd);
    return status;
  }
  fd_ = fd;
  size_ = static_cast<std::uintmax_t>(st.st_size);
  return status;
}

ssize_t InputFile::Read(char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd_, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

FileStatus ReadWholeFile(const std::string& path, std::uintmax_t maxSize, std::string& data) {
  data.clear();
  InputFile file;
  FileStatus status = file.Open(path, maxSize);
  if (!status.Ok()) return status;
  // One byte past the bound shows a file that grew while it was read.
  const std::uintmax_t limit = maxSize < UINTMAX_MAX ? maxSize + 1 : maxSize;
  std::string text;
  for (;;) {
    const std::uintmax_t have = text.size();
    const std::uintmax_t promised = file.Size() > have ? file.Size() - have : 0;
    const auto room = static_cast<std::size_t>(
        std::min(std::max<std::uintmax_t>(promised + 1, 65536), limit - have));
    text.resize(have + room);
    const ssize_t n = file.Read(text.data() + have, room);
    if (n < 0) {
      status.error = errno;
      status.fault = FileFault::Unreadable;
      return status;
    }
    text.resize(have + static_cast<std::size_t>(n));
    if (text.size() > maxSize) {
      status.fault = FileFault::TooLarge;
      status.size = text.size();
      status.maxSize = maxSize;
      return status;
    }
    if (static_cast<std::size_t>(n) < room) break;  // the end of the file
  }
  data = std::move(text);
  return status;
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
