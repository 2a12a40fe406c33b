#include "apps/remote/src/doc/store.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "platform/vesk_ui/document/persist.hpp"

namespace remote::doc {
namespace {

namespace vdoc = vesk_ui::doc;
using vdoc::ObjType;
using vdoc::Scalar;
using vdoc::ScalarKind;

constexpr std::string_view kIdText = "67e55044-10b1-426f-9247-bb680e5fe0c8";

SavedConnection record(std::string_view id_text = kIdText) {
  SavedConnection c;
  c.id = *Uuid::parse(id_text);
  c.name = "Build box";
  c.host = "build.example";
  c.port = 2222;
  c.user = "ci";
  c.kind = ConnectionKind::Ssh;
  c.auth = AuthKind::PublicKey;
  c.last_used = "Never";
  c.presence = Presence::Offline;
  c.group = "Lab";
  c.favorite = true;
  return c;
}

class DocStoreTest : public testing::Test {
 protected:
  Document doc_;

  ObjId root() { return ObjId::root(); }
  ObjId raw_map() { return *doc_.put_object(root(), kConnectionsKey, ObjType::Map); }
  // An entry written by hand under any key.
  ObjId raw_entry(const ObjId& map, std::string_view key, std::string_view name = "raw") {
    ObjId entry = *doc_.put_object(map, key, ObjType::Map);
    ObjId text = *doc_.put_object(entry, "name", ObjType::Text);
    EXPECT_TRUE(doc_.splice_text(text, 0, 0, name));
    EXPECT_TRUE(doc_.put(entry, "host", Scalar::str("raw.example")));
    EXPECT_TRUE(doc_.put(entry, "port", Scalar::int_(22)));
    return entry;
  }
  std::optional<vdoc::Value> at(const ObjId& obj, std::string_view key) { return *doc_.get(obj, key); }
  ObjId entry_of(std::string_view key) { return *at(*find_connections_map(doc_), key)->object_id(); }
  std::vector<std::string> connection_keys() { return doc_.keys(*find_connections_map(doc_)); }
};

TEST_F(DocStoreTest, WriteThenLoadRoundTripsEveryField) {
  std::vector<SavedConnection> written;
  for (auto kind : ConnectionKind::ALL) {
    for (auto presence : Presence::ALL) {
      SavedConnection c = record(Uuid::new_v4().to_string());
      c.kind = kind;
      c.auth = kind.allowed_auths().back();
      c.presence = presence;
      c.favorite = presence == Presence::Online;
      c.name = "n\u00e9 " + std::string(kind.as_str());
      c.group = presence == Presence::Unknown ? "" : "g";
      c.port = kind == ConnectionKind::Vesk ? 0 : 65535;
      write_connection(doc_, c);
      written.push_back(c);
    }
  }
  // Loading follows the document's key order: byte order of the id texts.
  std::sort(written.begin(), written.end(),
            [](const auto& a, const auto& b) { return a.id.to_string() < b.id.to_string(); });
  EXPECT_EQ(load_connections(doc_), written);

  // The stored shape.
  const ObjId entry = entry_of(written[0].id.to_string());
  EXPECT_TRUE(at(entry, "name")->is_object(ObjType::Text));
  EXPECT_EQ(at(entry, "port")->as_scalar()->kind(), ScalarKind::Int);
  EXPECT_EQ(at(entry, "favorite")->as_scalar()->kind(), ScalarKind::Boolean);
  EXPECT_EQ(read_string(doc_, entry, "kind"), written[0].kind.as_str());
  EXPECT_EQ(read_string(doc_, entry, "auth"), written[0].auth.as_str());
  EXPECT_EQ(read_string(doc_, entry, "presence"), written[0].presence.as_str());
  EXPECT_EQ(doc_.keys(entry), (std::vector<std::string>{"auth", "favorite", "group", "host", "kind", "last_used",
                                                        "name", "port", "presence", "user"}));
}

TEST_F(DocStoreTest, WritesOnlyWhatChanged) {
  const SavedConnection c = record();
  write_connection(doc_, c);
  const auto heads = doc_.get_heads();

  write_connection(doc_, c);
  EXPECT_EQ(doc_.pending_ops(), 0u);
  EXPECT_EQ(doc_.get_heads(), heads);
  rename_connection(doc_, c.id, c.name);
  set_favorite(doc_, c.id, c.favorite);
  EXPECT_EQ(doc_.get_heads(), heads);

  SavedConnection moved = c;
  moved.host = "other.example";
  write_connection(doc_, moved);
  EXPECT_EQ(doc_.pending_ops(), 1u);  // the host alone
  doc_.commit();

  SavedConnection renamed = moved;
  renamed.name = "Build boxes";
  write_connection(doc_, renamed);
  EXPECT_EQ(doc_.pending_ops(), 1u);  // one inserted code point; the rest of the text is kept
  EXPECT_EQ(load_connections(doc_), std::vector<SavedConnection>{renamed});
}

TEST_F(DocStoreTest, PortScalarsOfEveryKind) {
  struct Row {
    const char* what;
    std::optional<Scalar> stored;
    std::uint16_t port;
  };
  const Row rows[] = {
      {"signed", Scalar::int_(22), 22},
      {"unsigned", Scalar::uint(22), 22},
      {"65536 more than 22", Scalar::int_(65536 + 22), 22},
      {"unsigned past 64 bits signed", Scalar::uint(std::numeric_limits<std::uint64_t>::max()), 65535},
      {"-1", Scalar::int_(-1), 65535},
      {"22.9", Scalar::f64(22.9), 22},
      {"-1.5 truncates toward zero", Scalar::f64(-1.5), 65535},
      {"NaN", Scalar::f64(std::nan("")), 0},
      {"huge float saturates", Scalar::f64(1e300), 65535},
      {"huge negative float saturates", Scalar::f64(-1e300), 0},
      {"counter", Scalar::counter(5900), 5900},
      {"timestamp", Scalar::timestamp(443), 443},
      {"string", Scalar::str("22"), 0},
      {"boolean", Scalar::boolean(true), 0},
      {"null", Scalar::null(), 0},
      {"absent", std::nullopt, 0},
  };
  const ObjId map = raw_map();
  for (const auto& r : rows) {
    const ObjId entry = raw_entry(map, kIdText);
    if (r.stored) {
      ASSERT_TRUE(doc_.put(entry, "port", *r.stored));
    } else {
      ASSERT_TRUE(doc_.delete_key(entry, "port"));
    }
    const auto loaded = load_connections(doc_);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].port, r.port) << r.what;
  }
}

