#include "Registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "Exception.h"
#include "FileIo.h"
#include "Strings.h"

namespace kd {
namespace {

// Store file:
//   ; KD730 Tuning Desk registry
//   [HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM]
//   COM1=sz:/dev/ttyS0
//   @=dword:1                      the default (unnamed) value
//   ; end
// A key is written as a header when it holds values or no subkeys; its
// parents exist through it. Names and texts escape '%', control characters,
// blanks at either end and whatever else would be misread ('=' in value
// names, a leading '[' or ';', the name "@") as %XX. The closing "; end"
// line tells a complete store from a truncated one.

constexpr const char* kSignature = "; KD730 Tuning Desk registry";
constexpr const char* kEndLine = "; end";

const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};
const char* RootName(RootKey root) { return kRootNames[static_cast<int>(root)]; }

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  size_t p = 0;
  while (p <= path.size()) {
    size_t e = path.find('\\', p);
    if (e == std::string_view::npos) e = path.size();
    if (e > p) parts.emplace_back(path.substr(p, e - p));
    p = e + 1;
  }
  return parts;
}

std::string JoinPath(const std::vector<std::string>& parts) {
  std::string s;
  for (const auto& p : parts) {
    if (!s.empty()) s += '\\';
    s += p;
  }
  return s;
}

std::string Escape(std::string_view text, std::string_view extra) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool edgeBlank = c == ' ' && (i == 0 || i + 1 == text.size());
    if (c < 0x20 || c == 0x7F || c == '%' || edgeBlank || extra.find(static_cast<char>(c)) != std::string_view::npos) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool Unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    int v = 0;
    for (int k = 1; k <= 2; ++k) {
      if (i + static_cast<size_t>(k) >= text.size()) return false;
      const char h = text[i + static_cast<size_t>(k)];
      const int d = h >= '0' && h <= '9' ? h - '0' : h >= 'A' && h <= 'F' ? h - 'A' + 10 : h >= 'a' && h <= 'f' ? h - 'a' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    out += static_cast<char>(v);
    i += 2;
  }
  return true;
}

std::string EscapeValueName(const std::string& name) {
  if (name.empty()) return "@";
  if (name == "@") return "%40";
  std::string e = Escape(name, "=");
  if (e[0] == '[' || e[0] == ';') e = (e[0] == '[' ? "%5B" : "%3B") + e.substr(1);
  return e;
}

std::string Errno() { return std::strerror(errno); }

// An open descriptor, closed on scope exit.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

}  // namespace

struct Registry::Value {
  std::string name;
  bool isString = true;
  std::string text;
  std::int32_t number = 0;
};

struct Registry::Key {
  std::string name;
  std::vector<Value> values;
  std::vector<Key> subkeys;

  Key* Sub(std::string_view n) {
    for (auto& k : subkeys)
      if (SameText(k.name, n)) return &k;
    return nullptr;
  }
  Key& SubOrNew(std::string_view n) {
    if (Key* k = Sub(n)) return *k;
    subkeys.push_back(Key{std::string(n), {}, {}});
    return subkeys.back();
  }
  Value* Find(std::string_view n) {
    for (auto& v : values)
      if (SameText(v.name, n)) return &v;
    return nullptr;
  }
  const Value* Find(std::string_view n) const { return const_cast<Key*>(this)->Find(n); }
};

struct Registry::Store {
  Key roots[3];

  Key& Root(RootKey r) { return roots[static_cast<int>(r)]; }

  Key* Find(RootKey r, const std::string& path) {
    Key* k = &Root(r);
    for (const auto& part : SplitPath(path))
      if (!(k = k->Sub(part))) return nullptr;
    return k;
  }

  // The path with the spelling of the stored keys.
  std::string Spelling(RootKey r, const std::string& path) {
    std::vector<std::string> parts;
    Key* k = &Root(r);
    for (const auto& part : SplitPath(path)) {
      k = k->Sub(part);
      parts.push_back(k ? k->name : part);
      if (!k) break;
    }
    return JoinPath(parts);
  }

