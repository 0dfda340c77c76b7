#include "IniFile.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <unordered_map>

#include "Exception.h"
#include "FileIo.h"
#include "Formats.h"

namespace kd {
namespace {

enum class LineKind { Other, Header, Key };

struct Line {
  std::string text;  // without its line ending
  std::string eol;   // "\n", "\r\n", or empty for a last line without one
  LineKind kind = LineKind::Other;
  std::string name;   // section or key name, trimmed
  std::string value;  // trimmed value of a key line
};

void Classify(Line& line) {
  line.kind = LineKind::Other;
  line.name.clear();
  line.value.clear();
  const std::string t = TrimLeft(line.text);
  if (t.empty() || t[0] == ';') return;
  if (t[0] == '[') {
    const size_t close = t.find(']');
    line.kind = LineKind::Header;
    line.name = Trim(std::string_view(t).substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return;
  }
  const size_t eq = t.find('=');
  if (eq == std::string::npos) return;
  std::string key = Trim(std::string_view(t).substr(0, eq));
  if (key.empty()) return;
  line.kind = LineKind::Key;
  line.name = std::move(key);
  line.value = Trim(std::string_view(t).substr(eq + 1));
}

struct Section {
  std::string name;                                    // spelling of its first header
  std::vector<std::pair<std::string, size_t>> keys;    // first spelling and line of each key
  std::unordered_map<std::string, size_t> byKey;       // lower-case key -> index in keys
  size_t insertAfter = 0;  // last key line of the first block, else its header
};

// The lines of the file and an index over them.
struct Content {
  std::vector<Line> lines;
  std::string eol = "\n";
  std::vector<Section> sections;
  std::unordered_map<std::string, size_t> byName;  // lower-case section -> index

  void Parse(std::string_view data) {
    lines.clear();
    bool eolChosen = false;
    size_t p = 0;
    while (p < data.size()) {
      const size_t nl = data.find('\n', p);
      Line line;
      if (nl == std::string_view::npos) {
        line.text.assign(data.substr(p));
        p = data.size();
      } else {
        line.text.assign(data.substr(p, nl - p));
        line.eol = '\n';  // a char: g++ 12 -O3 warns falsely (-Wrestrict) on the text
        if (!line.text.empty() && line.text.back() == '\r') {
          line.text.pop_back();
          line.eol = "\r\n";
        }
        p = nl + 1;
        if (!eolChosen) {
          eol = line.eol;
          eolChosen = true;
        }
      }
      Classify(line);
      lines.push_back(std::move(line));
    }
    Reindex();
  }

  std::string Serialize() const {
    std::string out;
    size_t size = 0;
    for (const auto& l : lines) size += l.text.size() + l.eol.size();
    out.reserve(size);
    for (const auto& l : lines) {
      out += l.text;
      out += l.eol;
    }
    return out;
  }

  void Reindex() {
    sections.clear();
    byName.clear();
    Section* current = nullptr;
    bool firstBlock = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      const Line& l = lines[i];
      if (l.kind == LineKind::Header) {
        auto [it, added] = byName.try_emplace(LowerCase(l.name), sections.size());
        if (added) {
          sections.emplace_back();
          sections.back().name = l.name;
          sections.back().insertAfter = i;
        }
        current = &sections[it->second];
        firstBlock = added;
      } else if (l.kind == LineKind::Key && current) {
        if (current->byKey.try_emplace(LowerCase(l.name), current->keys.size()).second)
          current->keys.emplace_back(l.name, i);
        if (firstBlock) current->insertAfter = i;
      }
    }
  }

  const Section* FindSection(const std::string& section) const {
    const auto it = byName.find(LowerCase(Trim(section)));
    return it == byName.end() ? nullptr : &sections[it->second];
  }

  const Line* FindKey(const std::string& section, const std::string& key) const {
    const Section* s = FindSection(section);
    if (!s) return nullptr;
    const auto it = s->byKey.find(LowerCase(Trim(key)));
    return it == s->byKey.end() ? nullptr : &lines[s->keys[it->second].second];
  }

  void Insert(size_t at, std::string text) {
    // The line before a new one needs an ending.
    if (at > 0 && lines[at - 1].eol.empty()) lines[at - 1].eol = eol;
    Line line;
    line.text = std::move(text);
    line.eol = eol;
    Classify(line);
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  }

  // Removes the lines for which drop(index, section of the line) holds.
  template <class Pred>
  bool RemoveLines(Pred drop) {
    std::vector<Line> kept;
    kept.reserve(lines.size());
    std::string section;
    bool inSection = false, removed = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].kind == LineKind::Header) {
        section = LowerCase(lines[i].name);
        inSection = true;
      }
      if (inSection && drop(lines[i], section)) {
        removed = true;
        continue;
      }
      kept.push_back(std::move(lines[i]));
    }
    lines = std::move(kept);
    if (removed) Reindex();
    return removed;
  }

  bool Set(const std::string& section, const std::string& key, const std::string& value) {
    const std::string sec = Trim(section), k = Trim(key);
    if (const Line* found = FindKey(sec, k)) {
      // Replace the value in place, keeping the text up to it.
      Line& l = lines[static_cast<size_t>(found - lines.data())];
      size_t keep = l.text.find('=') + 1;
      while (keep < l.text.size() && (l.text[keep] == ' ' || l.text[keep] == '\t')) ++keep;
      std::string text = l.text.substr(0, keep) + value;
      if (text == l.text) return false;
      l.text = std::move(text);
      Classify(l);
      Reindex();
      return true;
    }
    if (const Section* s = FindSection(sec)) {
      Insert(s->insertAfter + 1, k + "=" + value);
    } else {
      Insert(lines.size(), "[" + sec + "]");
      Insert(lines.size(), k + "=" + value);
    }
    Reindex();
    return true;
  }

  bool Delete(const std::string& section, const std::string& key) {
    const std::string sec = LowerCase(Trim(section)), k = LowerCase(Trim(key));
    return RemoveLines([&](const Line& l, const std::string& in) {
      return l.kind == LineKind::Key && in == sec && LowerCase(l.name) == k;
    });
  }

  bool Erase(const std::string& section) {
    const std::string sec = LowerCase(Trim(section));
    return RemoveLines([&](const Line&, const std::string& in) { return in == sec; });
  }
};

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