TEST_F(DocStoreTest, UnsignedPortIsRewrittenSigned) {
  const ObjId entry = raw_entry(raw_map(), kIdText);
  ASSERT_TRUE(doc_.put(entry, "port", Scalar::uint(22)));
  SavedConnection c = load_connections(doc_).at(0);
  EXPECT_EQ(c.port, 22);
  write_connection(doc_, c);
  EXPECT_EQ(*at(entry, "port")->as_scalar(), Scalar::int_(22));
}

TEST_F(DocStoreTest, FieldsOfTheWrongShapeLoadAsDefaults) {
  const ObjId entry = raw_entry(raw_map(), kIdText);
  ASSERT_TRUE(doc_.put(entry, "name", Scalar::str("scalar name")));
  ASSERT_TRUE(doc_.put(entry, "host", Scalar::int_(5)));
  ASSERT_TRUE(doc_.put_object(entry, "user", ObjType::Text));
  ASSERT_TRUE(doc_.put(entry, "kind", Scalar::str("Telnet")));
  ASSERT_TRUE(doc_.put(entry, "auth", Scalar::str("PublicKey")));
  ASSERT_TRUE(doc_.put(entry, "presence", Scalar::str("Online")));
  ASSERT_TRUE(doc_.put(entry, "favorite", Scalar::str("true")));
  ASSERT_TRUE(doc_.put_object(entry, "group", ObjType::Map));

  SavedConnection c = load_connections(doc_).at(0);
  EXPECT_EQ(c.id, Uuid::parse(kIdText));
  EXPECT_EQ(c.name, "");
  EXPECT_EQ(c.host, "");
  EXPECT_EQ(c.user, "");
  EXPECT_EQ(c.group, "");
  EXPECT_EQ(c.last_used, "");
  EXPECT_EQ(c.kind, ConnectionKind::Ssh);
  EXPECT_EQ(c.auth, AuthKind::Password);
  EXPECT_EQ(c.presence, Presence::Unknown);
  EXPECT_FALSE(c.favorite);

  // The next write stores the proper shapes and the document words.
  c.name = "Fixed";
  write_connection(doc_, c);
  EXPECT_TRUE(at(entry, "name")->is_object(ObjType::Text));
  EXPECT_EQ(read_string(doc_, entry, "kind"), "SSH");
  EXPECT_EQ(read_string(doc_, entry, "auth"), "Password");
  EXPECT_EQ(read_string(doc_, entry, "presence"), "unknown");
  EXPECT_EQ(*at(entry, "user")->as_scalar(), Scalar::str(""));
  EXPECT_EQ(*at(entry, "favorite")->as_scalar(), Scalar::boolean(false));
  EXPECT_EQ(load_connections(doc_), std::vector<SavedConnection>{c});
}

