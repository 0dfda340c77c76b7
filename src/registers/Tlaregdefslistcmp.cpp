#include "Tlaregdefslistcmp.h"

#include <string_view>

#include "Exception.h"
#include "IniFile.h"

// ---------------------------------------------------------------------------
// TlaRegBlock

namespace {

// An address of a blocks text: an integer text without trailing blanks, in
// the 16-bit address range.
bool ReadAddress(std::string_view text, int& out) {
  if (text.empty() || static_cast<unsigned char>(text.back()) <= 32) return false;
  std::int32_t v = 0;
  if (!kd::TryParseInteger(text, v) || v < 0 || v > 0xFFFF) return false;
  out = v;
  return true;
}

}  // namespace

TlaRegBlock::TlaRegBlock(const std::string& text) {
  // Items from the last to the first; built in a loop so that a long text
  // makes a long chain without deep recursion.
  const std::string_view all(text);
  std::size_t end = all.size();
  TlaRegBlock* block = this;
  for (;;) {
    const std::size_t comma = all.substr(0, end).rfind(',');
    const std::size_t begin = comma == std::string_view::npos ? 0 : comma + 1;
    const std::string_view item = all.substr(begin, end - begin);
    if (!item.empty()) block->ParseItem(std::string(item));
    if (comma == std::string_view::npos || comma == 0 || !block->Valid) break;
    end = comma;
    block->Next = std::make_unique<TlaRegBlock>(0, 0);
    block = block->Next.get();
  }
}

TlaRegBlock::TlaRegBlock(std::uint16_t first, std::uint16_t count, std::unique_ptr<TlaRegBlock> next)
    : First(first), Count(count), Valid(count != 0), Next(std::move(next)) {}

TlaRegBlock::~TlaRegBlock() {
  // Unlinks the chain one block at a time (no recursion).
  std::unique_ptr<TlaRegBlock> rest = std::move(Next);
  while (rest) rest = std::move(rest->Next);
}

void TlaRegBlock::ParseItem(const std::string& item) {
  First = 0;
  Count = 0;
  Valid = false;
  const std::size_t slash = item.rfind('/');
  int a = 0, b = 0;
  if (slash == std::string::npos) {
    if (!ReadAddress(item, a)) return;
    b = a;
  } else {
    // A run written backwards is no run.
    if (!ReadAddress(std::string_view(item).substr(0, slash), a) ||
        !ReadAddress(std::string_view(item).substr(slash + 1), b) || b < a)
      return;
  }
  First = static_cast<std::uint16_t>(a);
  Count = static_cast<std::uint16_t>((b - a + 1) & 0xFFFF);
  Valid = Count != 0;
}

int TlaRegBlock::GetTotalCount() const {
  int total = 0;
  for (const TlaRegBlock* b = this; b && b->Valid; b = b->Next.get()) total += b->Count;
  return total;
}

bool TlaRegBlock::Split(int n) {
  if (n < 2) return false;
  for (TlaRegBlock* b = this;; b = b->Next.get(), --n) {
    if (!b->Valid) return false;
    const auto q = static_cast<std::uint16_t>(b->Count / n);
    if (q == 0) return false;
    b->Next = std::make_unique<TlaRegBlock>(static_cast<std::uint16_t>(b->First + q),
                                            static_cast<std::uint16_t>(b->Count - q), std::move(b->Next));
    b->Count = q;
    if (n <= 2) return true;
  }
}

// ---------------------------------------------------------------------------
// TlaRegDefsList

TlaRegDefsList::TlaRegDefsList(kd::Component* owner) : kd::Component(owner) {}

TlaRegDefsList::~TlaRegDefsList() = default;

std::unique_ptr<kd::IniFile> TlaRegDefsList::TestForSource(const std::string& path) {
  auto ini = std::make_unique<kd::IniFile>(path);
  if (!ini->ReadStatus().Ok()) return nullptr;
  return ini;
}

