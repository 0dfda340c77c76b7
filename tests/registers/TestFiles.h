#pragma once
// Fixtures and data models from text for the register and device tests.
#include <memory>
#include <string>

#include "TestSupport.h"
#include "Tlaregdefslistcmp.h"

namespace regtest {

using kdtest::TempDir;

inline std::string Fixture(const std::string& name) {
  return std::string(KD_TEST_FIXTURES) + "/registers/" + name;
}

// A data-model list loaded from text.
inline std::unique_ptr<TlaRegDefsList> LoadModel(const std::string& text) {
  TempDir dir;
  auto list = std::make_unique<TlaRegDefsList>();
  list->LoadFromFile(dir.Write("model.par", text));
  return list;
}

}  // namespace regtest