TEST_F(DocStoreTest, RenameReplacesAScalarName) {
  const ObjId entry = raw_entry(raw_map(), kIdText);
  ASSERT_TRUE(doc_.put(entry, "name", Scalar::str("scalar name")));
  rename_connection(doc_, *Uuid::parse(kIdText), "Text now");
  EXPECT_TRUE(at(entry, "name")->is_object(ObjType::Text));
  EXPECT_EQ(load_connections(doc_).at(0).name, "Text now");
}

TEST_F(DocStoreTest, SkipsKeysThatAreNotIdsAndValuesThatAreNotMaps) {
  const ObjId map = raw_map();
  raw_entry(map, "not-a-uuid");
  raw_entry(map, "");
  ASSERT_TRUE(doc_.put(map, "11111111-1111-4111-8111-111111111111", Scalar::str("scalar")));
  ASSERT_TRUE(doc_.put_object(map, "22222222-2222-4222-8222-222222222222", ObjType::List));
  ASSERT_TRUE(doc_.put_object(map, "33333333-3333-4333-8333-333333333333", ObjType::Text));
  raw_entry(map, "ffffffff-ffff-4fff-8fff-ffffffffffff", "last");
  raw_entry(map, "00000000-0000-4000-8000-000000000000", "first");
  const auto loaded = load_connections(doc_);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].name, "first");
  EXPECT_EQ(loaded[1].name, "last");
}

