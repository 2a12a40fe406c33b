// Merging: applying operations to the state (RGA for sequences, registers for
// map keys and list elements), checking a change before it is applied, and
// applying changes in causal order whatever order they arrive in.
#include <algorithm>
#include <unordered_map>

#include "platform/vesk_ui/document/document_impl.hpp"
#include "platform/vesk_ui/utf8/utf8.hpp"

namespace vesk_ui::doc {

uint32_t Document::Impl::integrate(Object& o, uint32_t prev, OpKey id, uint32_t value) {
  uint32_t cur = o.elems[prev].next;
  while (cur != kEnd && op_less(id, o.elems[cur].id)) {
    prev = cur;
    cur = o.elems[cur].next;
  }
  auto slot = static_cast<uint32_t>(o.elems.size());
  o.elems.push_back(Elem{id, cur, value, false});
  o.elems[prev].next = slot;
  o.add_to_index(slot);
  return slot;
}

void Document::Impl::apply_op(Op& op, OpKey id, bool consume) {
  Object& o = *objects.find(op.obj);
  switch (op.action) {
    case Action::MapSet: {
      create_object(id, *op.value);
      MapEntry& entry = o.map.find_or_add(op.text, consume ? &op.text : nullptr);
      RegEntry add = consume ? RegEntry{id, std::move(*op.value)} : RegEntry{id, *op.value};
      if (entry.reg.empty()) ++o.visible;  // a put always leaves a value
      reg_apply(entry.reg, op.pred, &add);
      break;
    }
    case Action::MapDel: {
      if (MapEntry* entry = o.map.find(op.text)) {
        bool was = !entry->reg.empty();
        reg_apply(entry->reg, op.pred, nullptr);
        if (was && entry->reg.empty()) --o.visible;
      }
      break;
    }
    case Action::TextInsert: {
      uint32_t prev = *o.find_elem(op.ref);
      o.elems.reserve(o.elems.size() + op.count);
      OpKey k = id;
      utf8::for_each_code_point(op.text, [&](char32_t cp) {
        prev = integrate(o, prev, k, cp);
        k += kActorStep;
      });
      o.visible += op.count;
      break;
    }
    case Action::TextDelete: {
      OpKey k = op.ref;
      for (uint64_t i = 0; i < op.count; ++i, k += kActorStep) {
        Elem& e = o.elems[*o.find_elem(k)];
        if (!e.deleted) {
          e.deleted = true;
          --o.visible;
        }
      }
      break;
    }
    case Action::ListInsert: {
      uint32_t prev = *o.find_elem(op.ref);
      auto reg = static_cast<uint32_t>(o.regs.size());
      create_object(id, *op.value);
      o.regs.push_back(Register{consume ? RegEntry{id, std::move(*op.value)} : RegEntry{id, *op.value}});
      integrate(o, prev, id, reg);
      ++o.visible;
      break;
    }
    case Action::ListSet:
    case Action::ListDel: {
      Elem& e = o.elems[*o.find_elem(op.ref)];
      bool was = o.elem_visible(e);
      std::optional<RegEntry> add;
      if (op.action == Action::ListSet) {
        create_object(id, *op.value);
        add = consume ? RegEntry{id, std::move(*op.value)} : RegEntry{id, *op.value};
      }
      reg_apply(o.regs[e.value], op.pred, add ? &*add : nullptr);
      bool now = o.elem_visible(e);
      if (was && !now) --o.visible;
      if (!was && now) ++o.visible;
      break;
    }
  }
}

// Checks the operations of one change, in order, so that applying them
// cannot fail: every reference must name an existing object or element of
// the right type, or one made earlier in the same change. When each
// operation is applied right after its check (`track` false), what the
// change made is already in the state and needs no separate record.
class Document::Impl::Checker {
 public:
  Checker(const Impl& impl, uint32_t actor_idx, bool track) : impl_(impl), actor_idx_(actor_idx), track_(track) {}

