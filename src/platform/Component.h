#pragma once
// Component: an object with an owner, a Name and a Tag. An owner destroys the
// components it owns (the last added first) when it is destroyed itself; a
// component destroyed earlier leaves its owner's list. Components are created
// with `new T(owner)` and deleted by their owner (or by whoever holds an
// owner-less one).
#include <cstdint>
#include <string>
#include <vector>

namespace kd {

class Component {
 public:
  explicit Component(Component* owner = nullptr);
  virtual ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  Component* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  std::intptr_t Tag() const { return tag_; }
  void SetTag(std::intptr_t tag) { tag_ = tag; }

  // Run-time class name ("TlaDiagram", ...); overridden by classes that are
  // told apart by it.
  virtual std::string ClassName() const { return "TComponent"; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  Component* Components(int index) const;  // null when out of range
  // First owned component with this name (letter case ignored), or null.
  Component* FindComponent(const std::string& name) const;

  // Move ownership: the component leaves its old owner and joins this one.
  void InsertComponent(Component* component);
  // The component leaves this owner (not destroyed).
  void RemoveComponent(Component* component);
  // Destroys every owned component now (the last added first).
  void DestroyComponents();

 private:
  Component* owner_ = nullptr;
  std::string name_;
  std::intptr_t tag_ = 0;
  std::vector<Component*> components_;
};

}  // namespace kd