TEST_F(DocStoreTest, ConnectionsValueThatIsNotAMap) {
  struct Row {
    const char* what;
    void (*make)(Document&);
  };
  const Row rows[] = {
      {"list", [](Document& d) { ASSERT_TRUE(d.put_object(ObjId::root(), kConnectionsKey, ObjType::List)); }},
      {"text", [](Document& d) { ASSERT_TRUE(d.put_object(ObjId::root(), kConnectionsKey, ObjType::Text)); }},
      {"string", [](Document& d) { ASSERT_TRUE(d.put(ObjId::root(), kConnectionsKey, Scalar::str("x"))); }},
      {"integer", [](Document& d) { ASSERT_TRUE(d.put(ObjId::root(), kConnectionsKey, Scalar::int_(7))); }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    Document doc;
    r.make(doc);
    const auto before = *doc.get(ObjId::root(), kConnectionsKey);
    const auto heads = doc.get_heads();
    EXPECT_TRUE(load_connections(doc).empty());

    // Rename, favourite and delete find nothing to change and leave the value alone.
    rename_connection(doc, *Uuid::parse(kIdText), "x");
    set_favorite(doc, *Uuid::parse(kIdText), true);
    delete_connection(doc, *Uuid::parse(kIdText));
    EXPECT_EQ(doc.get_heads(), heads);
    EXPECT_EQ(*doc.get(ObjId::root(), kConnectionsKey), before);

    // A write puts a map there holding only the written entry.
    write_connection(doc, record());
    EXPECT_TRUE((*doc.get(ObjId::root(), kConnectionsKey))->is_object(ObjType::Map));
    EXPECT_EQ(load_connections(doc), std::vector<SavedConnection>{record()});
  }
}

TEST_F(DocStoreTest, EditsOfAMissingEntryChangeNothing) {
  const auto heads = doc_.get_heads();
  rename_connection(doc_, *Uuid::parse(kIdText), "x");
  set_favorite(doc_, *Uuid::parse(kIdText), true);
  delete_connection(doc_, *Uuid::parse(kIdText));
  EXPECT_EQ(doc_.get_heads(), heads);
  EXPECT_EQ(*doc_.get(root(), kConnectionsKey), std::nullopt);  // not even an empty map

  write_connection(doc_, record());
  const auto written = doc_.get_heads();
  const Uuid other = Uuid::new_v4();
  rename_connection(doc_, other, "x");
  set_favorite(doc_, other, true);
  delete_connection(doc_, other);
  EXPECT_EQ(doc_.get_heads(), written);
  EXPECT_EQ(load_connections(doc_), std::vector<SavedConnection>{record()});
}

// A no-op on a replica without connections must not put a map of its own there:
// merged with a replica that has connections, that empty map could win the key.
TEST(DocStoreMerge, NoOpEditDoesNotHideAnotherReplicasConnections) {
  vdoc::ActorId low{}, high{};
  low.bytes.fill(0x01);
  high.bytes.fill(0xff);
  Document with_connections(low);
  Document idle(high);
  write_connection(with_connections, record());
  delete_connection(idle, Uuid::new_v4());
  rename_connection(idle, record().id, "x");
  ASSERT_TRUE(idle.merge(with_connections));
  EXPECT_EQ(load_connections(idle), std::vector<SavedConnection>{record()});
}

std::vector<SavedConnection> sorted_by_key(std::vector<SavedConnection> v) {
  std::sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.id.to_string() < b.id.to_string(); });
  return v;
}

// Two replicas that start empty each save a first profile; whichever way they
// merge, both profiles stay visible and both end in the same state.
TEST(DocStoreMerge, FreshReplicasKeepEachOthersFirstProfiles) {
  for (const bool first_writes_first : {true, false}) {
    Document a, b;
    const SavedConnection in_a = record("11111111-1111-4111-8111-111111111111");
    const SavedConnection in_b = record("22222222-2222-4222-8222-222222222222");
    if (first_writes_first) {
      write_connection(a, in_a);
      write_connection(b, in_b);
    } else {
      write_connections(b, {in_b});
      write_connections(a, {in_a});
    }
    ASSERT_TRUE(a.merge(b));
    ASSERT_TRUE(b.merge(a));
    const auto both = sorted_by_key({in_a, in_b});
    EXPECT_EQ(load_connections(a), both);
    EXPECT_EQ(load_connections(b), both);
    EXPECT_EQ(a.get_heads(), b.get_heads());
    EXPECT_EQ(*a.get(ObjId::root(), kConnectionsKey), *b.get(ObjId::root(), kConnectionsKey));
  }
}

