// The published tree as JSON text, as clients outside the process see it,
// and a fingerprint of it for noticing changes without writing the text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/vesk_actions/resource.hpp"

namespace vesk_actions {

// {"resources":[...]}, compact: every resource (id, kind, title, actions,
// children) and every action (id, label, description, operation kind and
// type, parameters, input hint, contract, destructive mark, availability).
// Text that is not UTF-8 is replaced rather than refused: titles come from
// documents that other processes write.
std::string tree_json(const std::vector<Resource>& roots);

// Differs whenever tree_json would (up to hash collisions).
std::uint64_t tree_fingerprint(const std::vector<Resource>& roots);

}  // namespace vesk_actions
