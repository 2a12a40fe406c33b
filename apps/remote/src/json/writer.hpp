// Small JSON writer: compact (no whitespace) or indented like serde_json's
// pretty printer. Members come out in the order they are written. Texts that
// are not valid UTF-8 put the writer into a failed state instead of producing
// invalid JSON.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace remote::json {

// Appends `text` as a JSON string: \" \\ \b \t \n \f \r, other control
// characters as \u00xx, everything else unchanged. The text must be UTF-8.
void append_quoted(std::string& out, std::string_view text);

class Writer {
 public:
  // indent 0: compact; otherwise that many spaces per level.
  explicit Writer(int indent = 0);

  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  void key(std::string_view name);
  void string(std::string_view text);
  void unsigned_integer(std::uint64_t value);
  void signed_integer(std::int64_t value);
  void boolean(bool value);
  void null();

  // The text written, or why it could not be written.
  std::expected<std::string, std::string> finish() &&;

 private:
  void before_value();
  void newline_indent();

  struct Frame {
    bool has_value = false;
    bool is_object = false;
  };
  int indent_;
  std::string out_;
  std::vector<Frame> frames_;
  bool after_key_ = false;
  std::string error_;
};

}  // namespace remote::json