// A document whose map an older build created under its own actor keeps it:
// the map is reused, and merged with a fresh replica its profiles stay shown.
TEST(DocStoreMerge, MapWrittenBeforeTheSharedChangeStillLoads) {
  Document old_doc;
  const ObjId map = *old_doc.put_object(ObjId::root(), kConnectionsKey, ObjType::Map);
  const ObjId entry = *old_doc.put_object(map, kIdText, ObjType::Map);
  ASSERT_TRUE(old_doc.splice_text(*old_doc.put_object(entry, "name", ObjType::Text), 0, 0, "Old"));
  old_doc.commit();
  auto reloaded = Document::load(old_doc.save());
  ASSERT_TRUE(reloaded);
  ASSERT_EQ(load_connections(*reloaded).size(), 1u);
  const SavedConnection added = record("33333333-3333-4333-8333-333333333333");
  write_connection(*reloaded, added);
  EXPECT_EQ(find_connections_map(*reloaded), map);
  EXPECT_EQ(load_connections(*reloaded).size(), 2u);

  Document fresh;
  write_connection(fresh, record("44444444-4444-4444-8444-444444444444"));
  ASSERT_TRUE(fresh.merge(*reloaded));
  auto ids = load_connections(fresh);
  ASSERT_GE(ids.size(), 2u);
  EXPECT_TRUE(std::ranges::any_of(ids, [](const auto& c) { return c.id == *Uuid::parse(kIdText); }));
}

// The same through two processes sharing one persisted file: each opens it
// while it does not exist yet, saves one profile, and both end up seeing both.
TEST(DocStoreMerge, TwoProcessesOnOneFileKeepBothFirstProfiles) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "remote-store-XXXXXX").string();
  ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
  const std::filesystem::path dir = tmpl;
  const SavedConnection in_child = record("55555555-5555-4555-8555-555555555555");
  const SavedConnection in_parent = record("66666666-6666-4666-8666-666666666666");
  auto parent = vesk_ui::persist::open_directory(dir);
  ASSERT_TRUE(parent);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    auto child = vesk_ui::persist::open_directory(dir);
    if (!child || !child->document().get_heads().empty()) ::_exit(2);
    write_connection(child->document(), in_child);
    ::_exit(child->save() ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  write_connection(parent->document(), in_parent);
  ASSERT_TRUE(parent->save());  // merges what the child saved first
  const auto both = sorted_by_key({in_child, in_parent});
  EXPECT_EQ(load_connections(parent->document()), both);
  auto third = vesk_ui::persist::open_directory(dir);
  ASSERT_TRUE(third);
  EXPECT_EQ(load_connections(third->document()), both);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

TEST_F(DocStoreTest, FavouriteAndRenameOfAnExistingEntry) {
  write_connection(doc_, record());
  set_favorite(doc_, record().id, false);
  rename_connection(doc_, record().id, "Renamed \u2026");
  SavedConnection expected = record();
  expected.favorite = false;
  expected.name = "Renamed \u2026";
  EXPECT_EQ(load_connections(doc_), std::vector<SavedConnection>{expected});
  delete_connection(doc_, record().id);
  EXPECT_TRUE(load_connections(doc_).empty());
  EXPECT_TRUE(connection_keys().empty());
}

class DocAliasKeyTest : public DocStoreTest, public testing::WithParamInterface<std::string> {};

// Spellings of kIdText other than the canonical one.
INSTANTIATE_TEST_SUITE_P(DocSpellings, DocAliasKeyTest,
                         testing::Values("67E55044-10B1-426F-9247-BB680E5FE0C8", "67e5504410b1426f9247bb680e5fe0c8",
                                         "{67e55044-10b1-426f-9247-bb680e5fe0c8}",
                                         "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8",
                                         "67e55044-10B1-426f-9247-bb680e5fe0c8"));

TEST_P(DocAliasKeyTest, LoadsWithItsId) {
  raw_entry(raw_map(), GetParam(), "aliased");
  const auto loaded = load_connections(doc_);
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].id, Uuid::parse(kIdText));
  EXPECT_EQ(loaded[0].name, "aliased");
}

TEST_P(DocAliasKeyTest, WriteMovesTheEntryToTheCanonicalKey) {
  raw_entry(raw_map(), GetParam(), "aliased");
  SavedConnection c = load_connections(doc_).at(0);
  c.host = "edited.example";
  write_connection(doc_, c);
  EXPECT_EQ(connection_keys(), std::vector<std::string>{std::string(kIdText)});
  EXPECT_EQ(load_connections(doc_), std::vector<SavedConnection>{c});
}

