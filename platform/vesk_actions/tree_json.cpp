#include "platform/vesk_actions/tree_json.hpp"

#include <charconv>

namespace vesk_actions {

namespace {

// Deeper trees are cut off; no published tree comes close.
constexpr int kMaxDepth = 64;

std::string_view kind_word(OperationKind kind) {
  switch (kind) {
    case OperationKind::Effect: return "effect";
    case OperationKind::View: return "view";
    case OperationKind::None: break;
  }
  return "none";
}

// Length of the valid UTF-8 sequence at `s[i]`, or 0.
std::size_t utf8_length(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  const std::size_t left = s.size() - i;
  auto cont = [&](std::size_t k) { return k < s.size() && (b(k) & 0xC0) == 0x80; };
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return left >= 2 && cont(i + 1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (left < 3 || !cont(i + 1) || !cont(i + 2)) return 0;
    if (c == 0xE0 && b(i + 1) < 0xA0) return 0;  // overlong
    if (c == 0xED && b(i + 1) > 0x9F) return 0;  // surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (left < 4 || !cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return 0;
    if (c == 0xF0 && b(i + 1) < 0x90) return 0;
    if (c == 0xF4 && b(i + 1) > 0x8F) return 0;
    return 4;
  }
  return 0;
}

class Writer {
 public:
  std::string out;

  void raw(std::string_view s) { out.append(s); }
  void text(std::string_view s) {
    out += '"';
    for (std::size_t i = 0; i < s.size();) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      if (c >= 0x80) {
        const std::size_t n = utf8_length(s, i);
        if (n == 0) {
          out += "\xEF\xBF\xBD";  // U+FFFD
          ++i;
        } else {
          out.append(s.substr(i, n));
          i += n;
        }
        continue;
      }
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (c < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
    }
    out += '"';
  }
  void number(unsigned value) {
    char buf[16];
    const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    out.append(buf, end);
  }
  void boolean(bool value) { out += value ? "true" : "false"; }
  void key(std::string_view k) {
    text(k);
    out += ':';
  }
};

void write_action(Writer& w, const ActionSpec& a) {
  w.raw("{");
  w.key("id"), w.text(a.id), w.raw(",");
  w.key("label"), w.text(a.label), w.raw(",");
  w.key("description");
  a.description ? w.text(*a.description) : w.raw("null");
  w.raw(",");
  w.key("operation_kind"), w.text(kind_word(a.operation_kind)), w.raw(",");
  w.key("operation_type");
  a.operation_type ? w.text(*a.operation_type) : w.raw("null");
  w.raw(",");
  w.key("parameters"), w.raw("[");
  for (std::size_t i = 0; i < a.parameters.size(); ++i) {
    const ActionParameter& p = a.parameters[i];
    if (i) w.raw(",");
    w.raw("{"), w.key("name"), w.text(p.name), w.raw(","), w.key("description"), w.text(p.description);
    w.raw(","), w.key("type"), w.text(p.type), w.raw("}");
  }
  w.raw("],");
  w.key("input_hint"), w.text(a.input.hint), w.raw(",");
  const ActionContract& c = a.contract;
  w.key("contract"), w.raw("{"), w.key("capabilities"), w.raw("[");
  for (std::size_t i = 0; i < c.capabilities.size(); ++i) {
    if (i) w.raw(",");
    w.text(c.capabilities[i]);
  }
  w.raw("],"), w.key("scope"), w.number(c.scope), w.raw(",");
  w.key("lifetime"), w.raw("{"), w.key("value"), w.number(c.lifetime.value), w.raw(",");
  w.key("flag"), w.boolean(c.lifetime.flag), w.raw("},");
  w.key("latency"), w.number(c.latency), w.raw(","), w.key("settings"), w.raw("[");
  for (std::size_t i = 0; i < c.settings.size(); ++i) {
    if (i) w.raw(",");
    w.number(c.settings[i]);
  }
  w.raw("]},");
  w.key("destructive"), w.boolean(a.is_destructive), w.raw(",");
  w.key("available"), w.boolean(!c.unavailable.has_value());
  if (c.unavailable) {
    w.raw(","), w.key("unavailable"), w.raw("{"), w.key("code"), w.text(c.unavailable->reason_code);
    w.raw(","), w.key("message"), w.text(c.unavailable->message), w.raw("}");
  }
  w.raw("}");
}

void write_resource(Writer& w, const Resource& r, int depth) {
  w.raw("{");
  w.key("id"), w.text(r.id), w.raw(",");
  w.key("kind"), w.text(r.kind), w.raw(",");
  w.key("title"), w.text(r.title), w.raw(",");
  w.key("actions"), w.raw("[");
  for (std::size_t i = 0; i < r.actions.size(); ++i) {
    if (i) w.raw(",");
    write_action(w, r.actions[i]);
  }
  w.raw("],"), w.key("children"), w.raw("[");
  if (depth < kMaxDepth) {
    for (std::size_t i = 0; i < r.children.size(); ++i) {
      if (i) w.raw(",");
      write_resource(w, r.children[i], depth + 1);
    }
  }
  w.raw("]}");
}

// FNV-1a over every field the JSON carries, each closed by its length so
// that neighbouring fields cannot trade bytes.
class Fingerprint {
 public:
  std::uint64_t value = 1469598103934665603ull;

