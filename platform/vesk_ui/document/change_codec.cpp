// The change codec: the binary form of one change (actors, header, operations
// and values) and its hash. Decoding checks structure only; references are
// checked against the state when the change is applied.
#include <nettle/sha2.h>

#include <algorithm>
#include <bit>
#include <unordered_map>

#include "platform/vesk_ui/document/document_impl.hpp"

namespace vesk_ui::doc {

// Change hashes are SHA-256; nettle uses the CPU's SHA instructions where
// there are any, several times faster than libsodium's portable code.
void detail::hash_change(std::span<const uint8_t> bytes, ChangeHash& out) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, bytes.size(), bytes.data());
  sha256_digest(&ctx, SHA256_DIGEST_SIZE, out.bytes.data());
}

std::vector<uint8_t> Document::Impl::encode(const DecodedChange& c) const {
  // Actor table: the author first, then others in order of first use.
  std::vector<uint32_t> table{c.actor_idx};
  std::unordered_map<uint32_t, uint64_t> local{{c.actor_idx, 0}};
  auto note = [&](OpKey k) {
    if (k == 0) return;
    uint32_t a = key_actor(k);
    if (local.emplace(a, table.size()).second) table.push_back(a);
  };
  for (const Op& op : c.ops) {
    note(op.obj);
    note(op.ref);
    for (OpKey p : op.pred) note(p);
  }
  Writer w;
  w.raw(kChangeMagic);
  w.varint(table.size());
  for (uint32_t a : table) w.raw(actors[a].bytes);
  w.varint(c.info.seq);
  w.varint(c.info.start_op);
  w.svarint(c.info.time);
  w.str(c.info.message);
  w.varint(c.info.deps.size());
  for (const ChangeHash& h : c.info.deps) w.raw(h.bytes);
  w.varint(c.ops.size());
  auto key = [&](OpKey k) {
    w.varint(key_counter(k));
    if (k != 0) w.varint(local.at(key_actor(k)));
  };
  auto preds = [&](const std::vector<OpKey>& pred) {
    w.varint(pred.size());
    for (OpKey p : pred) key(p);
  };
  for (const Op& op : c.ops) {
    w.u8(static_cast<uint8_t>(op.action));
    key(op.obj);
    switch (op.action) {
      case Action::MapSet:
        w.str(op.text);
        preds(op.pred);
        encode_value(w, *op.value);
        break;
      case Action::MapDel:
        w.str(op.text);
        preds(op.pred);
        break;
      case Action::TextInsert:
        key(op.ref);
        w.str(op.text);
        break;
      case Action::TextDelete:
        key(op.ref);
        w.varint(op.count);
        break;
      case Action::ListInsert:
        key(op.ref);
        encode_value(w, *op.value);
        break;
      case Action::ListSet:
        key(op.ref);
        preds(op.pred);
        encode_value(w, *op.value);
        break;
      case Action::ListDel:
        key(op.ref);
        preds(op.pred);
        break;
    }
  }
  return std::move(w.out);
}

void Document::Impl::encode_value(Writer& w, const Stored& v) {
  if (const auto* type = std::get_if<ObjType>(&v)) {
    w.u8(static_cast<uint8_t>(16 + static_cast<int>(*type)));
    return;
  }
  const Scalar& s = std::get<Scalar>(v);
  w.u8(static_cast<uint8_t>(s.kind()));
  switch (s.kind()) {
    case ScalarKind::Str: w.str(*s.as_str()); break;
    case ScalarKind::Int: w.svarint(*s.as_int()); break;
    case ScalarKind::Uint: w.varint(*s.as_uint()); break;
    case ScalarKind::F64: w.u64le(std::bit_cast<uint64_t>(*s.as_f64())); break;
    case ScalarKind::Counter: w.svarint(*s.as_counter()); break;
    case ScalarKind::Timestamp: w.svarint(*s.as_timestamp()); break;
    case ScalarKind::Boolean: w.u8(*s.as_bool() ? 1 : 0); break;
    case ScalarKind::Null: break;
    case ScalarKind::Bytes: {
      auto b = *s.as_bytes();
      w.varint(b.size());
      w.raw(b);
      break;
    }
  }
}

