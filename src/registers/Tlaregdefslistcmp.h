#pragma once
// TlaRegDefsList: one data model read from a data-model file (INI syntax):
// one TlaRegDefinition per register address, the version list, the
// categories and the add-on facts. TlaRegBlock: a chain of runs of
// consecutive register addresses parsed from a category's blocks text.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Component.h"
#include "Event.h"
#include "IniFile.h"
#include "Strings.h"
#include "Tlaregdefinitioncls.h"

class TlaRegDefsList;

using TlaRegAddEvent = kd::Event<void(TlaRegDefsList* sender, TlaRegDefinition* definition)>;
using TlaRegLoadErrorEvent = kd::Event<void(TlaRegDefsList* sender, int regAddr, const std::string& fileName)>;

// A run {First, Count} and the rest of its chain (owned: destroying the head
// destroys the chain).
class TlaRegBlock {
 public:
  // Parses a blocks text such as "0/9,12,20/25"; the chain holds the runs from
  // the last item to the first and ends at the first item (from the right)
  // that is empty, unreadable, written backwards or of count 0; that item's
  // block ends the chain, not Valid.
  explicit TlaRegBlock(const std::string& text);
  TlaRegBlock(std::uint16_t first, std::uint16_t count, std::unique_ptr<TlaRegBlock> next = nullptr);
  ~TlaRegBlock();
  TlaRegBlock(const TlaRegBlock&) = delete;
  TlaRegBlock& operator=(const TlaRegBlock&) = delete;

  std::uint16_t First = 0;
  std::uint16_t Count = 0;
  bool Valid = false;
  std::unique_ptr<TlaRegBlock> Next;

  // Sum of Count up to the first block that is not Valid.
  int GetTotalCount() const;
  // Cuts this run into n consecutive runs; false (nothing changed) when the
  // block is not Valid, n is below 2 or the run is too short.
  bool Split(int n);

 private:
  void ParseItem(const std::string& item);
};

class TlaRegDefsList : public kd::Component {
 public:
  explicit TlaRegDefsList(kd::Component* owner = nullptr);
  ~TlaRegDefsList() override;
  std::string ClassName() const override { return "TlaRegDefsList"; }

  int MaxBufferSize = 20;
  std::string VerDescr;
  kd::StringList Versions;
  kd::StringList Categories;  // name=blocks text
  kd::StringList AddOnInfo;   // name=value
  std::string FileName;
  TlaUseFormatEvent OnUseFormat;
  TlaRegAddEvent OnAdd;
  TlaRegLoadErrorEvent OnLoadError;

  // The file as an INI reader, or null when it cannot be read whole: it does
  // not exist, is no regular file, holds more than kd::IniFile::kMaxFileSize
  // bytes or may not be read.
  static std::unique_ptr<kd::IniFile> TestForSource(const std::string& path);
  // Reads a data-model file. false when the file cannot be read whole
  // (nothing changed) or when the register definitions could not be built
  // (the list is then left with no registers).
  bool LoadFromFile(const std::string& path);

  int RegisterCount() const { return static_cast<int>(definitions_.size()); }
  // Register addresses are 0 .. RegisterCount - 1; any other gives null.
  TlaRegDefinition* Find(int address) const;
  TlaRegDefinition* Find(const std::string& name) const;  // exact name
  int CalcDataBufferOffset(std::uint16_t address) const;  // -1 past the model
  int CalcDataBufferSize() const;
  int CalcDataBufferSize(std::uint16_t first, std::uint16_t count) const;  // -1 past the model
  std::string GetCategoryList(const std::string& category) const;
  std::unique_ptr<TlaRegBlock> GetCategoryBlocks(const std::string& category) const;

  // Largest register count a data model may declare (the address space).
  static constexpr int MaxRegisterCount = 65536;

 private:
  void ClearDefinitions();
  std::vector<std::unique_ptr<TlaRegDefinition>> definitions_;
  std::vector<int> offsets_ = {0};  // offsets_[k]: image offset of register k; one entry past the last
};
