#pragma once
// The names a set of configured objects is built from: the section names of
// an INI file, or the subkey names of a registry key. Either reader clears
// the list first and leaves the single line "-Error-" when the key does not
// open or reading raises; a null list is left alone. An INI file that is
// missing or cannot be read has no sections (IniFile reads it as empty).
#include <string>

#include "Registry.h"
#include "Strings.h"

namespace kd {

inline constexpr const char* kNameListError = "-Error-";

void ReadIniSectionNames(StringList* list, const std::string& fileName);
// The key is opened read-only (never created).
void ReadRegistryKeyNames(StringList* list, RootKey root, const std::string& keyPath);

}  // namespace kd
