// UUID fields of the action and operation payloads.
#pragma once

#include <string>
#include <string_view>

#include "apps/remote/src/doc/uuid.hpp"
#include "apps/remote/src/json/reader.hpp"

namespace remote::actions {

// Why a text is not a UUID, in the words the payload errors use
// ("invalid group length in group 4: expected 12, found 11").
std::string describe_uuid_error(std::string_view text);

// A JSON string in any of the accepted UUID spellings.
json::Result<Uuid> read_uuid(json::Reader& r);

}  // namespace remote::actions
