// Text and list objects: reading them, splicing text (deletes of runs of
// consecutive ids travel as one operation), inserting, setting and deleting
// list elements, and the smallest splice from one text to another.
#include <algorithm>

#include "platform/vesk_ui/document/document_impl.hpp"
#include "platform/vesk_ui/utf8/utf8.hpp"

namespace vesk_ui::doc {

Result<std::string> Document::text(const ObjId& obj) const {
  auto o = impl_->find_object(obj, ObjType::Text);
  if (!o) return std::unexpected(o.error());
  const Object& t = **o;
  std::string out;
  out.reserve(t.visible);
  for (uint32_t cur = t.elems[0].next; cur != kEnd; cur = t.elems[cur].next) {
    if (!t.elems[cur].deleted) utf8::append(out, t.elems[cur].value);
  }
  return out;
}

Result<void> Document::splice_text(const ObjId& obj, size_t pos, size_t del, std::string_view insert) {
  std::vector<char32_t> cps;
  if (!utf8::decode(insert, cps)) return std::unexpected(err("inserted text is not valid UTF-8"));
  auto o = impl_->object_of(obj, ObjType::Text);
  if (!o) return std::unexpected(o.error());
  OpKey obj_key = o->first;
  Object& t = *o->second;
  if (pos > t.visible || del > t.visible - pos) {
    return std::unexpected(err("splice range " + std::to_string(pos) + "+" + std::to_string(del) +
                               " is past the end of a text of " + std::to_string(t.visible)));
  }
  if (del == 0 && cps.empty()) return {};
  // Find the visible element before pos and the ones to delete.
  uint32_t before = 0;
  std::vector<OpKey> doomed;
  doomed.reserve(del);
  size_t seen = 0;
  for (uint32_t cur = t.elems[0].next; cur != kEnd && seen < pos + del; cur = t.elems[cur].next) {
    if (t.elems[cur].deleted) continue;
    if (seen < pos) {
      before = cur;
    } else {
      doomed.push_back(t.elems[cur].id);
    }
    ++seen;
  }
  OpKey ref = t.elems[before].id;
  // Deletes of runs of consecutive ids travel as one operation.
  for (size_t i = 0; i < doomed.size();) {
    size_t j = i + 1;
    while (j < doomed.size() && doomed[j] == doomed[j - 1] + kActorStep) ++j;
    Op op;
    op.action = Action::TextDelete;
    op.obj = obj_key;
    op.ref = doomed[i];
    op.count = j - i;
    impl_->record(std::move(op));
    i = j;
  }
  if (!cps.empty()) {
    Op op;
    op.action = Action::TextInsert;
    op.obj = obj_key;
    op.ref = ref;
    op.count = cps.size();
    op.text = std::string(insert);
    impl_->record(std::move(op));
  }
  return {};
}

Result<size_t> Document::length(const ObjId& obj) const {
  auto key = impl_->internal_id(obj);
  const Object* o = key ? impl_->objects.find(*key) : nullptr;
  if (o == nullptr) return std::unexpected(err("no object " + obj.to_string()));
  if (o->type == ObjType::Map) {
    return std::unexpected(err("object " + obj.to_string() + " is a map, not a sequence"));
  }
  return o->visible;
}

Result<std::optional<Value>> Document::list_get(const ObjId& list, size_t index) const {
  auto o = impl_->find_object(list, ObjType::List);
  if (!o) return std::unexpected(o.error());
  auto slot = impl_->nth_visible(**o, index);
  if (!slot) return std::optional<Value>{};
  const Object& l = **o;
  return std::optional<Value>{impl_->to_value(l.regs[l.elems[*slot].value].front())};
}

namespace {
Result<void> out_of_range(size_t index, size_t len) {
  return std::unexpected(
      err("index " + std::to_string(index) + " is out of range for a list of " + std::to_string(len)));
}
}  // namespace

static Result<ObjId> list_insert_impl(Document::Impl& impl, const ObjId& list, size_t index, Stored v) {
  auto o = impl.object_of(list, ObjType::List);
  if (!o) return std::unexpected(o.error());
  Object& l = *o->second;
  if (index > l.visible) return std::unexpected(out_of_range(index, l.visible).error());
  OpKey ref = 0;
  if (index > 0) ref = l.elems[*impl.nth_visible(l, index - 1)].id;
  Op op;
  op.action = Action::ListInsert;
  op.obj = o->first;
  op.ref = ref;
  op.value = std::move(v);
  OpKey id = make_key(impl.max_op + 1, impl.actor_idx);
  impl.record(std::move(op));
  return impl.public_id(id);
}

static Result<ObjId> list_set_impl(Document::Impl& impl, const ObjId& list, size_t index, std::optional<Stored> v) {
  auto o = impl.object_of(list, ObjType::List);
  if (!o) return std::unexpected(o.error());
  Object& l = *o->second;
  if (index >= l.visible) return std::unexpected(out_of_range(index, l.visible).error());
  const Elem& e = l.elems[*impl.nth_visible(l, index)];
  Op op;
  op.action = v ? Action::ListSet : Action::ListDel;
  op.obj = o->first;
  op.ref = e.id;
  l.regs[e.value].for_each([&](const RegEntry& r) { op.pred.push_back(r.id); });
  op.value = std::move(v);
  OpKey id = make_key(impl.max_op + 1, impl.actor_idx);
  impl.record(std::move(op));
  return impl.public_id(id);
}

Result<void> Document::list_insert(const ObjId& list, size_t index, Scalar value) {
  if (auto ok = check_key_and_value({}, &value); !ok) return ok;
  auto r = list_insert_impl(*impl_, list, index, Stored{std::move(value)});
  if (!r) return std::unexpected(r.error());
  return {};
}

Result<ObjId> Document::list_insert_object(const ObjId& list, size_t index, ObjType type) {
  return list_insert_impl(*impl_, list, index, Stored{type});
}

Result<void> Document::list_put(const ObjId& list, size_t index, Scalar value) {
  if (auto ok = check_key_and_value({}, &value); !ok) return ok;
  auto r = list_set_impl(*impl_, list, index, Stored{std::move(value)});
  if (!r) return std::unexpected(r.error());
  return {};
}

Result<ObjId> Document::list_put_object(const ObjId& list, size_t index, ObjType type) {
  return list_set_impl(*impl_, list, index, Stored{type});
}

Result<void> Document::list_delete(const ObjId& list, size_t index) {
  auto r = list_set_impl(*impl_, list, index, std::nullopt);
  if (!r) return std::unexpected(r.error());
  return {};
}

Result<bool> splice_text_diffed(Document& doc, const ObjId& text, std::string_view new_text) {
  std::vector<char32_t> want;
  if (!utf8::decode(new_text, want)) return std::unexpected(err("text is not valid UTF-8"));
  auto current = doc.text(text);
  if (!current) return std::unexpected(current.error());
  std::vector<char32_t> have;
  utf8::decode(*current, have);
  size_t prefix = 0;
  size_t limit = std::min(have.size(), want.size());
  while (prefix < limit && have[prefix] == want[prefix]) ++prefix;
  size_t suffix = 0;
  while (suffix < limit - prefix && have[have.size() - 1 - suffix] == want[want.size() - 1 - suffix]) {
    ++suffix;
  }
  if (prefix == have.size() && prefix == want.size()) return false;
  std::string insert;
  for (size_t i = prefix; i < want.size() - suffix; ++i) utf8::append(insert, want[i]);
  auto ok = doc.splice_text(text, prefix, have.size() - prefix - suffix, insert);
  if (!ok) return std::unexpected(ok.error());
  return true;
}

}  // namespace vesk_ui::doc
