#pragma once
// TlaMBConnSet: several Modbus connections, each a TlaMBThread, built from
// the sections of an INI file or the subkeys of a registry key (one
// connection per section or subkey, named after it). The set owns its
// connections; destroying one ends its worker and waits for it.
//
// A connection whose settings say Enabled starts opening at its worker's next
// cycle; with `force` a disabled one is added as well, idle.
//
// Main thread only.
#include <memory>
#include <string>
#include <vector>

#include "Component.h"
#include "Event.h"
#include "Registry.h"
#include "Strings.h"
#include "Tlambthreadthr.h"

class TlaMBConnSet;

using TlaConnSetEvent = kd::Event<void(TlaMBConnSet* sender, TlaMBThread* connection)>;
// Sender, connection name, file name or "\" + key path.
using TlaConnLoadErrorEvent =
    kd::Event<void(TlaMBConnSet* sender, const std::string& name, const std::string& source)>;

class TlaMBConnSet : public kd::Component {
 public:
  explicit TlaMBConnSet(kd::Component* owner = nullptr);
  ~TlaMBConnSet() override;  // ClearSet (OnDelete for each connection)
  std::string ClassName() const override { return "TlaMBConnSet"; }

  TlaConnSetEvent OnAdd;     // after a connection joined
  TlaConnSetEvent OnDelete;  // before a connection is destroyed
  TlaConnLoadErrorEvent
      OnLoadError;  // settings that did not load, or a disabled connection without force

  // The list is cleared first; a key that does not open, or an error raised
  // while reading, gives the single line "-Error-" (NameLists.h). A null list
  // does nothing.
  static void GetConnListFromIniFile(kd::StringList* list, const std::string& fileName);
  static void GetConnListFromRegistry(kd::StringList* list, kd::RootKey root,
                                      const std::string& path);

  // ClearSet, then one connection per name in list order.
  void CreateSetFromIniFile(const std::string& fileName, bool force);
  void CreateSetFromRegistry(kd::RootKey root, const std::string& path, bool force);

  // The connection `name`: the one already in the set, else a new one whose
  // settings are read from section `name` (or key path\name) when they load
  // and say Enabled, or with `force`; otherwise OnLoadError and null. Null
  // for an empty name. A registry key that lacks a value raises the
  // registry's error (nothing is added).
  TlaMBThread* AddConnectFromIniFile(const std::string& name, const std::string& fileName,
                                     bool force);
  TlaMBThread* AddConnectFromRegistry(const std::string& name, kd::RootKey root,
                                      const std::string& path, bool force);

  // Takes the connection into the set (the set then owns it), OnAdd. Null,
  // or a connection already in the set, is ignored.
  void AddConnect(TlaMBThread* connection);
  // Out of the set, OnDelete, destroyed; false for null or a connection not in the set.
  bool DeleteConnect(TlaMBThread* connection);
  bool DeleteConnect(const std::string& name);
  // Every connection, the first one first.
  void ClearSet();

  // The first connection whose settings' Name is `name` exactly; null for an empty name.
  TlaMBThread* FindByName(const std::string& name) const;
  int GetCountConnect() const { return static_cast<int>(connections_.size()); }
  TlaMBThread* GetConnect(int index) const;  // null outside 0 .. count-1

 private:
  // A new connection with the settings read by `read` (on a temporary
  // TlaMBSetup named `name`), when they load and (Enabled or force).
  template <class Read>
  TlaMBThread* AddConnectFrom(const std::string& name, bool force, const std::string& source,
                              Read&& read);

  std::vector<std::unique_ptr<TlaMBThread>> connections_;
};