TEST_P(DocAliasKeyTest, WriteRemovesAnAliasBesideTheCanonicalEntry) {
  const ObjId map = raw_map();
  raw_entry(map, GetParam(), "aliased");
  raw_entry(map, kIdText, "canonical");
  ASSERT_EQ(load_connections(doc_).size(), 2u);
  write_connection(doc_, record());
  EXPECT_EQ(connection_keys(), std::vector<std::string>{std::string(kIdText)});
  EXPECT_EQ(load_connections(doc_), std::vector<SavedConnection>{record()});
}

TEST_P(DocAliasKeyTest, RenameFavouriteAndDeleteReachEverySpelling) {
  const ObjId map = raw_map();
  raw_entry(map, GetParam(), "aliased");
  raw_entry(map, kIdText, "canonical");
  const Uuid id = *Uuid::parse(kIdText);

  rename_connection(doc_, id, "Both");
  set_favorite(doc_, id, true);
  for (const auto& c : load_connections(doc_)) {
    EXPECT_EQ(c.name, "Both");
    EXPECT_TRUE(c.favorite);
  }
  delete_connection(doc_, id);
  EXPECT_TRUE(load_connections(doc_).empty());
  EXPECT_TRUE(connection_keys().empty());
}

TEST_P(DocAliasKeyTest, AliasAloneIsRenamedAndDeleted) {
  raw_entry(raw_map(), GetParam(), "aliased");
  const Uuid id = *Uuid::parse(kIdText);
  rename_connection(doc_, id, "Renamed");
  set_favorite(doc_, id, true);
  const auto loaded = load_connections(doc_);
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].name, "Renamed");
  EXPECT_TRUE(loaded[0].favorite);
  EXPECT_EQ(connection_keys(), std::vector<std::string>{GetParam()});  // edits do not move it
  delete_connection(doc_, id);
  EXPECT_TRUE(connection_keys().empty());
}

// Among many entries, spellings of the id are found by lookup, also one
// added after the first lookup; lookalikes (another id with the same first
// digits, an upper-case "URN:UUID:" prefix that is no UUID) stay untouched,
// and the load keeps the document's key order.
TEST_F(DocStoreTest, AliasesAreFoundAmongManyEntries) {
  const ObjId map = raw_map();
  std::vector<SavedConnection> others;
  for (int i = 0; i < 300; ++i) {
    others.push_back(record(Uuid::new_v4().to_string()));
    others.back().name = "Other " + std::to_string(i);
  }
  write_connections(doc_, others);
  const std::string lookalike = "67e55044-10b1-426f-9247-bb680e5fe0c9";
  const std::string not_a_uuid = "URN:UUID:67e55044-10b1-426f-9247-bb680e5fe0c8";
  raw_entry(map, lookalike, "lookalike");
  raw_entry(map, not_a_uuid, "not an id");
  raw_entry(map, "67E5504410B1426F9247BB680E5FE0C8", "upper plain");
  raw_entry(map, "{67E55044-10b1-426f-9247-bb680e5fe0c8}", "braced");

  std::vector<Uuid> key_order;
  for (const auto& key : connection_keys()) {
    if (auto id = Uuid::parse(key)) key_order.push_back(*id);
  }
  std::vector<Uuid> loaded_order;
  for (const auto& c : load_connections(doc_)) loaded_order.push_back(c.id);
  EXPECT_EQ(loaded_order, key_order);
  ASSERT_EQ(loaded_order.size(), 303u);

  raw_entry(map, "urn:uuid:67e55044-10b1-426F-9247-bb680e5fe0c8", "urn");  // after the first lookups
  rename_connection(doc_, *Uuid::parse(kIdText), "All three");
  int renamed = 0;
  for (const auto& c : load_connections(doc_)) renamed += c.name == "All three";
  EXPECT_EQ(renamed, 3);

  write_connection(doc_, record());
  const auto keys = connection_keys();
  EXPECT_EQ(keys.size(), 303u);
  for (const std::string& kept : {std::string(kIdText), lookalike, not_a_uuid}) {
    EXPECT_TRUE(std::binary_search(keys.begin(), keys.end(), kept)) << kept;
  }
  auto loaded = load_connections(doc_);
  EXPECT_EQ(std::count(loaded.begin(), loaded.end(), record()), 1);
  for (const auto& other : others) EXPECT_EQ(std::count(loaded.begin(), loaded.end(), other), 1);

  delete_connection(doc_, *Uuid::parse(kIdText));
  EXPECT_EQ(connection_keys().size(), 302u);
}

