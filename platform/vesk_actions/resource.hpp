// The published tree: resources with action specifications, their contracts,
// parameters and handlers.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <cstddef>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/vesk_actions/encoded_action.hpp"

namespace vesk_actions {

// Named arguments of one invocation. Only text arguments exist so far.
class ActionArgs {
 public:
  ActionArgs() = default;
  ActionArgs(std::initializer_list<std::pair<std::string, std::string>> texts);

  // Replaces an earlier value of the same name.
  ActionArgs& set_text(std::string name, std::string value);
  // The text of the named argument; callers take absent as empty.
  std::optional<std::string> text(std::string_view name) const;
  const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

struct ActionParameter {
  std::string name;
  std::string description;
  std::string type = "text";

  friend bool operator==(const ActionParameter&, const ActionParameter&) = default;
};

// How a client should offer an action's input.
struct InputDescriptor {
  std::vector<ActionParameter> parameters;
  std::string hint;

  friend bool operator==(const InputDescriptor&, const InputDescriptor&) = default;
};

InputDescriptor derive_input(std::vector<ActionParameter> parameters, std::string hint);

struct Unavailability {
  std::string reason_code;
  std::string message;

  friend bool operator==(const Unavailability&, const Unavailability&) = default;
};

// What an action may do and how a client should treat it. The framework
// interprets the enumerations and settings; applications set the values.
struct ActionContract {
  struct Lifetime {
    std::uint8_t value = 5;
    bool flag = false;
    friend bool operator==(const Lifetime&, const Lifetime&) = default;
  };

  std::vector<std::string> capabilities;
  std::optional<Unavailability> unavailable;
  std::uint8_t scope = 0;
  Lifetime lifetime;
  std::uint8_t latency = 5;
  std::array<std::uint8_t, 5> settings{0, 0, 0, 0, 1};

  // Defaults: settings (0,0,0,0,1) for View, (0,2,0,1,3) for Effect and for
  // document actions (None).
  static ActionContract defaults_for(OperationKind kind);

  friend bool operator==(const ActionContract&, const ActionContract&) = default;
};

using ActionHandler = std::function<EncodedAction(const ActionArgs&)>;
// Refuses arguments an action must not act on (a text over its limit, an
// empty name) with a code and a sentence; none when they may be used.
using ArgumentCheck = std::function<std::optional<Unavailability>(const ActionArgs&)>;

// Gives an operation payload the declared operation type name as its kind,
// so that a handler can never hand out an operation of another type.
EncodedAction enforce_operation_type(EncodedAction encoded, std::string_view type_name);

struct ActionSpec {
  std::string id;
  std::string label;
  ActionContract contract;
  std::vector<ActionParameter> parameters;
  std::optional<std::string> description;
  std::optional<std::string> operation_type;
  InputDescriptor input;
  std::shared_ptr<const ActionHandler> handler;
  std::shared_ptr<const ArgumentCheck> argument_check;  // none: every argument is taken
  bool is_destructive = false;
  OperationKind operation_kind = OperationKind::None;

  // A document action: encodes the value once; the handler returns a copy.
  template <JsonEncodable T>
  static std::expected<ActionSpec, ActionError> typed_action(std::string id, std::string label, std::string_view kind,
                                                             const T& action) {
    auto encoded = EncodedAction::from_action(kind, action);
    if (!encoded) return std::unexpected(std::move(encoded.error()));
    return replaying(std::move(id), std::move(label), OperationKind::None, std::nullopt, std::move(*encoded));
  }

  // An operation: encodes the value once under the type name.
  template <JsonEncodable T>
  static std::expected<ActionSpec, ActionError> typed_operation(std::string id, std::string label, OperationKind kind,
                                                                std::string type_name, const T& operation) {
    auto encoded = EncodedAction::from_operation_owned(type_name, operation);
    if (!encoded) return std::unexpected(std::move(encoded.error()));
    return replaying(std::move(id), std::move(label), kind, std::move(type_name), std::move(*encoded));
  }

  // An operation whose handler encodes at each call; its result passes
  // through enforce_operation_type.
  static ActionSpec operation_with_encoder(std::string id, std::string label, OperationKind kind, std::string type_name,
                                           std::vector<ActionParameter> parameters, std::string hint,
                                           ActionHandler encoder);

  // A document action with one text parameter "value".
  static ActionSpec text_input(std::string id, std::string label, std::string value_description, std::string hint,
                               bool destructive, std::function<EncodedAction(std::string)> encoder);

