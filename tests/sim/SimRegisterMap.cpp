#include "SimRegisterMap.h"

#include <algorithm>

#include "Exception.h"
#include "Strings.h"
#include "Tlaregdefslistcmp.h"

namespace kdsim {

SimRegisterMap::SimRegisterMap(const std::string& parFile) : model_(std::make_unique<TlaRegDefsList>()) {
  std::string missing;
  model_->OnLoadError = [&missing](TlaRegDefsList*, int address, const std::string&) {
    if (missing.empty()) missing = std::to_string(address);
  };
  if (!model_->LoadFromFile(parFile)) throw kd::Exception("SimRegisterMap: cannot read '" + parFile + "'");
  if (!missing.empty())
    throw kd::Exception("SimRegisterMap: '" + parFile + "' has no section for register " + missing);
  if (model_->RegisterCount() <= 0) throw kd::Exception("SimRegisterMap: '" + parFile + "' defines no registers");

  image_.assign(static_cast<size_t>(model_->CalcDataBufferSize()), 0);
  for (int k = 0; k < Count(); ++k) {
    const TlaRegDefinition& d = At(k);
    if (!d.HasDfltValue || !d.IsIntegerType()) continue;
    for (int e = 0; e < d.Length; ++e)
      d.SetValueDouble(Bytes(k, 1).data(), static_cast<std::uint8_t>(e), d.DfltValue);
  }
  const kd::StringList& categories = model_->Categories;
  for (int i = 0; i < categories.Count(); ++i) {
    std::vector<int>& addresses = categories_[kd::LowerCase(categories.Names(i))];
    for (auto b = model_->GetCategoryBlocks(categories.Names(i)); b && b->Valid; b = std::move(b->Next))
      for (int a = b->First; a < b->First + b->Count && a < Count(); ++a) addresses.push_back(a);
    std::sort(addresses.begin(), addresses.end());
  }
}

SimRegisterMap::~SimRegisterMap() = default;
SimRegisterMap::SimRegisterMap(SimRegisterMap&&) noexcept = default;
SimRegisterMap& SimRegisterMap::operator=(SimRegisterMap&&) noexcept = default;

int SimRegisterMap::Count() const { return model_->RegisterCount(); }

const TlaRegDefinition& SimRegisterMap::At(int address) const {
  TlaRegDefinition* d = address >= 0 ? model_->Find(static_cast<std::uint16_t>(address)) : nullptr;
  if (d == nullptr) throw kd::Exception("SimRegisterMap: no register " + std::to_string(address));
  return *d;
}

int SimRegisterMap::Find(std::string_view name) const {
  TlaRegDefinition* d = model_->Find(std::string(name));
  return d ? d->RegAddr : -1;
}

int SimRegisterMap::Need(std::string_view name) const {
  int address = Find(name);
  if (address < 0) throw kd::Exception("SimRegisterMap: the data model has no register " + std::string(name));
  return address;
}

std::string SimRegisterMap::FirstVersion() const {
  return model_->Versions.Count() > 0 ? model_->Versions[0] : std::string();
}

std::string SimRegisterMap::AddOnInfo(std::string_view name) const { return model_->AddOnInfo.Values(name); }

int SimRegisterMap::MaxBufferSize() const { return model_->MaxBufferSize; }

const std::vector<int>& SimRegisterMap::Category(std::string_view category) const {
  static const std::vector<int> none;
  auto it = categories_.find(kd::LowerCase(category));
  return it == categories_.end() ? none : it->second;
}

bool SimRegisterMap::InCategory(std::string_view category, int address) const {
  const std::vector<int>& addresses = Category(category);
  return std::binary_search(addresses.begin(), addresses.end(), address);
}

int SimRegisterMap::ByteSize(int first, int count) const {
  if (first < 0 || count < 0 || static_cast<long>(first) + count > Count()) return -1;
  return model_->CalcDataBufferSize(static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(count));
}

std::span<std::uint8_t> SimRegisterMap::Bytes(int first, int count) {
  int size = ByteSize(first, count);
  if (size < 0) return {};
  return {image_.data() + model_->CalcDataBufferOffset(static_cast<std::uint16_t>(first)), static_cast<size_t>(size)};
}

std::span<const std::uint8_t> SimRegisterMap::Bytes(int first, int count) const {
  return const_cast<SimRegisterMap*>(this)->Bytes(first, count);
}

std::int32_t SimRegisterMap::GetInt(int address) const {
  auto bytes = Bytes(address, 1);
  return bytes.empty() ? 0 : At(address).GetValueInteger(bytes.data(), 0);
}

void SimRegisterMap::SetInt(int address, std::int32_t value) {
  auto bytes = Bytes(address, 1);
  if (!bytes.empty()) At(address).SetValueInteger(bytes.data(), value, 0);
}

double SimRegisterMap::GetDouble(int address) const {
  auto bytes = Bytes(address, 1);
  return bytes.empty() ? 0.0 : At(address).GetValueDouble(bytes.data(), 0);
}

void SimRegisterMap::SetDouble(int address, double value) {
  auto bytes = Bytes(address, 1);
  if (!bytes.empty()) At(address).SetValueDouble(bytes.data(), 0, value);
}

}  // namespace kdsim