struct IniFile::Impl {
  explicit Impl(const std::string& name) : fileName(name) {}
  const std::string& fileName;
  Content content;
  Content saved;  // content at the outermost BeginUpdate
  int updateDepth = 0;
  bool dirty = false;
  FileStatus read;  // how the file was read

  [[noreturn]] void Fail(const std::string& why) const {
    throw IniFileError("IniFile: cannot write '" + fileName + "': " + why);
  }
  // Applies a change: in memory during an update, else to a copy that is
  // written and then taken over.
  void Change(const std::function<bool(Content&)>& change);
  void Commit(const Content& next) const;
  void CheckNames(const std::string& section, const std::string& key, const std::string& value) const {
    auto hasBreak = [](const std::string& t) { return t.find_first_of("\r\n") != std::string::npos; };
    if (hasBreak(section) || section.find(']') != std::string::npos) Fail("invalid section name '" + section + "'");
    const std::string k = Trim(key);
    if (k.empty() || hasBreak(k) || k.find('=') != std::string::npos || k[0] == '[' || k[0] == ';')
      Fail("invalid key name '" + key + "'");
    if (hasBreak(value)) Fail("line break in the value of '" + key + "'");
  }
};

IniFile::IniFile(std::string fileName, std::uintmax_t maxSize)
    : fileName_(std::move(fileName)), impl_(std::make_unique<Impl>(fileName_)) {
  std::string data;
  impl_->read = ReadWholeFile(fileName_, maxSize, data);
  impl_->content.Parse(data);
}

IniFile::IniFile(std::string fileName, IniText text)
    : fileName_(std::move(fileName)), impl_(std::make_unique<Impl>(fileName_)) {
  impl_->content.Parse(text.text);
}

IniFile::~IniFile() = default;

const FileStatus& IniFile::ReadStatus() const { return impl_->read; }

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) const {
  const Line* l = impl_->content.FindKey(section, key);
  return l ? l->value : defaultValue;
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int defaultValue) const {
  const Line* l = impl_->content.FindKey(section, key);
  std::int32_t v = defaultValue;
  if (l) TryParseInteger(l->value, v);
  return v;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

double IniFile::ReadFloat(const std::string& section, const std::string& key, double defaultValue) const {
  const Line* l = impl_->content.FindKey(section, key);
  double v = defaultValue;
  if (l) TryStrToFloat(l->value, v);
  return v;
}

void IniFile::ReadSection(const std::string& section, StringList& keys) const {
  keys.Clear();
  if (const Section* s = impl_->content.FindSection(section))
    for (const auto& k : s->keys) keys.Add(k.first);
}

void IniFile::ReadSections(StringList& sections) const {
  sections.Clear();
  for (const auto& s : impl_->content.sections) sections.Add(s.name);
}

void IniFile::ReadSectionValues(const std::string& section, StringList& values) const {
  values.Clear();
  if (const Section* s = impl_->content.FindSection(section))
    for (const auto& k : s->keys) {
      const std::string& v = impl_->content.lines[k.second].value;
      if (!v.empty()) values.Add(k.first + "=" + v);
    }
}

bool IniFile::SectionExists(const std::string& section) const {
  const Section* s = impl_->content.FindSection(section);
  return s && !s->keys.empty();
}

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
  return impl_->content.FindKey(section, key) != nullptr;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  impl_->CheckNames(section, key, value);
  impl_->Change([&](Content& c) { return c.Set(section, key, value); });
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::WriteFloat(const std::string& section, const std::string& key, double value) {
  WriteString(section, key, FloatToStr(value));
}

void IniFile::EraseSection(const std::string& section) {
  impl_->Change([&](Content& c) { return c.Erase(section); });
}

void IniFile::DeleteKey(const std::string& section, const std::string& key) {
  impl_->Change([&](Content& c) { return c.Delete(section, key); });
}

void IniFile::BeginUpdate() {
  if (impl_->updateDepth++ == 0) {
    impl_->saved = impl_->content;
    impl_->dirty = false;
  }
}

void IniFile::EndUpdate() {
  if (impl_->updateDepth == 0 || --impl_->updateDepth > 0) return;
  if (!impl_->dirty) return;
  impl_->dirty = false;
  try {
    impl_->Commit(impl_->content);
  } catch (...) {
    impl_->content = std::move(impl_->saved);
    throw;
  }
  impl_->saved = Content();
}

void IniFile::CancelUpdate() {
  if (impl_->updateDepth == 0) return;
  impl_->updateDepth = 0;
  impl_->dirty = false;
  impl_->content = std::move(impl_->saved);
  impl_->saved = Content();
}

void IniFile::Impl::Change(const std::function<bool(Content&)>& change) {
  if (updateDepth > 0) {
    if (change(content)) dirty = true;
    return;
  }
  Content next = content;
  if (!change(next)) return;
  Commit(next);
  content = std::move(next);
}

void IniFile::Impl::Commit(const Content& next) const {
  // A missing file reads as an empty one and is made.
  if (!read.Ok() && read.fault != FileFault::Missing)
    Fail("the existing file cannot be read: " + read.Text());
  if (const int error = ReplaceFile(fileName, next.Serialize(), 0666)) Fail(ErrnoText(error));
}

}  // namespace kd