  Result<void> op(const Op& op, OpKey id) {
    auto bad = [](const char* what) { return std::unexpected(err(std::string("invalid change: ") + what)); };
    auto type = type_of(op.obj);
    if (!type) return bad("unknown object");
    bool map_op = op.action == Action::MapSet || op.action == Action::MapDel;
    bool text_op = op.action == Action::TextInsert || op.action == Action::TextDelete;
    ObjType want = map_op ? ObjType::Map : text_op ? ObjType::Text : ObjType::List;
    if (*type != want) return bad("operation on an object of another type");
    switch (op.action) {
      case Action::TextInsert:
      case Action::ListInsert:
        if (op.ref != 0 && !has_elem(op.obj, op.ref)) return bad("unknown element");
        // RGA ordering needs every element to be younger than its reference.
        if (op.ref != 0 && key_counter(op.ref) >= key_counter(id)) return bad("element id order");
        if (track_) runs_.push_back(Run{id, op.width(), op.obj});
        break;
      case Action::TextDelete: {
        OpKey k = op.ref;
        for (uint64_t i = 0; i < op.count; ++i, k += kActorStep) {
          if (!has_elem(op.obj, k)) return bad("unknown element");
        }
        break;
      }
      case Action::ListSet:
      case Action::ListDel:
        if (!has_elem(op.obj, op.ref)) return bad("unknown element");
        break;
      default: break;
    }
    if (track_ && op.value) {
      if (const auto* t = std::get_if<ObjType>(&*op.value)) made_.push_back(Made{id, *t});
    }
    return {};
  }

 private:
  // Ids made within one change increase, so both lists stay sorted.
  struct Made {
    OpKey id;
    ObjType type;
  };
  struct Run {
    OpKey first;
    uint64_t count;
    OpKey obj;
  };

  std::optional<ObjType> type_of(OpKey obj) const {
    auto it = std::lower_bound(made_.begin(), made_.end(), obj, [](const Made& m, OpKey k) { return m.id < k; });
    if (it != made_.end() && it->id == obj) return it->type;
    if (const Object* o = impl_.objects.find(obj)) return o->type;
    return std::nullopt;
  }
  bool has_elem(OpKey obj, OpKey e) const {
    if (key_actor(e) == actor_idx_ && !runs_.empty()) {
      auto it = std::upper_bound(runs_.begin(), runs_.end(), e, [](OpKey k, const Run& r) { return k < r.first; });
      if (it != runs_.begin()) {
        --it;
        if (key_counter(e) - key_counter(it->first) < it->count) return it->obj == obj;
      }
    }
    const Object* o = impl_.objects.find(obj);
    return o != nullptr && o->find_elem(e).has_value();
  }