bool Document::Impl::decode_value(Reader& r, std::optional<Stored>& out) {
  uint8_t tag;
  if (!r.u8(tag)) return false;
  if (tag >= 16 && tag <= 18) {
    out.emplace(static_cast<ObjType>(tag - 16));
    return true;
  }
  switch (static_cast<ScalarKind>(tag)) {
    case ScalarKind::Str: {
      std::string_view s;
      if (!r.str(s) || !valid_utf8(s)) return false;
      out.emplace(Scalar::str(s));
      return true;
    }
    case ScalarKind::Int:
    case ScalarKind::Counter:
    case ScalarKind::Timestamp: {
      int64_t v;
      if (!r.svarint(v)) return false;
      if (tag == static_cast<uint8_t>(ScalarKind::Int)) {
        out.emplace(Scalar::int_(v));
        return true;
      }
      if (tag == static_cast<uint8_t>(ScalarKind::Counter)) {
        out.emplace(Scalar::counter(v));
        return true;
      }
      out.emplace(Scalar::timestamp(v));
      return true;
    }
    case ScalarKind::Uint: {
      uint64_t v;
      if (!r.varint(v)) return false;
      out.emplace(Scalar::uint(v));
      return true;
    }
    case ScalarKind::F64: {
      uint64_t v;
      if (!r.u64le(v)) return false;
      out.emplace(Scalar::f64(std::bit_cast<double>(v)));
      return true;
    }
    case ScalarKind::Boolean: {
      uint8_t b;
      if (!r.u8(b) || b > 1) return false;
      out.emplace(Scalar::boolean(b == 1));
      return true;
    }
    case ScalarKind::Null: out.emplace(Scalar::null()); return true;
    case ScalarKind::Bytes: {
      std::string_view s;
      if (!r.str(s)) return false;
      out.emplace(Scalar::bytes(std::vector<uint8_t>(s.begin(), s.end())));
      return true;
    }
  }
  return false;
}

Result<uint64_t> Document::Impl::decode_header(Reader& r, std::vector<uint32_t>& table, DecodedChange& c) {
  auto bad = [](const char* what) { return std::unexpected(err(std::string("malformed change: ") + what)); };
  std::span<const uint8_t> magic;
  if (!r.raw(4, magic) || !std::equal(magic.begin(), magic.end(), kChangeMagic)) return bad("header");
  uint64_t n_actors;
  if (!r.varint(n_actors) || n_actors == 0 || n_actors > r.remaining() / 16) return bad("actors");
  table.clear();
  table.reserve(n_actors);
  for (uint64_t i = 0; i < n_actors; ++i) {
    std::span<const uint8_t> a;
    r.raw(16, a);
    ActorId id = *ActorId::from_bytes(a);
    auto idx = intern(id);
    if (!idx) return bad("too many actors");
    if (std::find(table.begin(), table.end(), *idx) != table.end()) return bad("repeated actor");
    table.push_back(*idx);
  }
  c.actor_idx = table[0];
  c.info.actor = actors[c.actor_idx];
  if (!r.varint(c.info.seq) || c.info.seq == 0) return bad("seq");
  if (!r.varint(c.info.start_op) || c.info.start_op == 0 || c.info.start_op > kMaxCounter) {
    return bad("start op");
  }
  if (!r.svarint(c.info.time)) return bad("time");
  std::string_view msg;
  if (!r.str(msg) || !valid_utf8(msg)) return bad("message");
  c.info.message = std::string(msg);
  uint64_t n_deps;
  if (!r.varint(n_deps) || n_deps > r.remaining() / 32) return bad("deps");
  c.info.deps.resize(n_deps);
  for (auto& d : c.info.deps) {
    std::span<const uint8_t> h;
    r.raw(32, h);
    std::copy(h.begin(), h.end(), d.bytes.begin());
  }
  for (size_t i = 1; i < c.info.deps.size(); ++i) {
    if (!(c.info.deps[i - 1] < c.info.deps[i])) return bad("deps order");
  }
  uint64_t n_ops;
  if (!r.varint(n_ops) || n_ops == 0 || n_ops > r.remaining() / 3) return bad("op count");
  return n_ops;
}