  static std::shared_ptr<Store> Parse(std::string_view data, const std::string& file) {
    auto store = std::make_shared<Store>();
    int lineNo = 0;
    auto fail = [&](const std::string& what) {
      throw RegistryError("Registry: damaged store '" + file + "', line " + std::to_string(lineNo) + ": " + what);
    };
    Key* current = nullptr;
    bool ended = false;
    size_t p = 0;
    while (p < data.size()) {
      ++lineNo;
      const size_t nl = data.find('\n', p);
      if (nl == std::string_view::npos) fail("the last line is incomplete");
      std::string_view line = data.substr(p, nl - p);
      p = nl + 1;
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
      if (line.empty()) continue;
      if (ended) fail("text after the end line");
      if (line.find('\0') != std::string_view::npos) fail("NUL byte");
      if (line[0] == ';') {
        if (line == kEndLine) ended = true;
        continue;
      }
      if (line[0] == '[') {
        if (line.back() != ']') fail("a key line must end with ']'");
        const auto parts = SplitPath(line.substr(1, line.size() - 2));
        int root = -1;
        for (int r = 0; r < 3 && !parts.empty(); ++r)
          if (SameText(parts[0], kRootNames[r])) root = r;
        if (root < 0) fail("unknown root key");
        current = &store->roots[root];
        std::string name;
        for (size_t i = 1; i < parts.size(); ++i) {
          if (!Unescape(parts[i], name) || name.empty()) fail("bad key name '" + parts[i] + "'");
          current = &current->SubOrNew(name);
        }
        continue;
      }
      if (!current) fail("a value outside any key");
      const size_t eq = line.find('=');
      if (eq == std::string_view::npos) fail("no '=' in a value line");
      Value v;
      const std::string_view rawName = line.substr(0, eq), data2 = line.substr(eq + 1);
      if (rawName != "@" && !Unescape(rawName, v.name)) fail("bad value name");
      if (current->Find(v.name)) fail("value '" + v.name + "' given twice");
      if (data2.substr(0, 3) == "sz:") {
        if (!Unescape(data2.substr(3), v.text)) fail("bad text of '" + v.name + "'");
      } else if (data2.substr(0, 6) == "dword:") {
        v.isString = false;
        if (!TryParseInteger(data2.substr(6), v.number)) fail("bad number of '" + v.name + "'");
      } else {
        fail("unknown type of '" + v.name + "'");
      }
      current->values.push_back(std::move(v));
    }
    if (!ended) {
      ++lineNo;
      fail("the store is truncated (no end line)");
    }
    return store;
  }

  static std::shared_ptr<Store> Load(const std::string& file);
  static std::shared_ptr<Store> Update(const std::function<void(Store&)>& change);

  std::string Serialize() const {
    std::string out = std::string(kSignature) + "\n";
    for (int r = 0; r < 3; ++r) {
      if (!roots[r].values.empty()) Write(out, roots[r], kRootNames[r]);
      for (const auto& k : roots[r].subkeys) WriteTree(out, k, std::string(kRootNames[r]) + "\\" + Escape(k.name, ""));
    }
    out += kEndLine;
    out += '\n';
    return out;
  }

 private:
  static void WriteTree(std::string& out, const Key& key, const std::string& header) {
    if (!key.values.empty() || key.subkeys.empty()) Write(out, key, header);
    for (const auto& k : key.subkeys) WriteTree(out, k, header + "\\" + Escape(k.name, ""));
  }
  static void Write(std::string& out, const Key& key, const std::string& header) {
    out += '[' + header + "]\n";
    for (const auto& v : key.values) {
      out += EscapeValueName(v.name);
      out += v.isString ? "=sz:" + Escape(v.text, "") : "=dword:" + std::to_string(v.number);
      out += '\n';
    }
  }
};

std::string Registry::StorePath() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home && *home) {
      base = home;
    } else {
      struct passwd pw {};
      struct passwd* found = nullptr;
      char buf[4096];
      if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found) base = found->pw_dir;
    }
    base += "/.config";
  }
  return base + "/kd730-tuning-desk/registry";
}

