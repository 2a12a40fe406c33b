#include "platform/vesk_ui/document/document.hpp"

#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace vesk_ui::doc;

ActorId actor_of(uint8_t b) {
  ActorId a;
  a.bytes.fill(b);
  return a;
}

// Full state as text, including every concurrent value of a key, so two
// replicas print the same only when they hold exactly the same state.
std::string dump(const Document& d, const ObjId& obj) {
  auto type = d.object_type(obj);
  if (!type) return "<missing>";
  auto value_text = [&](const Value& v) {
    if (const Scalar* s = v.as_scalar()) return s->to_string();
    return dump(d, *v.object_id());
  };
  std::string out;
  switch (*type) {
    case ObjType::Map:
      out = "{";
      for (const auto& k : d.keys(obj)) {
        out += k + ":";
        auto all = d.get_all(obj, k);
        for (const Value& v : *all) out += value_text(v) + "|";
        out += ",";
      }
      return out + "}";
    case ObjType::List: {
      out = "[";
      size_t n = *d.length(obj);
      for (size_t i = 0; i < n; ++i) out += value_text(**d.list_get(obj, i)) + ",";
      return out + "]";
    }
    case ObjType::Text: return "'" + *d.text(obj) + "'";
  }
  return "?";
}

std::string dump(const Document& d) { return dump(d, ObjId::root()); }

TEST(DocumentScalars, KindsAreDistinctAndRoundTrip) {
  const std::vector<Scalar> values = {
      Scalar::str("22"),     Scalar::int_(22),      Scalar::uint(22), Scalar::f64(22.0),   Scalar::counter(22),
      Scalar::timestamp(22), Scalar::boolean(true), Scalar::null(),   Scalar::bytes({22}),
  };
  Document d;
  for (size_t i = 0; i < values.size(); ++i) {
    ASSERT_TRUE(d.put(ObjId::root(), std::string("k").append(std::to_string(i)), values[i]));
  }
  for (size_t i = 0; i < values.size(); ++i) {
    auto got = d.get(ObjId::root(), std::string("k").append(std::to_string(i)));
    ASSERT_TRUE(got && *got);
    ASSERT_TRUE((*got)->as_scalar());
    EXPECT_EQ(*(*got)->as_scalar(), values[i]) << values[i].to_string();
    for (size_t j = 0; j < values.size(); ++j) {
      if (i != j) {
        EXPECT_FALSE(values[i] == values[j]) << values[i].to_string() << " vs " << values[j].to_string();
      }
    }
  }
  // Survives the binary encoding too.
  auto loaded = Document::load(d.save());
  ASSERT_TRUE(loaded) << loaded.error().message;
  EXPECT_EQ(dump(*loaded), dump(d));

  EXPECT_EQ(Scalar::uint(22).as_int(), std::nullopt);
  EXPECT_EQ(Scalar::int_(-5).as_int(), -5);
  EXPECT_FALSE(Scalar::f64(0.0) == Scalar::f64(-0.0));
  EXPECT_TRUE(Scalar::str("a") == Scalar::str("a"));
}

TEST(DocumentMaps, PutObjectReplacesAndKeysAreByteOrdered) {
  Document d;
  ASSERT_TRUE(d.put(ObjId::root(), "x", Scalar::str("scalar")));
  auto text = d.put_object(ObjId::root(), "x", ObjType::Text);
  ASSERT_TRUE(text);
  auto got = d.get(ObjId::root(), "x");
  ASSERT_TRUE(got && *got);
  EXPECT_TRUE((*got)->is_object(ObjType::Text));
  EXPECT_EQ((*got)->object_id(), *text);
  auto map = d.put_object(ObjId::root(), "x", ObjType::Map);
  ASSERT_TRUE(map);
  EXPECT_NE(*map, *text);
  EXPECT_TRUE((**d.get(ObjId::root(), "x")).is_object(ObjType::Map));
  EXPECT_EQ(d.get_all(ObjId::root(), "x")->size(), 1u);

  for (const char* k : {"b", "a", "B", "\xc3\xa4", "aa", "", "a\x01", "~"}) {
    ASSERT_TRUE(d.put(*map, k, Scalar::null()));
  }
  std::vector<std::string> want = {"", "B", "a", "a\x01", "aa", "b", "~", "\xc3\xa4"};
  EXPECT_EQ(d.keys(*map), want);

  ASSERT_TRUE(d.delete_key(*map, "aa"));
  EXPECT_EQ(d.get(*map, "aa")->has_value(), false);
  d.commit();
  ASSERT_TRUE(d.delete_key(*map, "never-there"));
  EXPECT_EQ(d.pending_ops(), 0u);
  EXPECT_TRUE(d.keys(ObjId::root()) == std::vector<std::string>{"x"});
}

TEST(DocumentMaps, KeysStayOrderedAsALargeMapGrowsAndShrinks) {
  Document d;
  auto m = *d.put_object(ObjId::root(), "m", ObjType::Map);
  std::mt19937 rng(7);
  std::set<std::string> want;
  for (int i = 0; i < 300; ++i) {
    std::string k = "key-" + std::to_string(rng() % 1000);
    if (rng() % 4 == 0 && !want.empty()) {
      auto victim = *std::next(want.begin(), static_cast<long>(rng() % want.size()));
      ASSERT_TRUE(d.delete_key(m, victim));
      want.erase(victim);
    } else {
      ASSERT_TRUE(d.put(m, k, Scalar::int_(i)));
      want.insert(k);
    }
    if (i % 37 == 0) {
      ASSERT_EQ(d.keys(m), std::vector<std::string>(want.begin(), want.end())) << i;
    }
  }
  EXPECT_EQ(d.keys(m), std::vector<std::string>(want.begin(), want.end()));
  for (const auto& k : want) EXPECT_TRUE(d.get(m, k)->has_value()) << k;
  EXPECT_FALSE(d.get(m, "key-absent")->has_value());
  auto loaded = Document::load(d.save());
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->keys(m), std::vector<std::string>(want.begin(), want.end()));
}

