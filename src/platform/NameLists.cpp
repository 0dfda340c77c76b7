#include "NameLists.h"

#include <exception>

#include "IniFile.h"

namespace kd {

void ReadIniSectionNames(StringList* list, const std::string& fileName) {
  if (!list) return;
  list->Clear();
  try {
    IniFile(fileName).ReadSections(*list);
  } catch (const std::exception&) {
    list->Clear();
    list->Add(kNameListError);
  }
}

void ReadRegistryKeyNames(StringList* list, RootKey root, const std::string& keyPath) {
  if (!list) return;
  list->Clear();
  try {
    Registry reg(root);
    if (reg.OpenKeyReadOnly(keyPath)) {
      for (const std::string& name : reg.GetKeyNames()) list->Add(name);
      return;
    }
  } catch (const std::exception&) {
    list->Clear();  // a damaged store reads as a key that does not open
  }
  list->Add(kNameListError);
}

}  // namespace kd
