// History: committing local edits as changes, the heads and the change list,
// saving the whole history as one file and loading it back, and forking.
#include <sodium.h>

#include <algorithm>

#include "platform/vesk_ui/document/document_impl.hpp"

namespace vesk_ui::doc {

void Document::Impl::commit(std::string message, std::optional<int64_t> time) {
  if (pending.empty()) return;
  DecodedChange c;
  c.info.actor = actor;
  c.info.seq = last_seq[actor_idx] + 1;
  c.info.start_op = pending_start;
  c.info.time = time.value_or(now_seconds());
  c.info.message = std::move(message);
  c.info.deps = heads;
  c.info.op_count = 0;
  for (const Op& op : pending) c.info.op_count += op.width();
  c.actor_idx = actor_idx;
  c.ops = std::move(pending);
  pending.clear();
  auto bytes = std::make_shared<std::vector<uint8_t>>(encode(c));
  hash_change(*bytes, c.info.hash);
  c.len = bytes->size();
  c.buf = std::move(bytes);
  store(std::move(c));
}

void Document::Impl::store(DecodedChange&& c) {
  auto idx = static_cast<uint32_t>(history.size());
  by_hash.emplace(c.info.hash, idx);
  std::erase_if(heads,
                [&](const ChangeHash& h) { return std::binary_search(c.info.deps.begin(), c.info.deps.end(), h); });
  heads.insert(std::upper_bound(heads.begin(), heads.end(), c.info.hash), c.info.hash);
  last_seq[c.actor_idx] = c.info.seq;
  history.push_back(StoredChange{std::move(c.info), std::move(c.buf), c.off, c.len});
}

void Document::commit(std::string message, std::optional<int64_t> time) { impl_->commit(std::move(message), time); }

size_t Document::pending_ops() const { return impl_->pending.size(); }

std::vector<ChangeHash> Document::get_heads() const {
  impl_->commit({}, std::nullopt);
  return impl_->heads;
}

std::vector<ChangeInfo> Document::changes() const {
  impl_->commit({}, std::nullopt);
  std::vector<ChangeInfo> out;
  out.reserve(impl_->history.size());
  for (const StoredChange& c : impl_->history) out.push_back(c.info);
  return out;
}

std::vector<std::vector<uint8_t>> Document::encoded_changes() const {
  impl_->commit({}, std::nullopt);
  std::vector<std::vector<uint8_t>> out;
  out.reserve(impl_->history.size());
  for (const StoredChange& c : impl_->history) {
    auto b = c.bytes();
    out.emplace_back(b.begin(), b.end());
  }
  return out;
}

std::vector<std::vector<uint8_t>> Document::encoded_changes_since(std::span<const ChangeHash> heads) const {
  impl_->commit({}, std::nullopt);
  std::vector<bool> known(impl_->history.size(), false);
  std::vector<uint32_t> stack;
  for (const ChangeHash& h : heads) {
    if (const uint32_t* i = impl_->by_hash.find(h)) stack.push_back(*i);
  }
  while (!stack.empty()) {
    uint32_t i = stack.back();
    stack.pop_back();
    if (known[i]) continue;
    known[i] = true;
    for (const ChangeHash& d : impl_->history[i].info.deps) stack.push_back(impl_->by_hash.at(d));
  }
  std::vector<std::vector<uint8_t>> out;
  for (size_t i = 0; i < impl_->history.size(); ++i) {
    if (!known[i]) {
      auto b = impl_->history[i].bytes();
      out.emplace_back(b.begin(), b.end());
    }
  }
  return out;
}

std::vector<uint8_t> Document::save() const {
  impl_->commit({}, std::nullopt);
  Writer w;
  size_t total = 0;
  for (const StoredChange& c : impl_->history) total += c.len + 5;
  w.out.reserve(total + 64);
  w.raw(kDocMagic);
  w.varint(impl_->history.size());
  for (const StoredChange& c : impl_->history) {
    w.varint(c.len);
    w.raw(c.bytes());
  }
  uint8_t sum[kChecksumBytes];
  crypto_generichash(sum, sizeof sum, w.out.data(), w.out.size(), nullptr, 0);
  w.raw(sum);
  return std::move(w.out);
}

Result<Document> Document::load(std::span<const uint8_t> bytes) { return load_from(bytes, nullptr); }

Result<Document> Document::load_owned(std::vector<uint8_t> bytes) {
  if (bytes.size() > kMaxDocumentBytes) return std::unexpected(err("document is too large"));
  auto owned = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
  return load_from(*owned, owned);
}

// `owner`, when given, holds `bytes` and is kept by the document for the
// encoded changes; otherwise they are copied once the file is found sound.
Result<Document> Document::load_from(std::span<const uint8_t> bytes,
                                     std::shared_ptr<const std::vector<uint8_t>> owner) {
  ensure_sodium();
  if (bytes.size() > kMaxDocumentBytes) return std::unexpected(err("document is too large"));
  if (bytes.size() < sizeof kDocMagic + 1 + kChecksumBytes ||
      !std::equal(std::begin(kDocMagic), std::end(kDocMagic), bytes.begin())) {
    return std::unexpected(err("not a saved document"));
  }
  auto body = bytes.first(bytes.size() - kChecksumBytes);
  uint8_t sum[kChecksumBytes];
  crypto_generichash(sum, sizeof sum, body.data(), body.size(), nullptr, 0);
  if (sodium_memcmp(sum, bytes.data() + body.size(), kChecksumBytes) != 0) {
    return std::unexpected(err("document checksum does not match (damaged file)"));
  }
  Reader r(body.subspan(sizeof kDocMagic));
  uint64_t n;
  if (!r.varint(n) || n > r.remaining()) return std::unexpected(err("malformed document header"));
  auto impl = std::make_unique<Impl>(ActorId::random());
  // Typical documents make a couple of objects per change; the claim in the
  // header is only trusted up to a size any real document reaches.
  const size_t expect = static_cast<size_t>(std::min<uint64_t>(n, uint64_t{1} << 20));
  impl->by_hash.reserve(expect);
  impl->history.reserve(expect);
  impl->objects.reserve(2 * expect + 1);
  // Offsets of changes count from the start of the file, in either buffer.
  Buffer buf = owner ? std::move(owner) : std::make_shared<const std::vector<uint8_t>>(body.begin(), body.end());
  // Saved files list changes in causal order, so each is normally applied as
  // soon as it is read; anything out of order waits for the end.
  std::vector<DecodedChange> waiting;
  for (uint64_t i = 0; i < n; ++i) {
    uint64_t len;
    std::span<const uint8_t> change;
    if (!r.varint(len) || len > r.remaining() || !r.raw(len, change)) {
      return std::unexpected(err("malformed document: truncated change"));
    }
    auto ok = impl->load_change(buf, static_cast<size_t>(change.data() - body.data()), len, waiting);
    if (!ok) return std::unexpected(ok.error());
  }
  if (!r.done()) return std::unexpected(err("malformed document: trailing bytes"));
  if (auto ok = impl->apply_all(std::move(waiting)); !ok) return std::unexpected(ok.error());
  return Document(std::move(impl));
}

Document Document::fork() const {
  impl_->commit({}, std::nullopt);
  auto copy = std::make_unique<Impl>(*impl_);
  ActorId fresh = ActorId::random();
  copy->actor = fresh;
  copy->actor_idx = copy->intern(fresh).value_or(copy->actor_idx);
  return Document(std::move(copy));
}

}  // namespace vesk_ui::doc