TEST(DocumentMaps, RefusesBadInputAndWrongTypes) {
  Document d;
  auto text = *d.put_object(ObjId::root(), "t", ObjType::Text);
  d.commit();
  EXPECT_FALSE(d.put(ObjId::root(), "bad\xff", Scalar::int_(1)));
  EXPECT_FALSE(d.put(ObjId::root(), "k", Scalar::str("\xed\xa0\x80")));  // surrogate
  EXPECT_FALSE(d.put(ObjId::root(), "k", Scalar::str("\xc0\xaf")));      // overlong
  EXPECT_FALSE(d.put(text, "k", Scalar::int_(1)));
  EXPECT_FALSE(d.get(text, "k"));
  EXPECT_FALSE(d.get(ObjId(99, actor_of(7)), "k"));
  EXPECT_FALSE(d.text(ObjId::root()));
  EXPECT_TRUE(d.keys(text).empty());
  EXPECT_EQ(d.pending_ops(), 0u);
}

TEST(DocumentText, SplicesCountCodePoints) {
  struct Case {
    size_t pos, del;
    const char* insert;
    const char* want;
  };
  // Start: "añ😀b" = a, ñ (2 bytes), 😀 (4 bytes), b.
  const Case cases[] = {
      {0, 0, "", "añ😀b"},     {0, 0, "→", "→añ😀b"},
      {4, 0, "!", "añ😀b!"},   {2, 1, "", "añb"},
      {1, 2, "ü", "aüb"},     {0, 4, "", ""},
      {3, 0, "€€", "añ😀€€b"}, {1, 3, "x\xf4\x8f\xbf\xbf", "ax\xf4\x8f\xbf\xbf"},
  };
  for (const Case& c : cases) {
    Document d;
    auto t = *d.put_object(ObjId::root(), "t", ObjType::Text);
    ASSERT_TRUE(d.splice_text(t, 0, 0, "añ😀b"));
    auto r = d.splice_text(t, c.pos, c.del, c.insert);
    ASSERT_TRUE(r) << r.error().message;
    EXPECT_EQ(*d.text(t), c.want) << c.pos << "," << c.del << "," << c.insert;
    auto loaded = Document::load(d.save());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(*loaded->text(t), c.want);
  }
  Document d;
  auto t = *d.put_object(ObjId::root(), "t", ObjType::Text);
  ASSERT_TRUE(d.splice_text(t, 0, 0, "añ😀b"));
  d.commit();
  EXPECT_FALSE(d.splice_text(t, 5, 0, "x"));
  EXPECT_FALSE(d.splice_text(t, 3, 2, ""));
  EXPECT_FALSE(d.splice_text(t, 0, 0, "\xf0\x9f\x98"));      // truncated sequence
  EXPECT_FALSE(d.splice_text(t, 0, 0, "\xf4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(d.splice_text(ObjId::root(), 0, 0, "x"));
  EXPECT_EQ(d.pending_ops(), 0u);
  EXPECT_EQ(*d.length(t), 4u);
}

TEST(DocumentText, DiffedSpliceTouchesOnlyTheDifference) {
  struct Case {
    const char* from;
    const char* to;
    bool changed;
  };
  const Case cases[] = {
      {"", "", false},
      {"same", "same", false},
      {"", "new", true},
      {"old", "", true},
      {"Office server", "Office server 2", true},
      {"Ofice", "Office", true},
      {"aaa", "aa", true},
      {"añ😀b", "añ😂b", true},  // differ only in the last byte of the emoji
      {"ñ", "ń", true},        // same first byte, different code point
      {"abcabc", "abc", true},
  };
  for (const Case& c : cases) {
    Document d;
    auto t = *d.put_object(ObjId::root(), "t", ObjType::Text);
    ASSERT_TRUE(d.splice_text(t, 0, 0, c.from));
    d.commit();
    size_t before = d.changes().size();
    auto r = splice_text_diffed(d, t, c.to);
    ASSERT_TRUE(r) << r.error().message;
    EXPECT_EQ(*r, c.changed) << c.from << " -> " << c.to;
    EXPECT_EQ(*d.text(t), c.to);
    d.commit();
    EXPECT_EQ(d.changes().size(), before + (c.changed ? 1 : 0));
  }
  // A one-character edit in a long name costs one operation, not a rewrite.
  Document d;
  auto t = *d.put_object(ObjId::root(), "t", ObjType::Text);
  ASSERT_TRUE(splice_text_diffed(d, t, "Production database"));
  d.commit();
  ASSERT_TRUE(splice_text_diffed(d, t, "Production Database"));
  d.commit();
  EXPECT_EQ(d.changes().back().op_count, 2u);  // one delete, one insert
  EXPECT_FALSE(splice_text_diffed(d, t, "bad\xff"));
  EXPECT_FALSE(splice_text_diffed(d, ObjId::root(), "x"));
}

TEST(DocumentLists, InsertPutDelete) {
  Document d;
  auto l = *d.put_object(ObjId::root(), "l", ObjType::List);
  ASSERT_TRUE(d.list_insert(l, 0, Scalar::int_(2)));
  ASSERT_TRUE(d.list_insert(l, 0, Scalar::int_(1)));
  ASSERT_TRUE(d.list_insert(l, 2, Scalar::int_(4)));
  ASSERT_TRUE(d.list_insert(l, 2, Scalar::int_(3)));
  auto inner = d.list_insert_object(l, 4, ObjType::Map);
  ASSERT_TRUE(inner);
  ASSERT_TRUE(d.put(*inner, "k", Scalar::boolean(true)));
  EXPECT_EQ(dump(d, l), "[int 1,int 2,int 3,int 4,{k:true|,},]");
  ASSERT_TRUE(d.list_put(l, 1, Scalar::str("two")));
  ASSERT_TRUE(d.list_delete(l, 0));
  EXPECT_EQ(dump(d, l), "[str \"two\",int 3,int 4,{k:true|,},]");
  EXPECT_FALSE(d.list_insert(l, 6, Scalar::null()));
  EXPECT_FALSE(d.list_put(l, 4, Scalar::null()));
  EXPECT_FALSE(d.list_delete(l, 4));
  EXPECT_EQ(d.list_get(l, 4)->has_value(), false);
  auto loaded = Document::load(d.save());
  ASSERT_TRUE(loaded);
  EXPECT_EQ(dump(*loaded), dump(d));
}

TEST(DocumentHistory, TransactionsBecomeChanges) {
  Document d(actor_of(1));
  EXPECT_TRUE(d.get_heads().empty());
  d.commit("nothing");
  EXPECT_TRUE(d.changes().empty());

  ASSERT_TRUE(d.put(ObjId::root(), "a", Scalar::int_(1)));
  ASSERT_TRUE(d.put(ObjId::root(), "b", Scalar::int_(2)));
  d.commit("first", 1700000000);
  auto heads1 = d.get_heads();
  ASSERT_TRUE(d.put(ObjId::root(), "a", Scalar::int_(3)));
  auto heads2 = d.get_heads();  // closes the transaction

  auto changes = d.changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].message, "first");
  EXPECT_EQ(changes[0].time, 1700000000);
  EXPECT_EQ(changes[0].seq, 1u);
  EXPECT_EQ(changes[0].op_count, 2u);
  EXPECT_TRUE(changes[0].deps.empty());
  EXPECT_EQ(changes[1].seq, 2u);
  EXPECT_EQ(changes[1].deps, heads1);
  EXPECT_EQ(heads2, std::vector<ChangeHash>{changes[1].hash});
  EXPECT_EQ(changes[1].actor, actor_of(1));
  EXPECT_EQ(d.actor_bytes(), std::vector<uint8_t>(16, 1));

  // The hash is SHA-256 of the encoded change.
  auto encoded = d.encoded_changes();
  ChangeHash h;
  crypto_hash_sha256(h.bytes.data(), encoded[1].data(), encoded[1].size());
  EXPECT_EQ(h, changes[1].hash);

  EXPECT_EQ(d.encoded_changes_since(heads1).size(), 1u);
  EXPECT_EQ(d.encoded_changes_since(heads2).size(), 0u);
  EXPECT_EQ(d.encoded_changes_since({}).size(), 2u);
}