const char* Document::Impl::decode_op(Reader& r, const std::vector<uint32_t>& table, Op& op) {
  auto key = [&](OpKey& out) {
    uint64_t counter, a = 0;
    if (!r.varint(counter) || counter > kMaxCounter) return false;
    if (counter == 0) {
      out = 0;
      return true;
    }
    if (!r.varint(a) || a >= table.size()) return false;
    out = make_key(counter, table[a]);
    return true;
  };
  auto preds = [&](std::vector<OpKey>& pred) {
    uint64_t n;
    if (!r.varint(n) || n > r.remaining()) return false;
    pred.resize(n);
    for (auto& p : pred) {
      if (!key(p) || p == 0) return false;
    }
    return true;
  };
  auto text = [&](std::string& out) {
    std::string_view s;
    if (!r.str(s) || !valid_utf8(s)) return false;
    out.assign(s.data(), s.size());
    return true;
  };
  op.ref = 0;
  op.count = 1;
  op.text.clear();
  op.pred.clear();
  op.value.reset();
  uint8_t action;
  if (!r.u8(action) || action < 1 || action > 7) return "action";
  op.action = static_cast<Action>(action);
  if (!key(op.obj)) return "object id";
  bool ok = true;
  switch (op.action) {
    case Action::MapSet: ok = text(op.text) && preds(op.pred) && decode_value(r, op.value); break;
    case Action::MapDel: ok = text(op.text) && preds(op.pred); break;
    case Action::TextInsert: {
      ok = key(op.ref) && text(op.text);
      if (ok) {
        op.count = static_cast<uint64_t>(std::count_if(
            op.text.begin(), op.text.end(), [](char ch) { return (static_cast<uint8_t>(ch) & 0xC0) != 0x80; }));
        ok = op.count > 0;
      }
      break;
    }
    case Action::TextDelete:
      ok = key(op.ref) && op.ref != 0 && r.varint(op.count) && op.count > 0 && op.count <= kMaxCounter;
      break;
    case Action::ListInsert: ok = key(op.ref) && decode_value(r, op.value); break;
    case Action::ListSet: ok = key(op.ref) && op.ref != 0 && preds(op.pred) && decode_value(r, op.value); break;
    case Action::ListDel: ok = key(op.ref) && op.ref != 0 && preds(op.pred); break;
  }
  return ok ? nullptr : "operation";
}

Result<DecodedChange> Document::Impl::decode(const Buffer& buf, size_t off, size_t len) {
  std::span<const uint8_t> bytes = std::span<const uint8_t>(*buf).subspan(off, len);
  DecodedChange c;
  Reader r(bytes);
  auto bad = [](const char* what) { return std::unexpected(err(std::string("malformed change: ") + what)); };
  std::vector<uint32_t> table;
  auto n_ops = decode_header(r, table, c);
  if (!n_ops) return std::unexpected(n_ops.error());
  c.ops.resize(*n_ops);
  uint64_t width = 0;
  for (Op& op : c.ops) {
    if (const char* what = decode_op(r, table, op)) return bad(what);
    width += op.width();
    if (width > kMaxCounter) return bad("too many operations");
  }
  if (c.info.start_op + width - 1 > kMaxCounter) return bad("operation ids overflow");
  if (!r.done()) return bad("trailing bytes");
  c.info.op_count = width;
  c.buf = buf;
  c.off = off;
  c.len = len;
  hash_change(bytes, c.info.hash);
  return c;
}

}  // namespace vesk_ui::doc