namespace {

// 0, or the errno value of the first folder that could not be made.
int MakeFolders(const std::string& folder) {
  for (size_t p = 1; p <= folder.size(); ++p) {
    if (p < folder.size() && folder[p] != '/') continue;
    if (::mkdir(folder.substr(0, p).c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

}  // namespace

std::shared_ptr<Registry::Store> Registry::Store::Load(const std::string& file) {
  std::string data;
  const FileStatus read = ReadWholeFile(file, kMaxStoreSize, data);
  if (read.fault == FileFault::Missing) return std::make_shared<Store>();
  if (!read.Ok()) throw RegistryError("Registry: cannot read '" + file + "': " + read.Text());
  return Parse(data, file);
}

// Takes the lock, reads the store again, applies one change and replaces the file.
std::shared_ptr<Registry::Store> Registry::Store::Update(const std::function<void(Store&)>& change) {
  const std::string file = Registry::StorePath();
  auto fail = [&](const std::string& why) { throw RegistryError("Registry: cannot write '" + file + "': " + why); };
  const std::string folder = file.substr(0, file.rfind('/'));
  if (const int error = MakeFolders(folder)) fail(std::strerror(error));
  Fd lock(::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.fd < 0) fail(Errno());
  while (::flock(lock.fd, LOCK_EX) != 0)
    if (errno != EINTR) fail(Errno());

  auto store = Load(file);  // a damaged store raises here and is left alone
  change(*store);
  if (const int error = ReplaceFile(file, store->Serialize(), 0600)) fail(std::strerror(error));
  return store;
}

Registry::Registry(RootKey root) : root_(root) {}
Registry::~Registry() = default;

void Registry::SetRootKey(RootKey root) {
  CloseKey();
  root_ = root;
}

std::string Registry::Resolve(const std::string& path) const {
  if (!path.empty() && path[0] == '\\') return JoinPath(SplitPath(path));
  auto parts = SplitPath(current_);
  for (auto& p : SplitPath(path)) parts.push_back(std::move(p));
  return JoinPath(parts);
}

bool Registry::Open(const std::string& path, bool canCreate, bool writable) {
  const std::string full = Resolve(path);
  auto store = Store::Load(StorePath());
  if (!store->Find(root_, full)) {
    if (!canCreate) return false;
    store = Store::Update([&](Store& s) {
      Key* k = &s.Root(root_);
      for (const auto& part : SplitPath(full)) k = &k->SubOrNew(part);
    });
  }
  snapshot_ = std::move(store);
  current_ = snapshot_->Spelling(root_, full);
  open_ = true;
  writable_ = writable;
  return true;
}

bool Registry::OpenKey(const std::string& path, bool canCreate) { return Open(path, canCreate, true); }
bool Registry::OpenKeyReadOnly(const std::string& path) { return Open(path, false, false); }

void Registry::CloseKey() {
  open_ = false;
  writable_ = false;
  current_.clear();
  snapshot_.reset();
}

bool Registry::KeyExists(const std::string& path) {
  return Store::Load(StorePath())->Find(root_, Resolve(path)) != nullptr;
}

bool Registry::DeleteKey(const std::string& path) {
  auto parts = SplitPath(Resolve(path));
  if (parts.empty()) return false;  // a root stays
  const std::string leaf = parts.back();
  parts.pop_back();
  const std::string parent = JoinPath(parts);
  if (!KeyExists("\\" + parent + "\\" + leaf)) return false;
  bool removed = false;
  auto store = Store::Update([&](Store& s) {
    Key* k = s.Find(root_, parent);
    if (!k) return;
    for (auto it = k->subkeys.begin(); it != k->subkeys.end(); ++it)
      if (SameText(it->name, leaf)) {
        k->subkeys.erase(it);
        removed = true;
        break;
      }
  });
  if (open_) {
    if (store->Find(root_, current_))
      snapshot_ = std::move(store);
    else
      CloseKey();  // the open key went with it
  }
  return removed;
}

const Registry::Key* Registry::OpenedKey() const {
  return open_ && snapshot_ ? snapshot_->Find(root_, current_) : nullptr;
}

std::vector<std::string> Registry::GetKeyNames() const {
  std::vector<std::string> names;
  if (const Key* k = OpenedKey())
    for (const auto& s : k->subkeys) names.push_back(s.name);
  return names;
}

std::vector<std::string> Registry::GetValueNames() const {
  std::vector<std::string> names;
  if (const Key* k = OpenedKey())
    for (const auto& v : k->values) names.push_back(v.name);
  return names;
}

bool Registry::HasSubKeys() const {
  const Key* k = OpenedKey();
  return k && !k->subkeys.empty();
}

bool Registry::ValueExists(const std::string& name) const {
  const Key* k = OpenedKey();
  return k && k->Find(name);
}

namespace {

[[noreturn]] void InvalidType(const std::string& name) {
  throw RegistryError("Invalid data type for '" + name + "'");
}

}  // namespace

std::string Registry::ReadString(const std::string& name) const {
  const Key* k = OpenedKey();
  const Value* v = k ? k->Find(name) : nullptr;
  if (!v || !v->isString) InvalidType(name);
  return v->text;
}

std::int32_t Registry::ReadInteger(const std::string& name) const {
  const Key* k = OpenedKey();
  const Value* v = k ? k->Find(name) : nullptr;
  if (!v || v->isString) InvalidType(name);
  return v->number;
}

bool Registry::ReadBool(const std::string& name) const { return ReadInteger(name) != 0; }

bool Registry::Change(const std::string& name, const std::function<bool(Key&)>& change) {
  const std::string keyPath = std::string(RootName(root_)) + (current_.empty() ? "" : "\\" + current_);
  if (!open_) throw RegistryError("Registry: cannot write '" + name + "': no key is open");
  if (!writable_) throw RegistryError("Registry: cannot write '" + name + "': key '" + keyPath + "' is open read-only");
  bool changed = false;
  snapshot_ = Store::Update([&](Store& s) {
    Key* k = s.Find(root_, current_);
    if (!k) throw RegistryError("Registry: cannot write '" + name + "': the key '" + keyPath + "' was deleted");
    changed = change(*k);
  });
  return changed;
}

void Registry::WriteString(const std::string& name, const std::string& value) {
  Change(name, [&](Key& k) {
    Value* v = k.Find(name);
    if (!v) v = &k.values.emplace_back(Value{name, true, {}, 0});
    v->isString = true;
    v->text = value;
    v->number = 0;
    return true;
  });
}

void Registry::WriteInteger(const std::string& name, std::int32_t value) {
  Change(name, [&](Key& k) {
    Value* v = k.Find(name);
    if (!v) v = &k.values.emplace_back(Value{name, false, {}, 0});
    v->isString = false;
    v->text.clear();
    v->number = value;
    return true;
  });
}

void Registry::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

bool Registry::DeleteValue(const std::string& name) {
  return Change(name, [&](Key& k) {
    for (auto it = k.values.begin(); it != k.values.end(); ++it)
      if (SameText(it->name, name)) {
        k.values.erase(it);
        return true;
      }
    return false;
  });
}

}  // namespace kd
