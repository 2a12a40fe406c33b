// The document's map side and lifetime: construction, the actor, and reading
// and writing map keys. Sequences, history and merging have files of their own.
#include <algorithm>
#include <cstring>

#include "platform/vesk_ui/document/document_impl.hpp"

namespace vesk_ui::doc {

Document::Document() : Document(ActorId::random()) {}
Document::Document(ActorId actor) : impl_(std::make_unique<Impl>(actor)) {}
Document::Document(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

ActorId Document::actor() const { return impl_->actor; }

std::vector<uint8_t> Document::actor_bytes() const {
  return std::vector<uint8_t>(impl_->actor.bytes.begin(), impl_->actor.bytes.end());
}

void Document::set_actor(ActorId actor) {
  impl_->commit({}, std::nullopt);
  auto idx = impl_->intern(actor);
  if (!idx) return;  // the table is full; keep the old actor
  impl_->actor = actor;
  impl_->actor_idx = *idx;
}

Result<std::optional<Value>> Document::get(const ObjId& obj, std::string_view key) const {
  auto o = impl_->find_object(obj, ObjType::Map);
  if (!o) return std::unexpected(o.error());
  const MapEntry* e = (*o)->map.find(key);
  if (e == nullptr || e->reg.empty()) return std::optional<Value>{};
  return std::optional<Value>{impl_->to_value(e->reg.front())};
}

Result<std::vector<Value>> Document::get_all(const ObjId& obj, std::string_view key) const {
  auto o = impl_->find_object(obj, ObjType::Map);
  if (!o) return std::unexpected(o.error());
  std::vector<Value> out;
  if (const MapEntry* e = (*o)->map.find(key)) {
    e->reg.for_each([&](const RegEntry& r) { out.push_back(impl_->to_value(r)); });
  }
  return out;
}

Result<void> detail::check_key_and_value(std::string_view key, const Scalar* value) {
  if (!valid_utf8(key)) return std::unexpected(err("map key is not valid UTF-8"));
  if (value) {
    if (auto s = value->as_str(); s && !valid_utf8(*s)) {
      return std::unexpected(err("string value is not valid UTF-8"));
    }
  }
  return {};
}

Result<void> Document::put(const ObjId& obj, std::string_view key, Scalar value) {
  if (auto ok = check_key_and_value(key, &value); !ok) return ok;
  auto o = impl_->object_of(obj, ObjType::Map);
  if (!o) return std::unexpected(o.error());
  Op op;
  op.action = Action::MapSet;
  op.obj = o->first;
  op.text = std::string(key);
  if (const MapEntry* e = o->second->map.find(key)) {
    e->reg.for_each([&](const RegEntry& r) { op.pred.push_back(r.id); });
  }
  op.value = Stored{std::move(value)};
  impl_->record(std::move(op));
  return {};
}

Result<ObjId> Document::put_object(const ObjId& obj, std::string_view key, ObjType type) {
  if (auto ok = check_key_and_value(key, nullptr); !ok) return std::unexpected(ok.error());
  auto o = impl_->object_of(obj, ObjType::Map);
  if (!o) return std::unexpected(o.error());
  Op op;
  op.action = Action::MapSet;
  op.obj = o->first;
  op.text = std::string(key);
  if (const MapEntry* e = o->second->map.find(key)) {
    e->reg.for_each([&](const RegEntry& r) { op.pred.push_back(r.id); });
  }
  op.value = Stored{type};
  OpKey id = make_key(impl_->max_op + 1, impl_->actor_idx);
  impl_->record(std::move(op));
  return impl_->public_id(id);
}

Result<void> Document::delete_key(const ObjId& obj, std::string_view key) {
  auto o = impl_->object_of(obj, ObjType::Map);
  if (!o) return std::unexpected(o.error());
  const MapEntry* e = o->second->map.find(key);
  if (e == nullptr || e->reg.empty()) return {};
  Op op;
  op.action = Action::MapDel;
  op.obj = o->first;
  op.text = std::string(key);
  e->reg.for_each([&](const RegEntry& r) { op.pred.push_back(r.id); });
  impl_->record(std::move(op));
  return {};
}

size_t Document::map_size(const ObjId& obj) const {
  auto o = impl_->find_object(obj, ObjType::Map);
  return o ? (*o)->visible : 0;
}

std::vector<std::string> Document::keys(const ObjId& obj) const {
  std::vector<std::string> out;
  auto o = impl_->find_object(obj, ObjType::Map);
  if (!o) return out;
  const MapObj& m = (*o)->map;
  const auto& order = m.sorted();
  out.reserve(order.size());
  for (uint32_t i : order) {
    if (!m.at(i).reg.empty()) out.push_back(m.at(i).key);
  }
  return out;
}

Result<void> Document::visit_entries(const ObjId& obj, void (*fn)(void*, const EntryView&), void* ctx) const {
  auto o = impl_->find_object(obj, ObjType::Map);
  if (!o) return std::unexpected(o.error());
  // Values that are objects are usually read next: fetch their slot in the
  // object index early, then the object itself.
  auto ahead = [&](const MapEntry& e, int distance) {
    if (e.reg.empty() || !std::holds_alternative<ObjType>(e.reg.front().value)) return;
    if (distance == 8) {
      impl_->objects.prefetch_slot(e.reg.front().id);
    } else if (const Object* next = impl_->objects.peek(e.reg.front().id)) {
      __builtin_prefetch(next);
    }
  };
  (*o)->map.for_each_sorted(
      [&](const MapEntry& e) {
        if (e.reg.empty()) return;
        const RegEntry& r = e.reg.front();
        EntryView view;
        view.key = e.key;
        if (const auto* type = std::get_if<ObjType>(&r.value)) {
          view.object = ObjectRef{*type, impl_->public_id(r.id)};
        } else {
          view.scalar = &std::get<Scalar>(r.value);
        }
        fn(ctx, view);
      },
      ahead);
  return {};
}

std::vector<std::string> Document::keys_ignoring_case(const ObjId& obj, std::string_view key) const {
  std::vector<std::string> out;
  auto o = impl_->find_object(obj, ObjType::Map);
  if (!o) return out;
  const MapObj& m = (*o)->map;
  for (uint32_t i : m.find_ignoring_case(key)) {
    if (!m.at(i).reg.empty()) out.push_back(m.at(i).key);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::optional<ObjType> Document::object_type(const ObjId& obj) const {
  auto key = impl_->internal_id(obj);
  if (!key) return std::nullopt;
  const Object* o = impl_->objects.find(*key);
  if (o == nullptr) return std::nullopt;
  return o->type;
}

}  // namespace vesk_ui::doc

size_t std::hash<vesk_ui::doc::ObjId>::operator()(const vesk_ui::doc::ObjId& id) const noexcept {
  uint64_t a;
  std::memcpy(&a, id.actor().bytes.data(), sizeof a);
  return static_cast<size_t>(a ^ (id.counter() * 0x9E3779B97F4A7C15ull));
}
