#include "Tlambconnsetcmp.h"

#include <algorithm>

#include "NameLists.h"

TlaMBConnSet::TlaMBConnSet(kd::Component* owner) : kd::Component(owner) {}

TlaMBConnSet::~TlaMBConnSet() {
  ClearSet();
}

void TlaMBConnSet::GetConnListFromIniFile(kd::StringList* list, const std::string& fileName) {
  kd::ReadIniSectionNames(list, fileName);
}

void TlaMBConnSet::GetConnListFromRegistry(kd::StringList* list, kd::RootKey root,
                                           const std::string& path) {
  kd::ReadRegistryKeyNames(list, root, path);
}

void TlaMBConnSet::CreateSetFromIniFile(const std::string& fileName, bool force) {
  ClearSet();
  kd::StringList names;
  GetConnListFromIniFile(&names, fileName);
  for (const std::string& name : names.Lines()) AddConnectFromIniFile(name, fileName, force);
}

void TlaMBConnSet::CreateSetFromRegistry(kd::RootKey root, const std::string& path, bool force) {
  ClearSet();
  kd::StringList names;
  GetConnListFromRegistry(&names, root, path);
  for (const std::string& name : names.Lines()) AddConnectFromRegistry(name, root, path, force);
}

template <class Read>
TlaMBThread* TlaMBConnSet::AddConnectFrom(const std::string& name, bool force,
                                          const std::string& source, Read&& read) {
  if (name.empty()) return nullptr;
  if (TlaMBThread* present = FindByName(name)) return present;
  TlaMBSetup settings;
  settings.Name = name;
  if (!read(settings) || !(settings.Enabled || force)) {
    if (OnLoadError) OnLoadError(this, name, source);
    return nullptr;
  }
  auto connection = std::make_unique<TlaMBThread>(this);
  connection->Setup().Assign(settings);  // Enabled last: the worker may open at once
  TlaMBThread* added = connection.release();
  AddConnect(added);  // owned by the set from here
  return added;
}

TlaMBThread* TlaMBConnSet::AddConnectFromIniFile(const std::string& name,
                                                 const std::string& fileName, bool force) {
  return AddConnectFrom(name, force, fileName,
                        [&](TlaMBSetup& s) { return s.ReadFromIniFile(fileName); });
}

TlaMBThread* TlaMBConnSet::AddConnectFromRegistry(const std::string& name, kd::RootKey root,
                                                  const std::string& path, bool force) {
  return AddConnectFrom(name, force, "\\" + path,
                        [&](TlaMBSetup& s) { return s.ReadFromRegistry(root, path); });
}

void TlaMBConnSet::AddConnect(TlaMBThread* connection) {
  if (!connection) return;
  auto same = [connection](const std::unique_ptr<TlaMBThread>& c) { return c.get() == connection; };
  if (std::any_of(connections_.begin(), connections_.end(), same)) return;
  connections_.emplace_back(connection);
  if (OnAdd) OnAdd(this, connection);
}

bool TlaMBConnSet::DeleteConnect(TlaMBThread* connection) {
  if (!connection) return false;
  auto it = std::find_if(
      connections_.begin(), connections_.end(),
      [connection](const std::unique_ptr<TlaMBThread>& c) { return c.get() == connection; });
  if (it == connections_.end()) return false;
  std::unique_ptr<TlaMBThread> gone = std::move(*it);
  connections_.erase(it);
  if (OnDelete) OnDelete(this, connection);
  return true;  // `gone` ends the worker and waits for it
}

bool TlaMBConnSet::DeleteConnect(const std::string& name) {
  return DeleteConnect(FindByName(name));
}

void TlaMBConnSet::ClearSet() {
  while (!connections_.empty()) DeleteConnect(connections_.front().get());
}

TlaMBThread* TlaMBConnSet::FindByName(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (const auto& c : connections_)
    if (c->Setup().Name == name) return c.get();
  return nullptr;
}

TlaMBThread* TlaMBConnSet::GetConnect(int index) const {
  if (index < 0 || index >= GetCountConnect()) return nullptr;
  return connections_[static_cast<std::size_t>(index)].get();
}