TEST(DocumentMerge, ConcurrentMapWritesResolveToHighestOpId) {
  Document base(actor_of(1));
  ASSERT_TRUE(base.put(ObjId::root(), "k", Scalar::str("base")));
  base.commit();
  Document a = base.fork();
  Document b = base.fork();
  a.set_actor(actor_of(0x10));
  b.set_actor(actor_of(0x20));
  ASSERT_TRUE(a.put(ObjId::root(), "k", Scalar::str("from a")));
  ASSERT_TRUE(b.put(ObjId::root(), "k", Scalar::str("from b")));
  ASSERT_TRUE(a.merge(b));
  ASSERT_TRUE(b.merge(a));
  // Same counter, so the larger actor id wins, on both sides.
  EXPECT_EQ(**a.get(ObjId::root(), "k"), Value(Scalar::str("from b")));
  EXPECT_EQ(dump(a), dump(b));
  EXPECT_EQ(a.get_all(ObjId::root(), "k")->size(), 2u);
  EXPECT_EQ(a.get_heads(), b.get_heads());
  EXPECT_EQ(a.get_heads().size(), 2u);

  // A later write sees both and replaces both.
  ASSERT_TRUE(a.put(ObjId::root(), "k", Scalar::str("settled")));
  ASSERT_TRUE(b.merge(a));
  EXPECT_EQ(b.get_all(ObjId::root(), "k")->size(), 1u);
  EXPECT_EQ(b.get_heads().size(), 1u);

  // A concurrent delete does not remove a concurrent write.
  Document c = b.fork();
  ASSERT_TRUE(b.delete_key(ObjId::root(), "k"));
  ASSERT_TRUE(c.put(ObjId::root(), "k", Scalar::str("kept")));
  ASSERT_TRUE(b.merge(c));
  EXPECT_EQ(**b.get(ObjId::root(), "k"), Value(Scalar::str("kept")));
}

TEST(DocumentMerge, ConcurrentSplicesBothSurvive) {
  Document a(actor_of(1));
  auto t = *a.put_object(ObjId::root(), "t", ObjType::Text);
  ASSERT_TRUE(a.splice_text(t, 0, 0, "Hello world"));
  a.commit();
  Document b = a.fork();
  ASSERT_TRUE(a.splice_text(t, 5, 0, ","));
  ASSERT_TRUE(a.splice_text(t, 12, 0, "!"));
  ASSERT_TRUE(b.splice_text(t, 6, 5, "there"));
  ASSERT_TRUE(b.splice_text(t, 0, 0, ">> "));
  ASSERT_TRUE(a.merge(b));
  ASSERT_TRUE(b.merge(a));
  EXPECT_EQ(*a.text(t), ">> Hello, there!");
  EXPECT_EQ(*b.text(t), *a.text(t));
  // Concurrent inserts at the same place keep each run together.
  Document c = a.fork();
  ASSERT_TRUE(a.splice_text(t, 3, 0, "AAA"));
  ASSERT_TRUE(c.splice_text(t, 3, 0, "ccc"));
  ASSERT_TRUE(a.merge(c));
  std::string s = *a.text(t);
  EXPECT_TRUE(s == ">> AAAcccHello, there!" || s == ">> cccAAAHello, there!") << s;
}

