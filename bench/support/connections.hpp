#pragma once
// The saved connections the benchmarks run on: a third SSH, the rest VNC,
// every tenth in a group, every seventeenth a favourite.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "apps/remote/src/doc/model.hpp"

namespace bench_support {

inline std::vector<remote::SavedConnection> make_connections(int n) {
  std::vector<remote::SavedConnection> out;
  out.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    remote::SavedConnection c;
    c.id = remote::Uuid::new_v4();
    c.name = "Machine " + std::to_string(i);
    c.host = "host-" + std::to_string(i) + ".example.net";
    c.port = static_cast<std::uint16_t>(i % 3 == 0 ? 22 : 5900);
    c.user = i % 3 == 0 ? "admin" : "";
    c.kind = i % 3 == 0 ? remote::ConnectionKind::Ssh : remote::ConnectionKind::Vnc;
    c.auth = remote::AuthKind::Password;
    c.last_used = "Never";
    c.presence = remote::Presence::Unknown;
    c.group = i % 10 == 0 ? "Lab" : "";
    c.favorite = i % 17 == 0;
    out.push_back(std::move(c));
  }
  return out;
}

}  // namespace bench_support