TEST_F(DocStoreTest, BatchWriteMatchesSingleWrites) {
  const ObjId map = raw_map();
  raw_entry(map, "67E55044-10B1-426F-9247-BB680E5FE0C8", "aliased");
  raw_entry(map, "{67e55044-10b1-426f-9247-bb680e5fe0c8}", "braced");
  std::vector<SavedConnection> records = {record(), record(Uuid::new_v4().to_string())};
  write_connections(doc_, records);
  Document single;
  for (const auto& r : records) write_connection(single, r);
  EXPECT_EQ(load_connections(doc_), load_connections(single));
  EXPECT_EQ(connection_keys().size(), 2u);

  const auto heads = doc_.get_heads();
  write_connections(doc_, records);
  EXPECT_EQ(doc_.get_heads(), heads);
}

TEST_F(DocStoreTest, PutIfChanged) {
  const ObjId map = raw_map();
  ASSERT_TRUE(doc_.put(map, "s", Scalar::str("a")));
  ASSERT_TRUE(doc_.put(map, "i", Scalar::int_(22)));
  ASSERT_TRUE(doc_.put(map, "u", Scalar::uint(22)));
  ASSERT_TRUE(doc_.put(map, "b", Scalar::boolean(true)));
  ASSERT_TRUE(doc_.put_object(map, "o", ObjType::Map));
  doc_.commit();

  EXPECT_EQ(put_str_if_changed(doc_, map, "s", "a"), false);
  EXPECT_EQ(put_int_if_changed(doc_, map, "i", 22), false);
  EXPECT_EQ(put_bool_if_changed(doc_, map, "b", true), false);
  EXPECT_EQ(doc_.pending_ops(), 0u);

  EXPECT_EQ(put_str_if_changed(doc_, map, "s", "b"), true);
  EXPECT_EQ(put_int_if_changed(doc_, map, "u", 22), true);    // unsigned 22 is not signed 22
  EXPECT_EQ(put_str_if_changed(doc_, map, "i", "22"), true);  // nor is a string
  EXPECT_EQ(put_bool_if_changed(doc_, map, "o", false), true);
  EXPECT_EQ(put_int_if_changed(doc_, map, "absent", 0), true);
  EXPECT_EQ(*at(map, "u")->as_scalar(), Scalar::int_(22));
  EXPECT_EQ(*at(map, "o")->as_scalar(), Scalar::boolean(false));

  EXPECT_EQ(read_string(doc_, map, "s"), "b");
  EXPECT_EQ(read_string(doc_, map, "i"), "22");
  EXPECT_EQ(read_string(doc_, map, "u"), "");
  EXPECT_EQ(read_string(doc_, map, "missing"), "");
  EXPECT_EQ(read_string(doc_, ObjId(99, {}), "s"), "");  // no such object
}