TEST(DocumentMerge, ApplyChangesInAnyOrderAndRefuseGaps) {
  Document a(actor_of(1));
  auto t = *a.put_object(ObjId::root(), "t", ObjType::Text);
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(a.splice_text(t, 0, 0, std::to_string(i)));
    a.commit();
  }
  auto changes = a.encoded_changes();
  std::reverse(changes.begin(), changes.end());
  Document b;
  ASSERT_TRUE(b.apply_changes(changes));
  EXPECT_EQ(*b.text(t), "43210");
  ASSERT_TRUE(b.apply_changes(changes));  // duplicates are ignored
  EXPECT_EQ(b.changes().size(), 5u);

  Document c;
  std::vector<std::vector<uint8_t>> gap(changes.begin(), changes.begin() + 3);
  auto r = c.apply_changes(gap);
  EXPECT_FALSE(r);
  EXPECT_NE(r.error().message.find("missing"), std::string::npos);
}

TEST(DocumentMerge, MalformedChangesAreRefused) {
  Document a(actor_of(1));
  ASSERT_TRUE(a.put(ObjId::root(), "key", Scalar::str("abc")));
  a.commit();
  auto good = a.encoded_changes()[0];
  auto with = [&](auto edit) {
    auto bytes = good;
    edit(bytes);
    Document b;
    auto r = b.apply_changes(std::vector<std::vector<uint8_t>>{bytes});
    bool ok = r.has_value();
    EXPECT_EQ(ok, b.changes().size() == 1);  // all or nothing
    return ok;
  };
  EXPECT_TRUE(with([](auto&) {}));
  EXPECT_FALSE(with([](auto& b) {
    auto it = std::search(b.begin(), b.end(), std::begin("abc"), std::end("abc") - 1);
    *it = 0xff;  // invalid UTF-8 in a string value
  }));
  EXPECT_FALSE(with([](auto& b) { b.pop_back(); }));
  EXPECT_FALSE(with([](auto& b) { b.push_back(0); }));
  EXPECT_FALSE(with([](auto& b) { b[0] = 'X'; }));
  // Every truncation and every single-byte change: never a crash.
  for (size_t i = 0; i < good.size(); ++i) {
    with([&](auto& b) { b.resize(i); });
    for (uint8_t v : {0x00, 0x01, 0x7f, 0x80, 0xff}) with([&](auto& b) { b[i] = v; });
  }
}

TEST(DocumentPersistence, SaveLoadRoundTripAndDamage) {
  Document d(actor_of(3));
  auto conns = *d.put_object(ObjId::root(), "connections", ObjType::Map);
  for (int i = 0; i < 20; ++i) {
    auto entry = *d.put_object(conns, "id-" + std::to_string(i), ObjType::Map);
    auto name = *d.put_object(entry, "name", ObjType::Text);
    ASSERT_TRUE(d.splice_text(name, 0, 0, "Server ñ " + std::to_string(i)));
    ASSERT_TRUE(d.put(entry, "port", Scalar::int_(22 + i)));
    d.commit();
  }
  ASSERT_TRUE(d.delete_key(conns, "id-3"));
  auto bytes = d.save();
  auto loaded = Document::load(bytes);
  ASSERT_TRUE(loaded) << loaded.error().message;
  EXPECT_EQ(dump(*loaded), dump(d));
  EXPECT_EQ(loaded->get_heads(), d.get_heads());
  EXPECT_NE(loaded->actor(), d.actor());
  // The loaded copy keeps editing and merging with the original.
  ASSERT_TRUE(loaded->put(conns, "id-0", Scalar::null()));
  ASSERT_TRUE(d.merge(*loaded));
  EXPECT_EQ(dump(*loaded), dump(d));

  EXPECT_FALSE(Document::load({}));
  // Counts that claim more than the file holds are refused before anything
  // is allocated for them.
  {
    std::vector<uint8_t> huge = {'V', 'K', 'D', 'O', 'C', 0, 1, 0};
    for (int i = 0; i < 8; ++i) huge.push_back(0xff);
    huge.push_back(0x3f);
    huge.resize(huge.size() + 32);
    crypto_generichash(huge.data() + huge.size() - 32, 32, huge.data(), huge.size() - 32, nullptr, 0);
    auto r = Document::load(huge);
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().message.find("malformed"), std::string::npos) << r.error().message;
  }
  for (size_t cut : {size_t{1}, size_t{8}, bytes.size() / 2, bytes.size() - 1}) {
    EXPECT_FALSE(Document::load(std::span(bytes).first(cut))) << cut;
  }
  for (size_t i = 0; i < bytes.size(); i += 7) {
    auto damaged = bytes;
    damaged[i] ^= 0x20;
    EXPECT_FALSE(Document::load(damaged)) << i;
  }
  // Damage behind a valid checksum (a file rewritten by something else) is
  // still refused or loaded, never a crash.
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    auto damaged = bytes;
    damaged[8 + rng() % (damaged.size() - 40)] = static_cast<uint8_t>(rng());
    crypto_generichash(damaged.data() + damaged.size() - 32, 32, damaged.data(), damaged.size() - 32, nullptr, 0);
    (void)Document::load(damaged);
  }
}

TEST(DocumentMerge, ForkKeepsHistoryWithNewActor) {
  Document a;
  ASSERT_TRUE(a.put(ObjId::root(), "k", Scalar::int_(1)));
  Document b = a.fork();
  EXPECT_NE(a.actor(), b.actor());
  EXPECT_EQ(a.get_heads(), b.get_heads());
  ASSERT_TRUE(b.put(ObjId::root(), "j", Scalar::int_(2)));
  EXPECT_EQ(a.keys(ObjId::root()).size(), 1u);
  ASSERT_TRUE(a.merge(b));
  EXPECT_EQ(dump(a), dump(b));
  ASSERT_TRUE(a.merge(a));
}

