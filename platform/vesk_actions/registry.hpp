// Decoders of stored or replicated document actions, by payload kind.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/vesk_actions/encoded_action.hpp"

namespace vesk_ui::doc {
class Document;
}

namespace vesk_actions {

// A change to a document, as the executor sees it.
class DocumentAction {
 public:
  virtual ~DocumentAction() = default;
  // Diagnostic text.
  virtual std::string debug_text() const = 0;
  // Applies the change to the document.
  virtual std::expected<void, ActionError> apply(vesk_ui::doc::Document& document) = 0;
  // An ephemeral action is applied but not handed to the transport.
  virtual bool is_ephemeral() const { return false; }
};

using ActionDecoder =
    std::function<std::expected<std::unique_ptr<DocumentAction>, ActionError>(std::span<const std::uint8_t>)>;

class ActionRegistry {
 public:
  // Registers the decoder of one payload kind, replacing an earlier one.
  void register_namespace(std::string kind, ActionDecoder decoder);
  bool contains(std::string_view kind) const;
  std::expected<std::unique_ptr<DocumentAction>, ActionError> decode(const EncodedAction& encoded) const;

 private:
  std::map<std::string, ActionDecoder, std::less<>> decoders_;
};

}  // namespace vesk_actions
