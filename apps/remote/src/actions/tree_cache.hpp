// The saved-connection part of the published tree, kept between requests.
// Building it reloads every connection from the document and encodes the
// payloads of five actions per connection; with thousands of connections that
// is far slower than copying the last result. The kept tree is handed out
// again while the document's heads and the live-sessions switch that
// readiness reads are unchanged; after a change, the resource of each
// connection whose record is unchanged is reused and only the others are
// built anew.
#pragma once

#include <optional>
#include <vector>

#include "apps/remote/src/actions/tree.hpp"
#include "apps/remote/src/doc/model.hpp"
#include "platform/vesk_actions/resource.hpp"
#include "platform/vesk_ui/document/document.hpp"

namespace remote::actions {

// The connections someone already read from a document, with the heads it
// had then.
struct LoadedConnections {
  std::vector<vesk_ui::doc::ChangeHash> heads;
  std::vector<SavedConnection> records;
};

class TreeCache {
 public:
  // The same list as connections_resource(document). `loaded`, when its
  // heads are the document's, spares reading every record again.
  std::vector<Resource> connections_resource(const vesk_ui::doc::Document& document,
                                             const LoadedConnections* loaded = nullptr);

  // How many connection resources were built rather than reused (for tests).
  std::uint64_t connections_built() const { return connections_built_; }

 private:
  // The heads of the document the tree was built from; none when it had
  // uncommitted changes (its content then has no name to compare).
  std::optional<std::vector<vesk_ui::doc::ChangeHash>> heads_;
  bool live_sessions_ = false;
  // What each child of the root was built from, in the same order.
  std::vector<SavedConnection> records_;
  std::vector<Resource> tree_;  // empty until the first request
  std::uint64_t connections_built_ = 0;
};

}  // namespace remote::actions