// Reading a map in place must give exactly what keys() and get() give, on a
// small map (sorted on the spot), a large one (cached order), after deletes,
// with concurrent values, and after a load.
TEST(DocumentMaps, ForEachEntryMatchesKeysAndGet) {
  auto check = [](const Document& d, const ObjId& map) {
    std::vector<std::string> seen;
    auto ok = d.for_each_entry(map, [&](const EntryView& e) {
      seen.emplace_back(e.key);
      auto v = d.get(map, e.key);
      ASSERT_TRUE(v && *v);
      if (e.scalar != nullptr) {
        ASSERT_NE((*v)->as_scalar(), nullptr) << e.key;
        EXPECT_EQ(*e.scalar, *(*v)->as_scalar()) << e.key;
      } else {
        ASSERT_NE((*v)->as_object(), nullptr) << e.key;
        EXPECT_EQ(e.object, *(*v)->as_object()) << e.key;
        EXPECT_TRUE(e.is_object(e.object.type));
      }
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(seen, d.keys(map));
    EXPECT_EQ(d.map_size(map), seen.size());
  };
  Document a(actor_of(1));
  auto small = *a.put_object(ObjId::root(), "small", ObjType::Map);
  auto large = *a.put_object(ObjId::root(), "large", ObjType::Map);
  for (const char* k : {"port", "name", "Zed", "\xC3\xA9t\xC3\xA9", "", "host", "a", "presence"}) {
    ASSERT_TRUE(a.put(small, k, Scalar::str(k)));
  }
  ASSERT_TRUE(a.put_object(small, "obj", ObjType::Text));
  ASSERT_TRUE(a.delete_key(small, "host"));
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(a.put(large, "k" + std::to_string((i * 7919) % 1000), Scalar::int_(i)));
  }
  check(a, small);
  check(a, large);
  for (int i = 0; i < 300; i += 3) ASSERT_TRUE(a.delete_key(large, "k" + std::to_string((i * 7919) % 1000)));
  ASSERT_TRUE(a.put_object(large, "k0000", ObjType::List));  // added after the order was cached
  check(a, large);
  EXPECT_EQ(a.map_size(large), 201u);

  // Concurrent puts leave one visible value; a concurrent put and delete keep the key.
  Document b = a.fork();
  ASSERT_TRUE(a.put(small, "port", Scalar::int_(1)));
  ASSERT_TRUE(b.put(small, "port", Scalar::int_(2)));
  ASSERT_TRUE(a.delete_key(small, "name"));
  ASSERT_TRUE(b.put(small, "name", Scalar::str("kept")));
  ASSERT_TRUE(a.merge(b));
  check(a, small);
  auto loaded = Document::load(a.save());
  ASSERT_TRUE(loaded);
  check(*loaded, small);
  check(*loaded, large);

  EXPECT_FALSE(a.for_each_entry(*a.get(small, "obj").value()->object_id(), [](const EntryView&) {}));
  EXPECT_EQ(a.map_size(ObjId(99, actor_of(9))), 0u);
}

TEST(DocumentMaps, KeysIgnoringCase) {
  Document d;
  auto m = *d.put_object(ObjId::root(), "m", ObjType::Map);
  for (const char* k : {"abc", "ABC", "aBc", "abd", "ab", "abcd", "\xC3\x89", "\xC3\xA9", "a-c"}) {
    ASSERT_TRUE(d.put(m, k, Scalar::null()));
  }
  using V = std::vector<std::string>;
  EXPECT_EQ(d.keys_ignoring_case(m, "Abc"), (V{"ABC", "aBc", "abc"}));
  EXPECT_EQ(d.keys_ignoring_case(m, "ABD"), V{"abd"});
  EXPECT_EQ(d.keys_ignoring_case(m, "\xC3\xA9"), V{"\xC3\xA9"});  // only ASCII letters fold
  EXPECT_EQ(d.keys_ignoring_case(m, "a-C"), V{"a-c"});
  EXPECT_TRUE(d.keys_ignoring_case(m, "abe").empty());
  EXPECT_TRUE(d.keys_ignoring_case(ObjId(99, {}), "abc").empty());

  // The index built by the first lookup follows later puts and deletes, also
  // as the map grows far past its first size.
  ASSERT_TRUE(d.delete_key(m, "ABC"));
  for (int i = 0; i < 2000; ++i) ASSERT_TRUE(d.put(m, "Key-" + std::to_string(i), Scalar::int_(i)));
  ASSERT_TRUE(d.put(m, "ABc", Scalar::null()));
  EXPECT_EQ(d.keys_ignoring_case(m, "abc"), (V{"ABc", "aBc", "abc"}));
  EXPECT_EQ(d.keys_ignoring_case(m, "KEY-1999"), V{"Key-1999"});
  ASSERT_TRUE(d.put(m, "ABC", Scalar::null()));  // a deleted key comes back
  EXPECT_EQ(d.keys_ignoring_case(m, "abc").size(), 4u);
  auto loaded = Document::load(d.save());
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->keys_ignoring_case(m, "abc"), (V{"ABC", "ABc", "aBc", "abc"}));
}

// Reads remember the last object looked up; a fork must not share that with
// the document it was made from.
TEST(DocumentMerge, ForkAfterReadsEditsOnlyTheFork) {
  Document a(actor_of(4));
  auto t = *a.put_object(ObjId::root(), "t", ObjType::Text);
  ASSERT_TRUE(a.splice_text(t, 0, 0, "abc"));
  auto loaded = Document::load(a.save());
  ASSERT_TRUE(loaded);
  EXPECT_EQ(*loaded->text(t), "abc");
  Document fork = loaded->fork();
  ASSERT_TRUE(fork.splice_text(t, 3, 0, "d"));
  EXPECT_EQ(*fork.text(t), "abcd");
  EXPECT_EQ(*loaded->text(t), "abc");
  ASSERT_TRUE(loaded->splice_text(t, 0, 1, ""));
  EXPECT_EQ(*loaded->text(t), "bc");
  EXPECT_EQ(*fork.text(t), "abcd");
}