  void bytes(std::string_view s) {
    for (unsigned char c : s) mix(c);
    number(s.size());
  }
  void number(std::uint64_t n) {
    for (int i = 0; i < 8; ++i) mix(static_cast<unsigned char>(n >> (8 * i)));
  }
  void optional(const std::optional<std::string>& s) {
    number(s.has_value());
    if (s) bytes(*s);
  }

 private:
  void mix(unsigned char c) {
    value ^= c;
    value *= 1099511628211ull;
  }
};

void fingerprint_resource(Fingerprint& f, const Resource& r, int depth) {
  f.bytes(r.id), f.bytes(r.kind), f.bytes(r.title);
  f.number(r.actions.size());
  for (const ActionSpec& a : r.actions) {
    f.bytes(a.id), f.bytes(a.label), f.optional(a.description), f.number(static_cast<unsigned>(a.operation_kind));
    f.optional(a.operation_type);
    f.number(a.parameters.size());
    for (const ActionParameter& p : a.parameters) f.bytes(p.name), f.bytes(p.description), f.bytes(p.type);
    f.bytes(a.input.hint);
    const ActionContract& c = a.contract;
    f.number(c.capabilities.size());
    for (const std::string& cap : c.capabilities) f.bytes(cap);
    f.number(c.scope), f.number(c.lifetime.value), f.number(c.lifetime.flag), f.number(c.latency);
    for (std::uint8_t s : c.settings) f.number(s);
    f.number(a.is_destructive);
    f.number(c.unavailable.has_value());
    if (c.unavailable) f.bytes(c.unavailable->reason_code), f.bytes(c.unavailable->message);
  }
  f.number(depth < kMaxDepth ? r.children.size() : 0);
  if (depth < kMaxDepth) {
    // Each child enters as its own fingerprint, which children shared
    // with an earlier tree keep, so an unchanged tree is cheap to check.
    const auto child_value = [depth](const Resource& child) {
      Fingerprint g;
      fingerprint_resource(g, child, depth + 1);
      return g.value;
    };
    for (std::size_t i = 0; i < r.children.size(); ++i) {
      f.number(r.children.derived(i, static_cast<std::uint64_t>(depth + 1), child_value));
    }
  }
}

}  // namespace

std::string tree_json(const std::vector<Resource>& roots) {
  Writer w;
  w.raw("{"), w.key("resources"), w.raw("[");
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (i) w.raw(",");
    write_resource(w, roots[i], 0);
  }
  w.raw("]}");
  return std::move(w.out);
}

std::uint64_t tree_fingerprint(const std::vector<Resource>& roots) {
  Fingerprint f;
  f.number(roots.size());
  for (const Resource& r : roots) fingerprint_resource(f, r, 0);
  return f.value;
}

}  // namespace vesk_actions
