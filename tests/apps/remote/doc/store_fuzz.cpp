// Builds a connection document out of arbitrary edits (entries under any
// spelling of a few ids, fields of every scalar kind and object type, and the
// store's own writers), then checks the store's promises on the result:
// writing back a loaded record leaves exactly that record under its id, and
// writing it once more records nothing.

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdlib>
#include <string>

#include "apps/remote/src/doc/store.hpp"

namespace {

namespace vdoc = vesk_ui::doc;
using remote::SavedConnection;
using remote::Uuid;

void check(bool ok) {
  if (!ok) std::abort();
}

const std::array<Uuid, 3> kIds = {*Uuid::parse("67e55044-10b1-426f-9247-bb680e5fe0c8"),
                                  *Uuid::parse("00000000-0000-4000-8000-000000000000"),
                                  *Uuid::parse("ffffffff-ffff-4fff-bfff-ffffffffffff")};
constexpr std::array<const char*, 12> kFields = {"name",      "host",     "port",  "user",     "kind", "auth",
                                                 "last_used", "presence", "group", "favorite", "id",   ""};

std::string upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

std::string key_for(FuzzedDataProvider& in) {
  const Uuid& id = kIds[in.ConsumeIntegralInRange<std::size_t>(0, kIds.size() - 1)];
  std::string canonical = id.to_string();
  std::string simple;
  for (char c : canonical) {
    if (c != '-') simple.push_back(c);
  }
  switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0: return canonical;
    case 1: return upper(canonical);
    case 2: return simple;
    case 3: return "{" + canonical + "}";
    case 4: return "urn:uuid:" + canonical;
    case 5: return upper(simple);
    default: return in.ConsumeRandomLengthString(48);
  }
}

vdoc::Scalar scalar(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 8)) {
    case 0: return vdoc::Scalar::str(in.ConsumeRandomLengthString(24));
    case 1: return vdoc::Scalar::int_(in.ConsumeIntegral<std::int64_t>());
    case 2: return vdoc::Scalar::uint(in.ConsumeIntegral<std::uint64_t>());
    case 3: return vdoc::Scalar::f64(in.ConsumeFloatingPoint<double>());
    case 4: return vdoc::Scalar::counter(in.ConsumeIntegral<std::int64_t>());
    case 5: return vdoc::Scalar::timestamp(in.ConsumeIntegral<std::int64_t>());
    case 6: return vdoc::Scalar::boolean(in.ConsumeBool());
    case 7: return vdoc::Scalar::null();
    default: return vdoc::Scalar::bytes(in.ConsumeBytes<std::uint8_t>(8));
  }
}

SavedConnection record(FuzzedDataProvider& in) {
  SavedConnection c;
  c.id = kIds[in.ConsumeIntegralInRange<std::size_t>(0, kIds.size() - 1)];
  c.name = in.ConsumeRandomLengthString(16);
  c.host = in.ConsumeRandomLengthString(16);
  c.port = in.ConsumeIntegral<std::uint16_t>();
  c.user = in.ConsumeRandomLengthString(8);
  c.kind = remote::ConnectionKind::ALL[in.ConsumeIntegralInRange(0, 3)];
  c.auth = remote::AuthKind::ALL[in.ConsumeIntegralInRange(0, 2)];
  c.last_used = in.ConsumeRandomLengthString(8);
  c.presence = remote::Presence::ALL[in.ConsumeIntegralInRange(0, 2)];
  c.group = in.ConsumeRandomLengthString(8);
  c.favorite = in.ConsumeBool();
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  remote::doc::Document doc;
  const vdoc::ObjId root = vdoc::ObjId::root();
  std::vector<vdoc::ObjId> entries;

  for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
    const auto map = remote::doc::find_connections_map(doc);
    switch (in.ConsumeIntegralInRange(0, 9)) {
      case 0:
        if (map) {
          if (auto entry = doc.put_object(*map, key_for(in), vdoc::ObjType::Map)) entries.push_back(*entry);
        }
        break;
      case 1:
        if (!entries.empty()) {
          const auto& entry = entries[in.ConsumeIntegralInRange<std::size_t>(0, entries.size() - 1)];
          (void)doc.put(entry, kFields[in.ConsumeIntegralInRange<std::size_t>(0, kFields.size() - 1)], scalar(in));
        }
        break;
      case 2:
        if (!entries.empty()) {
          const auto& entry = entries[in.ConsumeIntegralInRange<std::size_t>(0, entries.size() - 1)];
          const auto type = static_cast<vdoc::ObjType>(in.ConsumeIntegralInRange(0, 2));
          auto obj =
              doc.put_object(entry, kFields[in.ConsumeIntegralInRange<std::size_t>(0, kFields.size() - 1)], type);
          if (obj && type == vdoc::ObjType::Text) (void)doc.splice_text(*obj, 0, 0, in.ConsumeRandomLengthString(12));
        }
        break;
      case 3: remote::doc::write_connection(doc, record(in)); break;
      case 4: remote::doc::rename_connection(doc, record(in).id, in.ConsumeRandomLengthString(16)); break;
      case 5: remote::doc::set_favorite(doc, record(in).id, in.ConsumeBool()); break;
      case 6: remote::doc::delete_connection(doc, record(in).id); break;
      case 7:
        if (in.ConsumeBool()) {
          (void)doc.put(root, remote::doc::kConnectionsKey, scalar(in));
        } else {
          (void)doc.put_object(root, remote::doc::kConnectionsKey,
                               static_cast<vdoc::ObjType>(in.ConsumeIntegralInRange(0, 2)));
        }
        entries.clear();
        break;
      case 8: remote::doc::write_connections(doc, {record(in), record(in)}); break;
      default: doc.commit(); break;
    }
  }

  for (const auto& loaded : remote::doc::load_connections(doc)) {
    // What the document holds it takes back.
    check(remote::doc::write_connection(doc, loaded).has_value());
    std::size_t seen = 0;
    for (const auto& again : remote::doc::load_connections(doc)) {
      if (again.id != loaded.id) continue;
      ++seen;
      check(again == loaded);
    }
    check(seen == 1);
    const auto heads = doc.get_heads();
    check(remote::doc::write_connection(doc, loaded).has_value());
    check(doc.get_heads() == heads);
  }
  return 0;
}
