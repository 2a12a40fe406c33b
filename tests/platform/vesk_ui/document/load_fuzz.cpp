// Saved documents and single changes from untrusted bytes: refused or
// loaded, never a crash, a hang or unbounded memory.
#include <sodium.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/vesk_ui/document/document.hpp"

using namespace vesk_ui::doc;

namespace {
void varint(std::vector<uint8_t>& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<uint8_t>(v));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> in(data, size);
  (void)Document::load(in);

  // The same bytes as the one change of a correctly framed file, so the
  // change decoder and the checks behind the checksum are reached.
  std::vector<uint8_t> framed = {'V', 'K', 'D', 'O', 'C', 0, 1, 0};
  varint(framed, 1);
  varint(framed, size);
  framed.insert(framed.end(), in.begin(), in.end());
  framed.resize(framed.size() + 32);
  crypto_generichash(framed.data() + framed.size() - 32, 32, framed.data(), framed.size() - 32, nullptr, 0);
  auto doc = Document::load(framed);
  if (doc) {
    (void)doc->keys(ObjId::root());
    (void)doc->save();
  }

  // And as a change applied on top of a small document.
  Document base(ActorId{});
  (void)base.put_object(ObjId::root(), "t", ObjType::Text);
  base.commit();
  std::vector<std::vector<uint8_t>> changes{std::vector<uint8_t>(in.begin(), in.end())};
  (void)base.apply_changes(changes);
  return 0;
}
