#pragma once
// Temporary folders and data-model files for the register tests.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "Tlaregdefslistcmp.h"

namespace regtest {

inline std::string Fixture(const std::string& name) {
  return std::string(KD_TEST_FIXTURES) + "/registers/" + name;
}

// A fresh folder, removed with its content.
class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "kdreg-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path() const { return path_.string(); }
  std::string Write(const std::string& name, const std::string& text) const {
    const std::string file = (path_ / name).string();
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }

 private:
  std::filesystem::path path_;
};

// A data-model list loaded from text.
inline std::unique_ptr<TlaRegDefsList> LoadModel(const std::string& text) {
  TempDir dir;
  auto list = std::make_unique<TlaRegDefsList>();
  list->LoadFromFile(dir.Write("model.par", text));
  return list;
}

}  // namespace regtest
