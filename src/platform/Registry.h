#pragma once
// A registry of keys with typed values under three roots, kept in one file:
// $XDG_CONFIG_HOME/kd730-tuning-desk/registry (XDG_CONFIG_HOME defaults to
// ~/.config). Key and value names are compared without regard to letter case.
// Paths use '\' between key names; a path that begins with '\' starts at the
// root, any other path at the open key (or the root when none is open).
//
// Each object reads the store when it opens a key. A write takes a file lock,
// reads the store again, applies the change and replaces the file atomically,
// so two processes writing at once never lose or corrupt each other's values.
// A damaged store raises RegistryError and is never overwritten.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kd {

enum class RootKey { ClassesRoot, CurrentUser, LocalMachine };
inline constexpr RootKey HKEY_CLASSES_ROOT = RootKey::ClassesRoot;
inline constexpr RootKey HKEY_CURRENT_USER = RootKey::CurrentUser;
inline constexpr RootKey HKEY_LOCAL_MACHINE = RootKey::LocalMachine;

class Registry {
 public:
  explicit Registry(RootKey root = RootKey::CurrentUser);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Path of the store file for the current environment.
  static std::string StorePath();

  RootKey Root() const { return root_; }
  void SetRootKey(RootKey root);  // closes the open key
  const std::string& CurrentPath() const { return current_; }  // empty when none is open

  // True when the key could be opened (created when canCreate and missing).
  bool OpenKey(const std::string& path, bool canCreate);
  bool OpenKeyReadOnly(const std::string& path);
  void CloseKey();
  bool KeyExists(const std::string& path);
  bool DeleteKey(const std::string& path);  // with its subkeys

  // Of the open key.
  std::vector<std::string> GetKeyNames() const;
  std::vector<std::string> GetValueNames() const;
  bool HasSubKeys() const;
  bool ValueExists(const std::string& name) const;

  // Typed reads raise RegistryError on a missing value or one of another type:
  // "Invalid data type for '<name>'".
  std::string ReadString(const std::string& name) const;
  std::int32_t ReadInteger(const std::string& name) const;
  bool ReadBool(const std::string& name) const;  // an integer value, non-zero is true

  // Writes need a key opened for writing; they raise RegistryError on failure.
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, std::int32_t value);
  void WriteBool(const std::string& name, bool value);
  bool DeleteValue(const std::string& name);

 private:
  struct Store;
  std::string Resolve(const std::string& path) const;
  RootKey root_;
  std::string current_;  // full path of the open key below the root
  bool writable_ = false;
  std::shared_ptr<Store> snapshot_;
};

}  // namespace kd
