#include "Component.h"

#include <algorithm>

#include "Strings.h"

namespace kd {

Component::Component(Component* owner) {
  if (owner) owner->InsertComponent(this);
}

Component::~Component() {
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

Component* Component::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) return nullptr;
  return components_[static_cast<size_t>(index)];
}

Component* Component::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (Component* c : components_)
    if (SameText(c->Name(), name)) return c;
  return nullptr;
}

void Component::InsertComponent(Component* component) {
  if (!component || component->owner_ == this) return;
  if (component->owner_) component->owner_->RemoveComponent(component);
  components_.push_back(component);
  component->owner_ = this;
}

void Component::RemoveComponent(Component* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it == components_.end()) return;
  components_.erase(it);
  component->owner_ = nullptr;
}

void Component::DestroyComponents() {
  while (!components_.empty()) {
    Component* last = components_.back();
    components_.pop_back();
    last->owner_ = nullptr;
    delete last;
  }
}

}  // namespace kd
