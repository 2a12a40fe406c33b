#pragma once
// What the list screen and the accessibility tree derive from the saved
// connections: each one's readiness, the counts line, and the connections that
// match the search in display order. Deriving them takes a readiness check per
// connection (a curve-point check for devices) and lower-casing and sorting
// every name, too much to repeat at every frame with thousands of connections,
// so they are kept and recomputed only when the connections, the search text
// or the live-sessions switch that readiness reads have changed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/remote/src/app/accessibility_nodes.hpp"
#include "apps/remote/src/app/state.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/model.hpp"
#include "platform/vesk_ui/widget/access.hpp"

namespace remote::app {

// A row's accessibility node with its children as far as they follow from the
// record and its readiness (no bounds, selection or position in the set), and
// the targets of its controls.
struct RowAccess {
  vesk_ui::access::AccessNode node;
  AccessTargets targets;
};
using RowMaker = std::function<RowAccess(const SavedConnection&, Readiness)>;

// The message of a row's control and the row's place in the display order.
struct RowTarget {
  UiMessage message;
  std::size_t position = 0;
};

class ListCache {
 public:
  // Brings the results up to date with the list and the search text. When
  // nothing changed this costs one comparison of the list with its copy.
  void refresh(const std::vector<SavedConnection>& connections, std::string_view search);

  // The results for the list and search text of the last refresh.
  // Readiness of connections[index].
  Readiness readiness(std::size_t index) const { return readiness_[index]; }
  const std::string& counts_text() const { return counts_; }
  // Indices into the list of the matching connections, in display order.
  const std::vector<std::size_t>& order() const { return order_; }
  // The same as entries of `connections`, which must be the refreshed list.
  ConnectionView view(const std::vector<SavedConnection>& connections) const;
  // The id of the first of them, which a new list or search selects.
  std::optional<Uuid> first_listed(const std::vector<SavedConnection>& connections) const;

  // The accessibility of connections[index], made by `make` the first time
  // it is asked for and kept while the record and its readiness stay.
  const RowAccess& row(std::size_t index, const RowMaker& make) const;

  // The rows of the list as the accessibility tree gives them, made by `make`
  // and kept while these results, the selection and the regions painted for
  // rows (those whose message names a connection) stay the same: an
  // unchanged list is handed out as the very same shared list.
  const vesk_ui::access::NodeList& rows_node_list(const std::optional<Uuid>& selection,
                                                  std::vector<HitRegion> row_regions,
                                                  const std::function<vesk_ui::access::NodeList()>& make) const;

  // The target of the row control with this action id when the row is in the
  // order; nothing for any other id. The index behind it is made (with the
  // rows it needs) at the first look-up after the records changed.
  std::optional<RowTarget> row_target(std::string_view action_id, const RowMaker& make) const;

  // How often readiness and order were recomputed (for tests).
  std::uint64_t readiness_computations() const { return readiness_computations_; }
  std::uint64_t order_computations() const { return order_computations_; }

 private:
  std::vector<SavedConnection> connections_;  // the list the results belong to
  bool live_sessions_ = false;
  bool readiness_valid_ = false;
  std::vector<Readiness> readiness_;
  // Lower-cased search fields of each connection, which the search matches
  // and the order sorts by (the name comes first).
  std::vector<LoweredSearchFields> lowered_;
  // Made at the first read of each: the results are read through const.
  mutable std::vector<std::optional<RowAccess>> rows_access_;
  std::string counts_;
  std::string search_;
  bool order_valid_ = false;
  std::vector<std::size_t> order_;
  // Where each connection is in order_; kNotListed when the search hides it.
  static constexpr std::size_t kNotListed = static_cast<std::size_t>(-1);
  std::vector<std::size_t> positions_;
  struct RowsKey {
    std::uint64_t results = 0;  // readiness_computations_ + order_computations_
    std::optional<Uuid> selection;
    std::vector<HitRegion> row_regions;
    friend bool operator==(const RowsKey&, const RowsKey&) = default;
  };
  mutable std::optional<RowsKey> rows_key_;
  mutable vesk_ui::access::NodeList rows_;
  // Every row control of every record, sorted by the node id of its action
  // id: which record, and which of its targets.
  struct IndexedTarget {
    std::uint64_t node_id = 0;
    std::size_t index = 0;
    std::size_t target = 0;
    friend auto operator<=>(const IndexedTarget&, const IndexedTarget&) = default;
  };
  mutable std::vector<IndexedTarget> row_index_;
  mutable std::optional<std::uint64_t> row_index_key_;  // readiness_computations_ it was made at
  std::uint64_t readiness_computations_ = 0;
  std::uint64_t order_computations_ = 0;
};

// The counts line for a list whose readiness is known.
std::string list_counts_text(const std::vector<SavedConnection>& connections, const std::vector<Readiness>& readiness);

}  // namespace remote::app
