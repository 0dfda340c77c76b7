#pragma once
// Whole-file reads and atomic whole-file replacement, for the INI and
// registry files.
#include <sys/types.h>

#include <string>
#include <string_view>

namespace kd {

// Reads the whole file into data; 0, or the errno value of the failure
// (ENOENT for a missing file).
int ReadWholeFile(const std::string& path, std::string& data);

// Replaces the file (the file a symbolic link points to) with data: a
// temporary file in the same folder, fsync, rename, then fsync of the folder.
// A present file keeps its permission bits, and its owner and group where the
// system allows it; a new one gets newMode less the umask. Returns 0, or the
// errno value of the failure; on failure the old file is untouched and the
// temporary file removed.
int ReplaceFile(const std::string& path, std::string_view data, mode_t newMode);

}  // namespace kd
