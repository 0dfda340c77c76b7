#pragma once
// The names a set of configured objects is built from: the section names of
// an INI file, or the subkey names of a registry key. Either reader clears
// the list first and leaves the single line "-Error-" when the names cannot
// be read; a null list is left alone.
#include <string>

#include "Registry.h"
#include "Strings.h"

namespace kd {

inline constexpr const char* kNameListError = "-Error-";

void ReadIniSectionNames(StringList* list, const std::string& fileName);
// The key is opened read-only (never created).
void ReadRegistryKeyNames(StringList* list, RootKey root, const std::string& keyPath);

}  // namespace kd