  const Impl& impl_;
  uint32_t actor_idx_;
  bool track_;
  std::vector<Made> made_;
  std::vector<Run> runs_;
};

Result<void> Document::Impl::check(const DecodedChange& c) const {
  Checker checker(*this, c.actor_idx, true);
  OpKey id = make_key(c.info.start_op, c.actor_idx);
  for (const Op& op : c.ops) {
    if (auto ok = checker.op(op, id); !ok) return ok;
    id += op.width() * kActorStep;
  }
  return {};
}

Result<void> Document::Impl::load_change(const Buffer& buf, size_t off, size_t len,
                                         std::vector<DecodedChange>& waiting) {
  std::span<const uint8_t> bytes = std::span<const uint8_t>(*buf).subspan(off, len);
  auto bad = [](const char* what) { return std::unexpected(err(std::string("malformed change: ") + what)); };
  DecodedChange c;
  Reader r(bytes);
  std::vector<uint32_t> table;
  auto n_ops = decode_header(r, table, c);
  if (!n_ops) return std::unexpected(n_ops.error());
  hash_change(bytes, c.info.hash);
  auto ready = readiness(c);
  if (!ready) return std::unexpected(ready.error());
  if (*ready != Ready::Yes) {
    auto full = decode(buf, off, len);
    if (!full) return std::unexpected(full.error());
    if (*ready == Ready::Later) waiting.push_back(std::move(*full));
    return {};
  }
  Checker checker(*this, c.actor_idx, false);
  Op op;
  uint64_t width = 0;
  OpKey id = make_key(c.info.start_op, c.actor_idx);
  for (uint64_t i = 0; i < *n_ops; ++i) {
    if (const char* what = decode_op(r, table, op)) return bad(what);
    width += op.width();
    if (width > kMaxCounter) return bad("too many operations");
    if (c.info.start_op + width - 1 > kMaxCounter) return bad("operation ids overflow");
    if (auto ok = checker.op(op, id); !ok) return ok;
    apply_op(op, id, true);
    id += op.width() * kActorStep;
  }
  if (!r.done()) return bad("trailing bytes");
  c.info.op_count = width;
  c.buf = buf;
  c.off = off;
  c.len = len;
  max_op = std::max(max_op, c.info.start_op + width - 1);
  store(std::move(c));
  return {};
}

void Document::Impl::apply_decoded(DecodedChange&& c) {
  OpKey id = make_key(c.info.start_op, c.actor_idx);
  for (Op& op : c.ops) {
    apply_op(op, id, true);
    id += op.width() * kActorStep;
  }
  max_op = std::max(max_op, c.info.start_op + c.info.op_count - 1);
  store(std::move(c));
}

Result<Document::Impl::Ready> Document::Impl::readiness(const DecodedChange& c) const {
  if (by_hash.contains(c.info.hash)) return Ready::Duplicate;
  uint64_t last = last_seq[c.actor_idx];
  if (c.info.seq <= last) {
    return std::unexpected(err("a different change " + std::to_string(c.info.seq) + " of actor " +
                               c.info.actor.to_hex() + " is already present"));
  }
  if (c.info.seq > last + 1) return Ready::Later;
  for (const ChangeHash& d : c.info.deps) {
    if (!by_hash.contains(d)) return Ready::Later;
  }
  return Ready::Yes;
}

Result<void> Document::Impl::apply_all(std::vector<DecodedChange> queue) {
  std::unordered_map<ChangeHash, std::vector<size_t>, HashHasher> waiting_on;
  std::unordered_map<uint32_t, std::vector<size_t>> waiting_for_actor;
  std::vector<size_t> missing(queue.size(), 0);
  std::vector<bool> done(queue.size(), false);
  std::vector<size_t> ready;  // processed first in, first out
  for (size_t i = 0; i < queue.size(); ++i) {
    for (const ChangeHash& d : queue[i].info.deps) {
      if (!by_hash.contains(d)) {
        waiting_on[d].push_back(i);
        ++missing[i];
      }
    }
    if (missing[i] == 0) ready.push_back(i);
  }
  size_t left = queue.size();
  for (size_t next = 0; next < ready.size(); ++next) {
    size_t i = ready[next];
    if (done[i]) continue;
    DecodedChange& c = queue[i];
    auto state = readiness(c);
    if (!state) return std::unexpected(state.error());
    if (*state == Ready::Later) {  // its actor's previous change has not come yet
      waiting_for_actor[c.actor_idx].push_back(i);
      continue;
    }
    done[i] = true;
    --left;
    if (*state == Ready::Duplicate) continue;
    if (auto ok = check(c); !ok) return ok;
    ChangeHash hash = c.info.hash;
    uint32_t actor_idx = c.actor_idx;
    apply_decoded(std::move(c));
    if (auto it = waiting_on.find(hash); it != waiting_on.end()) {
      for (size_t j : it->second) {
        if (--missing[j] == 0) ready.push_back(j);
      }
      waiting_on.erase(it);
    }
    if (auto it = waiting_for_actor.find(actor_idx); it != waiting_for_actor.end()) {
      for (size_t j : it->second) ready.push_back(j);
      waiting_for_actor.erase(it);
    }
  }
  if (left > 0) {
    return std::unexpected(err(std::to_string(left) + " change(s) wait for dependencies that are missing"));
  }
  return {};
}

Result<void> Document::Impl::apply_encoded(std::span<const std::vector<uint8_t>> changes) {
  commit({}, std::nullopt);
  std::vector<DecodedChange> decoded;
  decoded.reserve(changes.size());
  for (const auto& bytes : changes) {
    auto c = decode(std::make_shared<const std::vector<uint8_t>>(bytes), 0, bytes.size());
    if (!c) return std::unexpected(c.error());
    decoded.push_back(std::move(*c));
  }
  return apply_all(std::move(decoded));
}

Result<void> Document::apply_changes(std::span<const std::vector<uint8_t>> changes) {
  return impl_->apply_encoded(changes);
}

Result<void> Document::merge(Document& other) {
  if (other.impl_.get() == impl_.get()) return {};
  impl_->commit({}, std::nullopt);
  other.impl_->commit({}, std::nullopt);
  std::vector<std::vector<uint8_t>> missing;
  for (const StoredChange& c : other.impl_->history) {
    if (!impl_->by_hash.contains(c.info.hash)) {
      auto b = c.bytes();
      missing.emplace_back(b.begin(), b.end());
    }
  }
  if (missing.empty()) return {};
  return impl_->apply_encoded(missing);
}

}  // namespace vesk_ui::doc