void TlaRegDefsList::ClearDefinitions() {
  definitions_.clear();
  offsets_.assign(1, 0);
}

bool TlaRegDefsList::LoadFromFile(const std::string& path) {
  const std::unique_ptr<kd::IniFile> ini = TestForSource(path);
  if (!ini) return false;

  // A second load replaces the whole model.
  ClearDefinitions();
  Categories.Clear();
  AddOnInfo.Clear();

  FileName = path;
  const int count = ini->ReadInteger("DataModel", "RegisterCount", 0);
  MaxBufferSize = ini->ReadInteger("DataModel", "MaxBufferSize", 0);
  if (MaxBufferSize > 256 || MaxBufferSize < 20) MaxBufferSize = 20;
  VerDescr = ini->ReadString("Versions", "VerDescr", "");
  Versions = kd::StringList(kd::SplitCommaText(ini->ReadString("Versions", "Versions", "")));

  kd::StringList lines;
  ini->ReadSectionValues("Categories", lines);
  for (int i = 0; i < lines.Count(); ++i) Categories.SetValue(lines.Names(i), lines.ValueFromIndex(i));
  lines.Clear();
  ini->ReadSectionValues("AddOnInfo", lines);
  for (int i = 0; i < lines.Count(); ++i) AddOnInfo.SetValue(lines.Names(i), lines.ValueFromIndex(i));

  try {
    if (count > MaxRegisterCount) throw kd::Exception("LoadFromFile: Too many registers!");
    // A negative count declares no registers.
    const int registers = count > 0 ? count : 0;
    definitions_.reserve(static_cast<std::size_t>(registers));
    offsets_.reserve(static_cast<std::size_t>(registers) + 1);
    for (int k = 0; k < registers; ++k) {
      auto definition = std::make_unique<TlaRegDefinition>();
      TlaRegDefinition* d = definition.get();
      definitions_.push_back(std::move(definition));
      d->OnUseFormat = OnUseFormat;
      if (d->LoadFromSection(static_cast<std::uint16_t>(k), *ini)) {
        if (OnAdd) OnAdd(this, d);
      } else {
        if (OnLoadError) OnLoadError(this, k, path);
      }
      offsets_.push_back(offsets_.back() + d->GetByteSize());
    }
  } catch (...) {
    // No half-built model: the list is left with no registers.
    ClearDefinitions();
    MaxBufferSize = 20;
    Categories.Clear();
    AddOnInfo.Clear();
    return false;
  }
  return true;
}

TlaRegDefinition* TlaRegDefsList::Find(int address) const {
  return address >= 0 && address < RegisterCount() ? definitions_[static_cast<std::size_t>(address)].get() : nullptr;
}

TlaRegDefinition* TlaRegDefsList::Find(const std::string& name) const {
  for (const auto& d : definitions_)
    if (d->Name == name) return d.get();
  return nullptr;
}

int TlaRegDefsList::CalcDataBufferOffset(std::uint16_t address) const {
  if (address >= static_cast<int>(definitions_.size())) return -1;
  return offsets_[address];
}

int TlaRegDefsList::CalcDataBufferSize() const { return offsets_.empty() ? 0 : offsets_.back(); }

int TlaRegDefsList::CalcDataBufferSize(std::uint16_t first, std::uint16_t count) const {
  const int end = first + count;
  if (end > static_cast<int>(definitions_.size())) return -1;
  return offsets_[static_cast<std::size_t>(end)] - offsets_[first];
}

std::string TlaRegDefsList::GetCategoryList(const std::string& category) const {
  return Categories.Values(category);
}

std::unique_ptr<TlaRegBlock> TlaRegDefsList::GetCategoryBlocks(const std::string& category) const {
  const std::string text = GetCategoryList(category);
  if (text.empty()) return nullptr;
  return std::make_unique<TlaRegBlock>(text);
}