// A write the document refuses is an error, never a reported change, and
// writes nothing.
TEST_F(DocStoreTest, PutIfChangedReportsRefusedWrites) {
  const ObjId map = raw_map();
  ASSERT_TRUE(doc_.put(map, "s", Scalar::str("a")));
  const ObjId text = *doc_.put_object(map, "t", ObjType::Text);
  doc_.commit();
  const ObjId missing(99, {});
  struct Row {
    const char* what;
    Result<bool> put;
  };
  const Row rows[] = {
      {"string not UTF-8", put_str_if_changed(doc_, map, "s", "\xff")},
      {"overlong string", put_str_if_changed(doc_, map, "s", "\xc0\x80")},
      {"surrogate string", put_str_if_changed(doc_, map, "s", "\xed\xa0\x80")},
      {"key not UTF-8", put_str_if_changed(doc_, map, "\xfe", "a")},
      {"bool key not UTF-8", put_bool_if_changed(doc_, map, "\xfe", true)},
      {"int key not UTF-8", put_int_if_changed(doc_, map, "\xfe", 1)},
      {"string into no object", put_str_if_changed(doc_, missing, "s", "b")},
      {"bool into no object", put_bool_if_changed(doc_, missing, "b", true)},
      {"int into no object", put_int_if_changed(doc_, missing, "i", 1)},
      {"bool into a text", put_bool_if_changed(doc_, text, "b", true)},
      {"int into a text", put_int_if_changed(doc_, text, "i", 1)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_FALSE(row.put.has_value());
    EXPECT_NE(row.put, true);
  }
  EXPECT_EQ(doc_.pending_ops(), 0u);
  EXPECT_EQ(read_string(doc_, map, "s"), "a");
}

// Texts the document refuses, each in every text field of a record.
constexpr std::string_view kNotUtf8[] = {"\xff", "ok\xc3", "\xc0\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80"};

TEST_F(DocStoreTest, RefusedRecordLeavesTheDocumentAsItWas) {
  struct Field {
    const char* name;
    std::string SavedConnection::*member;
  };
  const Field fields[] = {{"name", &SavedConnection::name},
                          {"host", &SavedConnection::host},
                          {"user", &SavedConnection::user},
                          {"last_used", &SavedConnection::last_used},
                          {"group", &SavedConnection::group}};
  const SavedConnection kept = record();
  const SavedConnection fresh = record("44444444-4444-4444-8444-444444444444");
  for (bool stored_before : {false, true}) {
    Document doc;
    if (stored_before) {
      ASSERT_TRUE(write_connection(doc, kept));
    }
    doc.commit();
    const auto heads = doc.get_heads();
    const auto before = load_connections(doc);
    for (const Field& field : fields) {
      for (std::string_view bad : kNotUtf8) {
        SCOPED_TRACE(std::string(field.name) + (stored_before ? " over a stored record" : " into an empty document"));
        for (SavedConnection target : {kept, fresh}) {
          target.*field.member = std::string(bad);
          const auto written = write_connection(doc, target);
          ASSERT_FALSE(written);
          EXPECT_EQ(written.error().message, std::string(field.name) + " is not valid UTF-8");
          const auto several = write_connections(doc, {target});
          ASSERT_FALSE(several);
          EXPECT_EQ(several.error().message, written.error().message);
        }
        EXPECT_EQ(doc.pending_ops(), 0u);
        EXPECT_EQ(doc.get_heads(), heads);
        EXPECT_EQ(load_connections(doc), before);
      }
    }
    for (std::string_view bad : kNotUtf8) {
      const auto renamed = rename_connection(doc, kept.id, bad);
      ASSERT_FALSE(renamed);
      EXPECT_EQ(renamed.error().message, "name is not valid UTF-8");
      EXPECT_EQ(doc.pending_ops(), 0u);
      EXPECT_EQ(load_connections(doc), before);
    }
  }
}

TEST_F(DocStoreTest, WriteConnectionsWritesEveryRecordTheDocumentTakes) {
  SavedConnection bad = record("44444444-4444-4444-8444-444444444444");
  bad.group = "\xff";
  SavedConnection also_bad = record("55555555-5555-4555-8555-555555555555");
  also_bad.host = "\xff";
  const SavedConnection good = record();
  SavedConnection other = record("66666666-6666-4666-8666-666666666666");
  other.name = "Other";

  const auto written = write_connections(doc_, {bad, good, also_bad, other});
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message, "group is not valid UTF-8");  // the first refusal
  auto loaded = load_connections(doc_);
  std::sort(loaded.begin(), loaded.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
  EXPECT_EQ(loaded, (std::vector<SavedConnection>{other, good}));  // in id order
  EXPECT_TRUE(write_connections(doc_, {good, other}));
}

}  // namespace
}  // namespace remote::doc
