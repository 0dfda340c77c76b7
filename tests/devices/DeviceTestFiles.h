#pragma once
// Data models from text for the device tests.
#include <fstream>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "Tlaregdefslistcmp.h"

namespace devtest {

inline std::unique_ptr<TlaRegDefsList> LoadModel(const std::string& text) {
  kdtest::TempDir dir;
  const std::string file = dir.File("model.par");
  std::ofstream(file) << text;
  auto list = std::make_unique<TlaRegDefsList>();
  list->LoadFromFile(file);
  return list;
}

}  // namespace devtest
