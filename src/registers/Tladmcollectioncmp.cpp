#include "Tladmcollectioncmp.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "IniFile.h"

TlaDMCollection::TlaDMCollection(kd::Component* owner) : kd::Component(owner) {}

TlaDMCollection::~TlaDMCollection() = default;

void TlaDMCollection::SetFilePath(const std::string& path) {
  filePath_ = path;
  if (filePath_.empty() || (filePath_.back() != '/' && filePath_.back() != '\\')) filePath_ += '/';
}

std::vector<std::string> TlaDMCollection::ListFiles() const {
  std::vector<std::string> names;
  if (filePath_.empty() || FileExt.empty()) return names;
  const std::string suffix = "." + FileExt;
  std::error_code ec;
  std::filesystem::directory_iterator it(filePath_, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    const std::string name = it->path().filename().string();
    if (name.size() >= suffix.size() && kd::SameText(name.substr(name.size() - suffix.size()), suffix))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const int c = kd::CompareText(a, b);
    return c != 0 ? c < 0 : a < b;
  });
  return names;
}

std::unique_ptr<kd::IniFile> TlaDMCollection::GetRegDefsFileFor(const std::string& version) const {
  if (filePath_.empty() || FileExt.empty() || version.empty()) return nullptr;
  for (const std::string& name : ListFiles()) {
    auto reader = std::make_unique<kd::IniFile>(filePath_ + name);
    if (reader->ReadString("Versions", "Versions", "").find(version) != std::string::npos) return reader;
  }
  if (!DfltFile.empty()) return std::make_unique<kd::IniFile>(filePath_ + DfltFile);
  return nullptr;
}

std::unique_ptr<kd::IniFile> TlaDMCollection::GetRegDefsFileFor(const TlaVersionRecord* record) const {
  if (filePath_.empty() || FileExt.empty() || !record) return nullptr;
  for (const std::string& name : ListFiles()) {
    auto reader = std::make_unique<kd::IniFile>(filePath_ + name);
    for (const std::string& pattern : kd::SplitCommaText(reader->ReadString("Versions", "Versions", "")))
      if (record->Matches(pattern)) return reader;
  }
  return nullptr;
}

TlaRegDefsList* TlaDMCollection::LoadRegDefsListFor(const std::string& version) {
  TlaRegDefsList* result = nullptr;
  const std::string v = kd::Trim(version);
  if (!v.empty()) {
    for (const CacheLine& line : versionCache_) {
      const std::size_t eq = line.Line.find('=');
      if (kd::SameText(line.Line.substr(0, eq), v)) {
        result = line.Model;
        break;
      }
    }
    if (!result) {
      const std::unique_ptr<kd::IniFile> reader = GetRegDefsFileFor(v);
      // A default file that cannot be read whole (or does not exist) is no model.
      if (reader && reader->ReadStatus().Ok()) {
        kd::StringList versions;
        reader->ReadSectionValues("Versions", versions);
        // Owned (and deleted) by the collection's owner, or by the collection
        // when it has none.
        auto* list = new TlaRegDefsList(Owner() ? Owner() : this);
        list->OnUseFormat = OnUseFormat;
        list->OnAdd = OnRegAdd;
        list->OnLoadError = OnRegLoadError;
        list->LoadFromFile(reader->FileName());
        for (const std::string& line : versions.Lines()) versionCache_.push_back({line, list});
        if (OnNewVersion) OnNewVersion(this, v);
        result = list;
      } else if (OnNoFile) {
        OnNoFile(this, filePath_);
      }
    }
  }
  if (!result && OnNoVersion) OnNoVersion(this, v);
  return result;
}

std::string TlaDMCollection::GetVersionFileName(const std::string& version) const {
  const auto reader = GetRegDefsFileFor(version);
  return reader ? reader->FileName() : std::string();
}

bool TlaDMCollection::AreVersionCompatible(const std::string& a, const std::string& b) const {
  const std::string fa = GetVersionFileName(a);
  return !fa.empty() && fa == GetVersionFileName(b);
}

std::string TlaDMCollection::GetVersionString(const TlaRegDefsList* list) const {
  if (!list) return {};
  for (const CacheLine& line : versionCache_)
    if (line.Model == list) return line.Line.substr(0, line.Line.find('='));
  return {};
}

void TlaDMCollection::ExtractAllVersionList(kd::StringList* out) const {
  if (!out) return;
  out->Clear();
  if (filePath_.empty() || FileExt.empty()) return;
  for (const std::string& name : ListFiles()) {
    const kd::IniFile reader(filePath_ + name);
    kd::StringList lines;
    reader.ReadSectionValues("Versions", lines);
    for (const std::string& line : lines.Lines()) out->Add(line);
  }
}