// A file written by the first version of the format, before the loader was
// reworked: two actors, concurrent edits of text, map and list, a deleted
// key, every scalar kind. It must still load to the same state and heads,
// and saving it again must give the same bytes.
TEST(DocumentPersistence, LoadsAFileOfTheFirstFormat) {
  static const uint8_t kFile[] = {
      0x56, 0x4b, 0x44, 0x4f, 0x43, 0x00, 0x01, 0x00, 0x05, 0xaf, 0x01, 0x56, 0x4b, 0x43, 0x31, 0x01, 0xa1, 0xa1, 0xa1,
      0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0x01, 0x01, 0x80, 0xc4, 0x9f, 0xd5,
      0x0c, 0x05, 0x66, 0x69, 0x72, 0x73, 0x74, 0x00, 0x07, 0x01, 0x00, 0x0b, 0x63, 0x6f, 0x6e, 0x6e, 0x65, 0x63, 0x74,
      0x69, 0x6f, 0x6e, 0x73, 0x00, 0x10, 0x01, 0x01, 0x00, 0x24, 0x36, 0x37, 0x65, 0x35, 0x35, 0x30, 0x34, 0x34, 0x2d,
      0x31, 0x30, 0x62, 0x31, 0x2d, 0x34, 0x32, 0x36, 0x66, 0x2d, 0x39, 0x32, 0x34, 0x37, 0x2d, 0x62, 0x62, 0x36, 0x38,
      0x30, 0x65, 0x35, 0x66, 0x65, 0x30, 0x63, 0x38, 0x00, 0x10, 0x01, 0x02, 0x00, 0x04, 0x6e, 0x61, 0x6d, 0x65, 0x00,
      0x12, 0x03, 0x03, 0x00, 0x00, 0x0c, 0x42, 0x75, 0x69, 0x6c, 0x64, 0x20, 0x73, 0x65, 0x72, 0x76, 0x65, 0x72, 0x01,
      0x02, 0x00, 0x04, 0x68, 0x6f, 0x73, 0x74, 0x00, 0x00, 0x11, 0x62, 0x75, 0x69, 0x6c, 0x64, 0x2e, 0x65, 0x78, 0x61,
      0x6d, 0x70, 0x6c, 0x65, 0x2e, 0x6e, 0x65, 0x74, 0x01, 0x02, 0x00, 0x04, 0x70, 0x6f, 0x72, 0x74, 0x00, 0x01, 0x2c,
      0x01, 0x02, 0x00, 0x08, 0x66, 0x61, 0x76, 0x6f, 0x72, 0x69, 0x74, 0x65, 0x00, 0x06, 0x01, 0xe2, 0x01, 0x56, 0x4b,
      0x43, 0x31, 0x01, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1,
      0x02, 0x13, 0x82, 0xc4, 0x9f, 0xd5, 0x0c, 0x06, 0x73, 0x65, 0x63, 0x6f, 0x6e, 0x64, 0x01, 0x6f, 0x6d, 0x39, 0x9a,
      0xcd, 0xbb, 0x2a, 0x63, 0x33, 0xb4, 0xd6, 0x19, 0x9b, 0x71, 0x0c, 0xe9, 0x60, 0xe6, 0x3b, 0x22, 0x08, 0x99, 0xf3,
      0xb6, 0x7c, 0x12, 0x19, 0xf1, 0x89, 0x0c, 0x84, 0xf4, 0x0c, 0x01, 0x01, 0x00, 0x20, 0x36, 0x37, 0x45, 0x35, 0x35,
      0x30, 0x34, 0x34, 0x31, 0x30, 0x42, 0x31, 0x34, 0x32, 0x36, 0x46, 0x39, 0x32, 0x34, 0x37, 0x42, 0x42, 0x36, 0x38,
      0x30, 0x45, 0x35, 0x46, 0x45, 0x30, 0x43, 0x39, 0x00, 0x10, 0x01, 0x13, 0x00, 0x04, 0x70, 0x6f, 0x72, 0x74, 0x00,
      0x02, 0x8c, 0x2e, 0x01, 0x13, 0x00, 0x05, 0x72, 0x61, 0x74, 0x69, 0x6f, 0x00, 0x03, 0x66, 0x66, 0x66, 0x66, 0x66,
      0xe6, 0x36, 0x40, 0x01, 0x13, 0x00, 0x04, 0x73, 0x65, 0x65, 0x6e, 0x00, 0x05, 0x09, 0x01, 0x13, 0x00, 0x04, 0x68,
      0x69, 0x74, 0x73, 0x00, 0x04, 0x0e, 0x01, 0x13, 0x00, 0x07, 0x6e, 0x6f, 0x74, 0x68, 0x69, 0x6e, 0x67, 0x00, 0x07,
      0x01, 0x13, 0x00, 0x04, 0x62, 0x6c, 0x6f, 0x62, 0x00, 0x08, 0x03, 0x00, 0x01, 0xff, 0x01, 0x00, 0x05, 0x6f, 0x72,
      0x64, 0x65, 0x72, 0x00, 0x11, 0x05, 0x1a, 0x00, 0x00, 0x00, 0x01, 0x78, 0x05, 0x1a, 0x00, 0x1b, 0x00, 0x01, 0x04,
      0x05, 0x1a, 0x00, 0x1c, 0x00, 0x10, 0x01, 0x1d, 0x00, 0x01, 0x6b, 0x00, 0x00, 0x01, 0x76, 0x73, 0x56, 0x4b, 0x43,
      0x31, 0x01, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0x03,
      0x1f, 0x84, 0xc4, 0x9f, 0xd5, 0x0c, 0x06, 0x66, 0x72, 0x6f, 0x6d, 0x20, 0x61, 0x01, 0xf3, 0x0f, 0xc4, 0x55, 0x7b,
      0x89, 0xd0, 0x00, 0x13, 0x4d, 0x9a, 0x07, 0x83, 0x89, 0xa5, 0x55, 0xcd, 0x5b, 0x57, 0x7b, 0xf5, 0xf9, 0x18, 0x9f,
      0xd0, 0xeb, 0xb9, 0x20, 0x68, 0xc5, 0x5a, 0xf9, 0x03, 0x03, 0x03, 0x00, 0x0f, 0x00, 0x06, 0x20, 0xc3, 0xa9, 0x74,
      0xc3, 0xa9, 0x01, 0x02, 0x00, 0x04, 0x68, 0x6f, 0x73, 0x74, 0x01, 0x10, 0x00, 0x00, 0x0d, 0x61, 0x2e, 0x65, 0x78,
      0x61, 0x6d, 0x70, 0x6c, 0x65, 0x2e, 0x6e, 0x65, 0x74, 0x07, 0x1a, 0x00, 0x1b, 0x00, 0x01, 0x1b, 0x00, 0xc7, 0x01,
      0x56, 0x4b, 0x43, 0x31, 0x02, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2,
      0xb2, 0xb2, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0x01,
      0x1f, 0x86, 0xc4, 0x9f, 0xd5, 0x0c, 0x06, 0x66, 0x72, 0x6f, 0x6d, 0x20, 0x62, 0x01, 0xf3, 0x0f, 0xc4, 0x55, 0x7b,
      0x89, 0xd0, 0x00, 0x13, 0x4d, 0x9a, 0x07, 0x83, 0x89, 0xa5, 0x55, 0xcd, 0x5b, 0x57, 0x7b, 0xf5, 0xf9, 0x18, 0x9f,
      0xd0, 0xeb, 0xb9, 0x20, 0x68, 0xc5, 0x5a, 0xf9, 0x06, 0x04, 0x03, 0x01, 0x04, 0x01, 0x01, 0x03, 0x03, 0x01, 0x00,
      0x06, 0x4d, 0x61, 0x69, 0x6e, 0x20, 0x62, 0x01, 0x02, 0x01, 0x04, 0x68, 0x6f, 0x73, 0x74, 0x01, 0x10, 0x01, 0x00,
      0x0d, 0x62, 0x2e, 0x65, 0x78, 0x61, 0x6d, 0x70, 0x6c, 0x65, 0x2e, 0x6e, 0x65, 0x74, 0x06, 0x1a, 0x01, 0x1c, 0x01,
      0x01, 0x1c, 0x01, 0x00, 0x03, 0x74, 0x77, 0x6f, 0x02, 0x01, 0x01, 0x20, 0x36, 0x37, 0x45, 0x35, 0x35, 0x30, 0x34,
      0x34, 0x31, 0x30, 0x42, 0x31, 0x34, 0x32, 0x36, 0x46, 0x39, 0x32, 0x34, 0x37, 0x42, 0x42, 0x36, 0x38, 0x30, 0x45,
      0x35, 0x46, 0x45, 0x30, 0x43, 0x39, 0x01, 0x13, 0x01, 0x01, 0x00, 0x08, 0xf0, 0x9f, 0x98, 0x80, 0x20, 0x6b, 0x65,
      0x79, 0x00, 0x00, 0x05, 0x65, 0x6d, 0x6f, 0x6a, 0x69, 0x80, 0x01, 0x56, 0x4b, 0x43, 0x31, 0x02, 0xa1, 0xa1, 0xa1,
      0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xa1, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2,
      0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0xb2, 0x04, 0x2a, 0x88, 0xc4, 0x9f, 0xd5, 0x0c, 0x0b, 0x61,
      0x66, 0x74, 0x65, 0x72, 0x20, 0x6d, 0x65, 0x72, 0x67, 0x65, 0x02, 0x5e, 0xae, 0x92, 0x4f, 0xca, 0x6b, 0xd8, 0x2f,
      0xbc, 0x1a, 0xda, 0x02, 0x0b, 0x36, 0xa5, 0x2d, 0xc8, 0x1c, 0xd7, 0xac, 0x84, 0x7b, 0xa7, 0xf0, 0x76, 0x29, 0x87,
      0x65, 0xbe, 0xf0, 0x13, 0x9f, 0xf6, 0x6e, 0x07, 0x7d, 0xbc, 0x6c, 0x60, 0x74, 0xd0, 0x8f, 0x8d, 0x3c, 0x43, 0x20,
      0xe2, 0xfb, 0xb2, 0x09, 0xc6, 0x6b, 0x35, 0xce, 0x72, 0x0d, 0x58, 0x39, 0x90, 0x33, 0xdc, 0x5a, 0x9d, 0xa0, 0x01,
      0x04, 0x03, 0x00, 0x20, 0x01, 0x04, 0x46, 0xeb, 0x99, 0xd8, 0xea, 0xe3, 0x21, 0x72, 0x58, 0xf7, 0xa6, 0x1a, 0x76,
      0x80, 0x67, 0x7d, 0x08, 0x5f, 0x12, 0xe7, 0x7d, 0xf5, 0x6a, 0x8e, 0x07, 0xe2, 0x9e, 0xf9, 0x1c, 0x67, 0x5f, 0x39,
  };
  auto loaded = Document::load(kFile);
  ASSERT_TRUE(loaded) << loaded.error().message;
  EXPECT_EQ(dump(*loaded),
            "{connections:{67e55044-10b1-426f-9247-bb680e5fe0c8:{favorite:true|,"
            "host:str \"b.example.net\"|str \"a.example.net\"|,name:' build server \xC3\xA9t\xC3\xA9'|,"
            "port:int 22|,}|,}|,order:[str \"two\",{k:str \"v\"|,},]|,\xF0\x9F\x98\x80 key:str \"emoji\"|,}");
  auto heads = loaded->get_heads();
  ASSERT_EQ(heads.size(), 1u);
  EXPECT_EQ(heads[0].to_hex(), "74488c7aabe3a8e658ff807eb9084bc5dec217597ebd57d41a951a83815e9b63");
  EXPECT_EQ(loaded->changes().size(), 5u);
  EXPECT_EQ(loaded->save(), std::vector<uint8_t>(std::begin(kFile), std::end(kFile)));
  auto owned = Document::load_owned(std::vector<uint8_t>(std::begin(kFile), std::end(kFile)));
  ASSERT_TRUE(owned) << owned.error().message;
  EXPECT_EQ(dump(*owned), dump(*loaded));
  EXPECT_EQ(owned->save(), loaded->save());
  std::vector<uint8_t> damaged(std::begin(kFile), std::end(kFile));
  damaged[100] ^= 1;
  EXPECT_FALSE(Document::load_owned(std::move(damaged)));
}

