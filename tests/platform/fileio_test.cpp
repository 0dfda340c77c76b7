// The reader of files at named paths: what it reads and what it refuses, each
// at once and in bounded memory.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "FileIo.h"
#include "TestSupport.h"

using kd::FileFault;
using kdtest::TempDir;

namespace {

// A socket bound at a path of its own (closed with the object).
struct BoundSocket {
  explicit BoundSocket(const std::string& path) : fd(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~BoundSocket() {
    if (fd >= 0) ::close(fd);
  }
  int fd;
  bool bound = false;
};

}  // namespace

TEST(ReadWholeFile, ReadsRegularFilesWithinTheBoundOnly) {
  TempDir dir;
  const kdtest::RefusedPaths refused(dir.Path(), "");
  const std::string hello = dir.Write("hello.txt", "hello");
  const std::string link = dir.File("link.txt");
  std::filesystem::create_symlink(hello, link);
  const BoundSocket socket(dir.File("socket"));
  ASSERT_TRUE(socket.bound);
  struct Case {
    const char* what;
    std::string path;
    std::uintmax_t maxSize;
    FileFault fault;
    std::string text;  // the data read, or the reason
  };
  const Case cases[] = {
      {"a file of the bound", hello, 5, FileFault::None, "hello"},
      {"an empty file", dir.Write("empty.txt", ""), 0, FileFault::None, ""},
      {"a link to a file", link, 5, FileFault::None, "hello"},
      {"a byte past the bound", hello, 4, FileFault::TooLarge,
       "File too large (5 bytes, at most 4)"},
      {"more than the size told (read one byte past the bound)", "/proc/self/stat", 16,
       FileFault::TooLarge, "File too large (17 bytes, at most 16)"},
      {"a sparse file of 3 GiB", refused.sparse, 1 << 20, FileFault::TooLarge,
       "File too large (3221225472 bytes, at most 1048576)"},
      {"a FIFO nobody writes", refused.fifo, 1 << 20, FileFault::NotRegular,
       "Not a regular file"},
      {"a link to /dev/zero", refused.device, 1 << 20, FileFault::NotRegular,
       "Not a regular file"},
      {"a socket, which does not open", dir.File("socket"), 1 << 20, FileFault::NotRegular,
       "Not a regular file"},
      {"a folder", refused.folder, 1 << 20, FileFault::Folder, "Is a directory"},
      {"no such file", dir.File("missing.txt"), 1 << 20, FileFault::Missing,
       "No such file or directory"},
      {"a path through a file", hello + "/x", 1 << 20, FileFault::Missing, "Not a directory"},
  };
  const long memory = kdtest::PeakMemoryKiB();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const kdtest::FifoWatchdog watchdog(refused.fifo, std::chrono::seconds(10));
    std::string data = "stale";
    const kd::FileStatus status = kd::ReadWholeFile(c.path, c.maxSize, data);
    EXPECT_EQ(status.fault, c.fault);
    EXPECT_EQ(status.Ok() ? data : status.Text(), c.text);
    if (!status.Ok()) {
      EXPECT_EQ(data, "");
    }
    EXPECT_FALSE(watchdog.Fired()) << "waited for a writer";
  }
  EXPECT_LT(kdtest::PeakMemoryKiB() - memory, 64 * 1024) << "KiB more at the peak";

  if (::geteuid() != 0) {  // the superuser reads every file
    const std::string locked = dir.Write("locked.txt", "x");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    std::string data;
    const kd::FileStatus status = kd::ReadWholeFile(locked, 1, data);
    EXPECT_EQ(status.fault, FileFault::Unreadable);
    EXPECT_EQ(status.error, EACCES);
  }
}