  ActionSpec& with_contract(ActionContract contract);
  // Marks the action unavailable; replaces an earlier reason.
  ActionSpec& unavailable(std::string reason_code, std::string message);
  ActionSpec& with_description(std::string description);
  ActionSpec& destructive();
  ActionSpec& with_argument_check(ArgumentCheck check);

  // Callers run this before invoke and refuse the invocation when it gives a reason.
  std::optional<Unavailability> check_arguments(const ActionArgs& args) const {
    return argument_check ? (*argument_check)(args) : std::nullopt;
  }

  bool is_available() const { return !contract.unavailable.has_value(); }
  EncodedAction invoke(const ActionArgs& args) const { return (*handler)(args); }

 private:
  static ActionSpec replaying(std::string id, std::string label, OperationKind kind,
                              std::optional<std::string> type_name, EncodedAction encoded);
};

struct Resource;

// The children of a resource. A copy shares the children it was copied from,
// so a kept tree with thousands of resources is handed out without copying
// them; appending to a copy adds to its own tail, and changing a shared child
// first gives the list a copy of its own.
class ResourceList {
 public:
  class const_iterator {
   public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = Resource;
    using difference_type = std::ptrdiff_t;
    using pointer = const Resource*;
    using reference = const Resource&;

    const_iterator() = default;
    const_iterator(const ResourceList* list, std::size_t index) : list_(list), index_(index) {}
    reference operator*() const { return (*list_)[index_]; }
    pointer operator->() const { return &(*list_)[index_]; }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    const_iterator operator++(int) {
      auto old = *this;
      ++index_;
      return old;
    }
    const_iterator& operator--() {
      --index_;
      return *this;
    }
    const_iterator operator--(int) {
      auto old = *this;
      --index_;
      return old;
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.index_ == b.index_; }

   private:
    const ResourceList* list_ = nullptr;
    std::size_t index_ = 0;
  };
  using const_reverse_iterator = std::reverse_iterator<const_iterator>;

  std::size_t size() const;
  bool empty() const { return size() == 0; }
  const Resource& operator[](std::size_t i) const;
  const Resource& at(std::size_t i) const;
  const Resource& front() const { return (*this)[0]; }
  const Resource& back() const { return (*this)[size() - 1]; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }
  const_reverse_iterator rbegin() const { return const_reverse_iterator(end()); }
  const_reverse_iterator rend() const { return const_reverse_iterator(begin()); }

  // Changing access gives the list its own copy of shared children first.
  Resource& operator[](std::size_t i);
  Resource& at(std::size_t i);
  Resource& front() { return (*this)[0]; }
  Resource& back() { return (*this)[size() - 1]; }
  void push_back(Resource child);
  void reserve(std::size_t n);
  void clear();

  // A value derived from child i alone (under `key`), kept with shared
  // children so that lists sharing them compute it once; made by `make`
  // when missing.
  std::uint64_t derived(std::size_t i, std::uint64_t key,
                        const std::function<std::uint64_t(const Resource&)>& make) const;

  // The derived values kept so far (the key and one slot per shared child),
  // so that a list rebuilt from some of the same children can take them
  // over with restore_derived (slot i for the new child i).
  struct DerivedValues {
    std::uint64_t key = 0;
    std::vector<std::optional<std::uint64_t>> values;
  };
  DerivedValues derived_values() const;
  void restore_derived(DerivedValues kept);

 private:
  struct Shared;
  std::size_t shared_size() const;
  // Makes every child this list's own, in one unshared block.
  void own();

  std::shared_ptr<Shared> shared_;
  std::vector<Resource> tail_;  // after the shared children
};

struct Resource {
  std::string id;
  std::string kind;
  std::string title;
  ResourceList children;
  std::vector<ActionSpec> actions;

  Resource(std::string id, std::string kind, std::string title);

  Resource& with_action(ActionSpec action);
  // Appends the children in order.
  Resource& with_children(std::vector<Resource> more);

  // This resource or a descendant with the id (depth first, first match).
  const Resource* find(std::string_view resource_id) const;
  const ActionSpec* find_action(std::string_view action_id) const;
};

// Defined here, where Resource is complete (a vector of an incomplete type
// has no size).
inline std::size_t ResourceList::size() const { return shared_size() + tail_.size(); }

namespace resource {
using vesk_actions::ActionContract;
using vesk_actions::ActionSpec;
using vesk_actions::Resource;
}  // namespace resource

}  // namespace vesk_actions