// Random edits on several replicas with random pairwise merges; after a full
// exchange every replica holds the same state.
class Convergence : public ::testing::TestWithParam<uint32_t> {};

TEST_P(Convergence, AllReplicasAgree) {
  std::mt19937 rng(GetParam());
  constexpr int kReplicas = 4;
  std::vector<Document> docs;
  Document seed(actor_of(0xAA));
  auto text = *seed.put_object(ObjId::root(), "text", ObjType::Text);
  auto list = *seed.put_object(ObjId::root(), "list", ObjType::List);
  auto map = *seed.put_object(ObjId::root(), "map", ObjType::Map);
  ASSERT_TRUE(seed.splice_text(text, 0, 0, "seed ü"));
  seed.commit();
  for (int i = 0; i < kReplicas; ++i) {
    docs.push_back(seed.fork());
    // Small actor ids collide on counters often, which exercises tie breaks.
    docs.back().set_actor(actor_of(static_cast<uint8_t>(i + 1)));
  }
  const std::vector<std::string> keys = {"a", "b", "c", "d"};
  const std::vector<std::string> pieces = {"x", "ñ", "😀", "hello", "", "ab"};
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  for (int step = 0; step < 400; ++step) {
    Document& d = docs[pick(kReplicas)];
    switch (pick(8)) {
      case 0: ASSERT_TRUE(d.put(map, keys[pick(keys.size())], Scalar::int_(static_cast<int64_t>(pick(100))))); break;
      case 1: ASSERT_TRUE(d.delete_key(map, keys[pick(keys.size())])); break;
      case 2: {
        auto sub = d.put_object(map, keys[pick(keys.size())], ObjType::Text);
        ASSERT_TRUE(sub);
        ASSERT_TRUE(d.splice_text(*sub, 0, 0, pieces[pick(pieces.size())]));
        break;
      }
      case 3:
      case 4: {
        size_t len = *d.length(text);
        size_t pos = pick(len + 1);
        size_t del = pick(std::min<size_t>(len - pos, 3) + 1);
        ASSERT_TRUE(d.splice_text(text, pos, del, pieces[pick(pieces.size())]));
        break;
      }
      case 5: {
        size_t len = *d.length(list);
        ASSERT_TRUE(d.list_insert(list, pick(len + 1), Scalar::uint(pick(10))));
        break;
      }
      case 6: {
        size_t len = *d.length(list);
        if (len == 0) break;
        if (pick(2)) {
          ASSERT_TRUE(d.list_delete(list, pick(len)));
        } else {
          ASSERT_TRUE(d.list_put(list, pick(len), Scalar::str(pieces[pick(pieces.size())])));
        }
        break;
      }
      case 7: {
        size_t i = pick(kReplicas), j = pick(kReplicas);
        ASSERT_TRUE(docs[i].merge(docs[j]));
        break;
      }
    }
    if (pick(3) == 0) d.commit();
  }
  // Exchange everything in a random order of pairs until all agree.
  std::vector<int> order(kReplicas);
  for (int i = 0; i < kReplicas; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  for (int i = 1; i < kReplicas; ++i) ASSERT_TRUE(docs[order[0]].merge(docs[order[i]]));
  std::shuffle(order.begin() + 1, order.end(), rng);
  for (int i = 1; i < kReplicas; ++i) ASSERT_TRUE(docs[order[i]].merge(docs[order[0]]));
  const std::string want = dump(docs[0]);
  for (int i = 1; i < kReplicas; ++i) {
    EXPECT_EQ(dump(docs[i]), want) << "replica " << i;
    EXPECT_EQ(docs[i].get_heads(), docs[0].get_heads());
  }
  // A fresh replica fed the changes in reverse order agrees as well.
  auto all = docs[0].encoded_changes();
  std::reverse(all.begin(), all.end());
  Document fresh;
  ASSERT_TRUE(fresh.apply_changes(all));
  EXPECT_EQ(dump(fresh), want);
  auto loaded = Document::load(docs[1].save());
  ASSERT_TRUE(loaded);
  EXPECT_EQ(dump(*loaded), want);
}

INSTANTIATE_TEST_SUITE_P(Seeds, Convergence, ::testing::Values(1u, 2u, 3u, 17u, 2024u, 99991u));

TEST(DocumentText, LongAppendsStayCorrect) {
  // Past the size where sequences switch to an id index.
  Document a;
  auto t = *a.put_object(ObjId::root(), "t", ObjType::Text);
  std::vector<std::string> cps;  // one code point per piece
  for (int i = 0; i < 300; ++i) {
    std::string piece = (i % 3 == 0) ? "é" : std::to_string(i % 10);
    ASSERT_TRUE(a.splice_text(t, *a.length(t), 0, piece));
    cps.push_back(piece);
    if (i % 50 == 0) a.commit();
  }
  ASSERT_TRUE(a.splice_text(t, 100, 50, "-"));
  cps.erase(cps.begin() + 100, cps.begin() + 150);
  cps.insert(cps.begin() + 100, "-");
  std::string want;
  for (const auto& c : cps) want += c;
  EXPECT_EQ(*a.text(t), want);
  auto b = Document::load(a.save());
  ASSERT_TRUE(b);
  EXPECT_EQ(*b->text(t), want);
  ASSERT_TRUE(b->splice_text(t, 10, 0, "X"));
  ASSERT_TRUE(a.merge(*b));
  EXPECT_EQ(*a.text(t), *b->text(t));
}

}  // namespace
