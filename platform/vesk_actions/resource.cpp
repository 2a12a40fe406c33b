#include "platform/vesk_actions/resource.hpp"

#include <mutex>
#include <stdexcept>

namespace vesk_actions {

ActionArgs::ActionArgs(std::initializer_list<std::pair<std::string, std::string>> texts) {
  for (const auto& [name, value] : texts) set_text(name, value);
}

ActionArgs& ActionArgs::set_text(std::string name, std::string value) {
  for (auto& entry : entries_) {
    if (entry.first == name) {
      entry.second = std::move(value);
      return *this;
    }
  }
  entries_.emplace_back(std::move(name), std::move(value));
  return *this;
}

std::optional<std::string> ActionArgs::text(std::string_view name) const {
  for (const auto& entry : entries_) {
    if (entry.first == name) return entry.second;
  }
  return std::nullopt;
}

InputDescriptor derive_input(std::vector<ActionParameter> parameters, std::string hint) {
  return InputDescriptor{std::move(parameters), std::move(hint)};
}

ActionContract ActionContract::defaults_for(OperationKind kind) {
  ActionContract c;
  if (kind == OperationKind::View) {
    c.settings = {0, 0, 0, 0, 1};
  } else {
    c.settings = {0, 2, 0, 1, 3};
  }
  return c;
}

EncodedAction enforce_operation_type(EncodedAction encoded, std::string_view type_name) {
  if (encoded.kind != type_name) encoded.kind = std::string(type_name);
  return encoded;
}

ActionSpec ActionSpec::replaying(std::string id, std::string label, OperationKind kind,
                                 std::optional<std::string> type_name, EncodedAction encoded) {
  ActionSpec action_spec;
  action_spec.id = std::move(id);
  action_spec.label = std::move(label);
  action_spec.contract = ActionContract::defaults_for(kind);
  action_spec.operation_type = std::move(type_name);
  action_spec.operation_kind = kind;
  action_spec.handler =
      std::make_shared<const ActionHandler>([payload = std::move(encoded)](const ActionArgs&) { return payload; });
  return action_spec;
}

ActionSpec ActionSpec::operation_with_encoder(std::string id, std::string label, OperationKind kind,
                                              std::string type_name, std::vector<ActionParameter> parameters,
                                              std::string hint, ActionHandler encoder) {
  ActionSpec action_spec;
  action_spec.id = std::move(id);
  action_spec.label = std::move(label);
  action_spec.contract = ActionContract::defaults_for(kind);
  action_spec.parameters = parameters;
  action_spec.input = derive_input(std::move(parameters), std::move(hint));
  action_spec.operation_type = type_name;
  action_spec.operation_kind = kind;
  action_spec.handler = std::make_shared<const ActionHandler>(
      [encoder = std::move(encoder), type_name = std::move(type_name)](const ActionArgs& args) {
        return enforce_operation_type(encoder(args), type_name);
      });
  return action_spec;
}

ActionSpec ActionSpec::text_input(std::string id, std::string label, std::string value_description, std::string hint,
                                  bool destructive, std::function<EncodedAction(std::string)> encoder) {
  ActionSpec action_spec;
  action_spec.id = std::move(id);
  action_spec.label = std::move(label);
  action_spec.contract = ActionContract::defaults_for(OperationKind::None);
  action_spec.parameters = {ActionParameter{"value", std::move(value_description), "text"}};
  action_spec.input = derive_input(action_spec.parameters, std::move(hint));
  action_spec.is_destructive = destructive;
  action_spec.handler = std::make_shared<const ActionHandler>(
      [encoder = std::move(encoder)](const ActionArgs& args) { return encoder(args.text("value").value_or("")); });
  return action_spec;
}

ActionSpec& ActionSpec::with_contract(ActionContract c) {
  contract = std::move(c);
  return *this;
}

ActionSpec& ActionSpec::unavailable(std::string reason_code, std::string message) {
  contract.unavailable = Unavailability{std::move(reason_code), std::move(message)};
  return *this;
}

ActionSpec& ActionSpec::with_description(std::string text) {
  description = std::move(text);
  return *this;
}

ActionSpec& ActionSpec::with_argument_check(ArgumentCheck check) {
  argument_check = std::make_shared<const ArgumentCheck>(std::move(check));
  return *this;
}

ActionSpec& ActionSpec::destructive() {
  is_destructive = true;
  return *this;
}

struct ResourceList::Shared {
  std::vector<Resource> items;
  std::mutex derived_mutex;
  std::uint64_t derived_key = 0;
  std::vector<std::optional<std::uint64_t>> derived;
};

std::size_t ResourceList::shared_size() const { return shared_ ? shared_->items.size() : 0; }

const Resource& ResourceList::operator[](std::size_t i) const {
  const std::size_t n = shared_size();
  return i < n ? shared_->items[i] : tail_[i - n];
}

const Resource& ResourceList::at(std::size_t i) const {
  if (i >= size()) throw std::out_of_range("ResourceList::at");
  return (*this)[i];
}

void ResourceList::own() {
  if (shared_ && shared_.use_count() == 1 && tail_.empty()) {
    shared_->derived.clear();
    return;
  }
  auto mine = std::make_shared<Shared>();
  mine->items.reserve(size());
  if (shared_) mine->items = shared_->items;
  for (auto& child : tail_) mine->items.push_back(std::move(child));
  tail_.clear();
  shared_ = std::move(mine);
}

Resource& ResourceList::operator[](std::size_t i) {
  own();
  return shared_->items[i];
}

Resource& ResourceList::at(std::size_t i) {
  if (i >= size()) throw std::out_of_range("ResourceList::at");
  return (*this)[i];
}

void ResourceList::push_back(Resource child) {
  // While no copy shares the block, children go straight into it.
  if (!shared_) shared_ = std::make_shared<Shared>();
  if (shared_.use_count() == 1 && tail_.empty()) {
    shared_->items.push_back(std::move(child));
    return;
  }
  tail_.push_back(std::move(child));
}

void ResourceList::reserve(std::size_t n) {
  if (!shared_) shared_ = std::make_shared<Shared>();
  if (shared_.use_count() == 1 && tail_.empty()) shared_->items.reserve(n);
}

void ResourceList::clear() {
  shared_.reset();
  tail_.clear();
}

std::uint64_t ResourceList::derived(std::size_t i, std::uint64_t key,
                                    const std::function<std::uint64_t(const Resource&)>& make) const {
  const std::size_t n = shared_size();
  if (i >= n) return make(tail_.at(i - n));
  Shared& s = *shared_;
  {
    std::lock_guard lock(s.derived_mutex);
    if (s.derived_key == key && s.derived.size() == n && s.derived[i]) return *s.derived[i];
  }
  const std::uint64_t value = make(s.items[i]);
  std::lock_guard lock(s.derived_mutex);
  if (s.derived_key != key || s.derived.size() != n) {
    s.derived_key = key;
    s.derived.assign(n, std::nullopt);
  }
  s.derived[i] = value;
  return value;
}

ResourceList::DerivedValues ResourceList::derived_values() const {
  if (!shared_) return {};
  std::lock_guard lock(shared_->derived_mutex);
  if (shared_->derived.size() != shared_->items.size()) return {};
  return {shared_->derived_key, shared_->derived};
}

void ResourceList::restore_derived(DerivedValues kept) {
  if (!shared_ || !tail_.empty() || kept.values.size() != shared_->items.size()) return;
  std::lock_guard lock(shared_->derived_mutex);
  shared_->derived_key = kept.key;
  shared_->derived = std::move(kept.values);
}

Resource::Resource(std::string id_, std::string kind_, std::string title_)
    : id(std::move(id_)), kind(std::move(kind_)), title(std::move(title_)) {}

Resource& Resource::with_action(ActionSpec action) {
  actions.push_back(std::move(action));
  return *this;
}

Resource& Resource::with_children(std::vector<Resource> more) {
  for (auto& child : more) children.push_back(std::move(child));
  return *this;
}

// Iterative, so a deep tree from a client cannot exhaust the stack.
const Resource* Resource::find(std::string_view resource_id) const {
  std::vector<const Resource*> stack{this};
  while (!stack.empty()) {
    const Resource* r = stack.back();
    stack.pop_back();
    if (r->id == resource_id) return r;
    for (auto it = r->children.rbegin(); it != r->children.rend(); ++it) stack.push_back(&*it);
  }
  return nullptr;
}

const ActionSpec* Resource::find_action(std::string_view action_id) const {
  for (const auto& a : actions) {
    if (a.id == action_id) return &a;
  }
  return nullptr;
}

}  // namespace vesk_actions
