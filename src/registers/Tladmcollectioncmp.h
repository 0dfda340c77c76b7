#pragma once
// TlaDMCollection: the data-model files (extension FileExt) of one folder.
// Finds the file for a version text (the first file, in name order, whose
// [Versions] Versions value contains the text; else DfltFile) or for a
// version record (by pattern), loads it once and hands the same model to
// every request for a version that the file's [Versions] section names.
#include <memory>
#include <string>
#include <vector>

#include "Component.h"
#include "Event.h"
#include "IniFile.h"
#include "Strings.h"
#include "Tlaregdefslistcmp.h"
#include "Tlaversionrecordcls.h"

class TlaDMCollection;

using TlaDMCollFileEvent = kd::Event<void(TlaDMCollection* sender, const std::string& fileName)>;

class TlaDMCollection : public kd::Component {
 public:
  explicit TlaDMCollection(kd::Component* owner = nullptr);
  ~TlaDMCollection() override;
  std::string ClassName() const override { return "TlaDMCollection"; }

  const std::string& FilePath() const { return filePath_; }
  // Adds a trailing '/' unless the path ends with '/' or '\'.
  void SetFilePath(const std::string& path);
  std::string FileExt = "par";
  std::string DfltFile;
  TlaDMCollFileEvent OnNoFile;      // filename: FilePath
  TlaDMCollFileEvent OnNoVersion;   // filename: the version text
  TlaDMCollFileEvent OnNewVersion;  // filename: the version text
  TlaRegAddEvent OnRegAdd;
  TlaRegLoadErrorEvent OnRegLoadError;
  TlaUseFormatEvent OnUseFormat;

  // The caller owns the reader; null when nothing fits.
  std::unique_ptr<kd::IniFile> GetRegDefsFileFor(const std::string& version) const;
  std::unique_ptr<kd::IniFile> GetRegDefsFileFor(const TlaVersionRecord* record) const;
  // The model for a version text, from the cache or loaded; null when there
  // is none. Loaded models are components of the collection's owner (of the
  // collection itself when it has none) and live as long as it.
  TlaRegDefsList* LoadRegDefsListFor(const std::string& version);
  std::string GetVersionFileName(const std::string& version) const;
  bool AreVersionCompatible(const std::string& a, const std::string& b) const;
  bool AreVersionCompatible(const TlaRegDefsList* a, const TlaRegDefsList* b) const { return a == b; }
  std::string GetVersionString(const TlaRegDefsList* list) const;
  // The [Versions] lines of every data-model file of the folder.
  void ExtractAllVersionList(kd::StringList* out) const;

  struct CacheLine {
    std::string Line;  // name=value of a [Versions] line
    TlaRegDefsList* Model;
  };
  const std::vector<CacheLine>& VersionCache() const { return versionCache_; }

 private:
  // Names of the folder's data-model files, in letter-case-blind name order.
  std::vector<std::string> ListFiles() const;
  std::string filePath_ = "C:\\";
  std::vector<CacheLine> versionCache_;
};
