// The published tree as JSON text, as clients outside the process see it.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/vesk_actions/resource.hpp"

namespace vesk_actions {

// One resource with its actions and, depth first, its children.
nlohmann::ordered_json resource_json(const Resource& resource);

// {"resources":[...]}, compact. Text that is not UTF-8 is replaced rather
// than refused: titles come from documents that other processes write.
std::string tree_json(const std::vector<Resource>& roots);

}  // namespace vesk_actions
