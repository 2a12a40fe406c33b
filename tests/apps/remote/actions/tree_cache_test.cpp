// The kept tree must be the tree a fresh build gives, after every kind of
// change, while building again only the connections that changed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sstream>

#include "apps/remote/src/actions/tree_cache.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "platform/vesk_actions/tree_json.hpp"

namespace remote::actions {
namespace {

using vesk_ui::doc::Document;

SavedConnection make(int n, std::string name, std::string host, ConnectionKind kind, AuthKind auth) {
  char text[37];
  std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", n);
  SavedConnection c;
  c.id = *Uuid::parse(text);
  c.name = std::move(name);
  c.host = std::move(host);
  c.port = kind == ConnectionKind::Vesk ? 0 : 22;
  c.kind = kind;
  c.auth = auth;
  c.last_used = "Never";
  return c;
}

// Everything a client sees of a resource, payloads included.
std::string describe(const Resource& r) {
  ActionArgs args;
  args.set_text("value", "v");
  std::ostringstream out;
  out << r.id << '|' << r.kind << '|' << r.title << '\n';
  for (const ActionSpec& a : r.actions) {
    out << "  " << a.id << '|' << a.label << '|' << a.description.value_or("-") << '|' << a.operation_type.value_or("-")
        << '|' << static_cast<int>(a.operation_kind) << '|' << a.is_destructive << '|'
        << (a.contract == ActionContract{} ? "default" : "set") << '|';
    for (const auto& cap : a.contract.capabilities) out << cap << ',';
    for (auto v : a.contract.settings) out << static_cast<int>(v) << ',';
    if (a.contract.unavailable) out << a.contract.unavailable->reason_code << ':' << a.contract.unavailable->message;
    for (const auto& p : a.parameters) out << '|' << p.name << ':' << p.description << ':' << p.type;
    out << '|' << a.input.hint << '|' << a.invoke(args).payload_text() << '\n';
  }
  for (const Resource& child : r.children) out << describe(child);
  return out.str();
}

std::string describe(const std::vector<Resource>& tree) {
  std::string out;
  for (const Resource& r : tree) out += describe(r);
  return out;
}

class TreeCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("REMOTE_LIVE_SESSIONS");
    for (int i = 1; i <= 6; ++i) {
      const bool device = i % 3 == 0;
      doc::write_connection(document,
                            make(i, "Machine " + std::to_string(i), device ? std::string(64, '0') : "m.example",
                                 device ? ConnectionKind::Vesk : ConnectionKind::Ssh,
                                 device ? AuthKind::DeviceIdentity : AuthKind::Password));
    }
    document.commit();
  }
  void TearDown() override { unsetenv("REMOTE_LIVE_SESSIONS"); }

  // The cache's answer must equal a fresh build; gives how many connections it built.
  std::uint64_t request_and_compare(const std::string& what) {
    const std::uint64_t before = cache.connections_built();
    const std::vector<Resource> kept = cache.connections_resource(document);
    const std::vector<Resource> fresh = connections_resource(document);
    EXPECT_EQ(describe(kept), describe(fresh)) << what;
    // Fingerprints of reused children are carried over with them: at the
    // wrong places they would give another value than a fresh tree.
    EXPECT_EQ(vesk_actions::tree_fingerprint(kept), vesk_actions::tree_fingerprint(fresh)) << what;
    return cache.connections_built() - before;
  }

  Document document;
  TreeCache cache;
};

// Records read at the document's heads stand in for reading it again; read at
// other heads they are not used.
TEST_F(TreeCacheTest, RecordsReadAtOtherHeadsAreNotUsed) {
  LoadedConnections loaded{document.get_heads(), doc::load_connections(document)};
  EXPECT_EQ(describe(cache.connections_resource(document, &loaded)), describe(connections_resource(document)));

  doc::write_connection(document, make(2, "Renamed", "m.example", ConnectionKind::Ssh, AuthKind::Password));
  document.commit();
  EXPECT_EQ(describe(cache.connections_resource(document, &loaded)), describe(connections_resource(document)))
      << "stale records";

  // At the same heads they are taken as they are.
  LoadedConnections current{document.get_heads(), doc::load_connections(document)};
  current.records[0].name = "Seen by the caller";
  doc::write_connection(document, make(5, "Renamed too", "m.example", ConnectionKind::Ssh, AuthKind::Password));
  document.commit();
  current.heads = document.get_heads();
  TreeCache fresh;
  EXPECT_NE(describe(fresh.connections_resource(document, &current)).find("Seen by the caller"), std::string::npos);
}

TEST_F(TreeCacheTest, FollowsEveryChangeAndRebuildsOnlyWhatChanged) {
  EXPECT_EQ(request_and_compare("first request"), 6u);
  EXPECT_EQ(request_and_compare("nothing changed"), 0u);

  struct Step {
    const char* what;
    std::function<void(Document&)> change;
    std::uint64_t built;
  };
  const Step steps[] = {
      {"renamed",
       [](Document& d) {
         doc::write_connection(d, make(2, "Renamed", "m.example", ConnectionKind::Ssh, AuthKind::Password));
         d.commit();
       },
       1},
      {"device host made invalid",
       [](Document& d) {
         doc::write_connection(d, make(3, "Machine 3", "nope", ConnectionKind::Vesk, AuthKind::DeviceIdentity));
         d.commit();
       },
       1},
      {"added",
       [](Document& d) {
         doc::write_connection(d, make(7, "New one", "n.example", ConnectionKind::Ssh, AuthKind::Password));
         d.commit();
       },
       1},
      {"deleted",
       [](Document& d) {
         doc::delete_connection(d, make(1, "", "", ConnectionKind::Ssh, AuthKind::Password).id);
         d.commit();
       },
       0},
      {"live sessions switched on", [](Document&) { setenv("REMOTE_LIVE_SESSIONS", "", 1); }, 6},
      {"live sessions switched off", [](Document&) { unsetenv("REMOTE_LIVE_SESSIONS"); }, 6},
      {"uncommitted change",
       [](Document& d) {
         doc::write_connection(d, make(4, "Pending", "p.example", ConnectionKind::Ssh, AuthKind::Password));
       },
       1},
  };
  for (const Step& step : steps) {
    step.change(document);
    EXPECT_EQ(request_and_compare(step.what), step.built) << step.what;
  }
  // Asking never commits the open transaction for the caller.
  EXPECT_GT(document.pending_ops(), 0u);
  document.commit();
  EXPECT_EQ(request_and_compare("committed"), 0u);
  EXPECT_EQ(request_and_compare("unchanged again"), 0u);

  // Another document with the same content is served from the kept tree too.
  Document other = document.fork();
  const std::uint64_t before = cache.connections_built();
  EXPECT_EQ(describe(cache.connections_resource(other)), describe(connections_resource(other)));
  EXPECT_EQ(cache.connections_built(), before);
}

}  // namespace
}  // namespace remote::actions
