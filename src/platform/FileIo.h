#pragma once
// The one reader of files at paths that a user or a file names, and atomic
// whole-file replacement.
//
// A file is opened without blocking (a FIFO or a device never waits for a
// peer) and judged on the opened descriptor, so the file read is the file
// judged: only a regular file is read, and only up to the caller's bound,
// both decided before anything is read.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kd {

// Why a file was not read.
enum class FileFault : std::uint8_t {
  None,
  Missing,     // no such file, or a part of the path is no folder
  Folder,
  NotRegular,  // a FIFO, a device or a socket
  TooLarge,    // past the reader's bound
  Unreadable,  // opening or reading failed otherwise (error holds errno)
};

struct FileStatus {
  FileFault fault = FileFault::None;
  int error = 0;            // the errno value of Missing and Unreadable
  std::uintmax_t size = 0;  // TooLarge: the size found
  std::uintmax_t maxSize = 0;  // TooLarge: the bound

  bool Ok() const { return fault == FileFault::None; }
  // The reason worded as the system words its errors: "Is a directory",
  // "Not a regular file", "File too large (n bytes, at most m)", or the
  // errno text.
  std::string Text() const;
};

// A regular file opened for reading (closed with the object).
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens path, following symbolic links; anything but a regular file of at
  // most maxSize bytes (its size at the open) is refused and left closed.
  FileStatus Open(const std::string& path, std::uintmax_t maxSize = UINTMAX_MAX);
  std::uintmax_t Size() const { return size_; }  // at the open
  // Up to size bytes into data, fewer only at the end of the file; -1 (errno
  // set) on a read error.
  ssize_t Read(char* data, std::size_t size);

 private:
  int fd_ = -1;
  std::uintmax_t size_ = 0;
};

// The whole regular file at path, at most maxSize bytes (a file that grows
// past the bound while it is read is refused too). On any refusal data is
// empty.
FileStatus ReadWholeFile(const std::string& path, std::uintmax_t maxSize, std::string& data);

// Replaces the file (the file a symbolic link points to) with data: a
// temporary file in the same folder, fsync, rename, then fsync of the folder.
// A present file keeps its permission bits, and its owner and group where the
// system allows it; a new one gets newMode less the umask. Returns 0, or the
// errno value of the failure; on failure the old file is untouched and the
// temporary file removed.
int ReplaceFile(const std::string& path, std::string_view data, mode_t newMode);

}  // namespace kd
