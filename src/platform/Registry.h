#pragma once
// A registry of keys with typed values under three roots, kept in one file:
// $XDG_CONFIG_HOME/kd730-tuning-desk/registry (XDG_CONFIG_HOME defaults to
// ~/.config). Key and value names are compared without regard to letter case.
// Paths use '\' between key names; a path that begins with '\' starts at the
// root, any other path at the open key (or the root when none is open).
//
// Values are texts or 32-bit integers (booleans are integers); the name ""
// is the key's default value. Key and value names keep their first spelling.
//
// Each object reads the store when it opens a key and works on that reading
// until it opens a key again. A write takes a lock (flock on "registry.lock"
// beside the store), reads the store again, applies its one change and
// replaces the file atomically (temporary file, fsync, rename), so two
// processes writing at once never lose or corrupt each other's values.
// A damaged store raises RegistryError "Registry: damaged store '<file>',
// line <n>: <problem>" on every open and write, and is never overwritten;
// so does, with "Registry: cannot read '<file>': <reason>", a store that
// cannot be read whole (no regular file, more than kMaxStoreSize bytes).
// The store is a text file (format in Registry.cpp).
#include <cstdint>
#include <functional>
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
  // A store holds settings of a few kilobytes: past this it is not read.
  static constexpr std::uintmax_t kMaxStoreSize = 16 << 20;

  RootKey Root() const { return root_; }
  void SetRootKey(RootKey root);  // closes the open key
  // Below the root, in the stored spelling; empty when none or the root is open.
  const std::string& CurrentPath() const { return current_; }

  // True when the key could be opened (created when canCreate and missing);
  // a failed open keeps the key that was open. OpenKey opens for writing.
  bool OpenKey(const std::string& path, bool canCreate);
  bool OpenKeyReadOnly(const std::string& path);
  void CloseKey();
  bool KeyExists(const std::string& path);
  // With its subkeys; false when it did not exist. Closes the open key when
  // it was deleted with it.
  bool DeleteKey(const std::string& path);

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

  // Writes need a key opened for writing that still exists in the store;
  // they raise RegistryError otherwise and when the store cannot be written.
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, std::int32_t value);
  void WriteBool(const std::string& name, bool value);
  bool DeleteValue(const std::string& name);

 private:
  struct Value;
  struct Key;
  struct Store;
  std::string Resolve(const std::string& path) const;  // full path below the root
  bool Open(const std::string& path, bool canCreate, bool writable);
  const Key* OpenedKey() const;
  // Applies a change to the open key under the store's lock; its result.
  bool Change(const std::string& name, const std::function<bool(Key&)>& change);
  RootKey root_;
  std::string current_;  // full path of the open key below the root
  bool open_ = false;
  bool writable_ = false;
  std::shared_ptr<Store> snapshot_;
};

}  // namespace kd
