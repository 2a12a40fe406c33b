#include "tools/remote_actions/cli.hpp"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

namespace remote_actions {

namespace {

// Resources nested deeper are not printed; no published tree comes close.
constexpr int kMaxDepth = 32;

std::string text_of(const nlohmann::json& j, const char* key) {
  auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool flag_of(const nlohmann::json& j, const char* key, bool fallback) {
  auto it = j.find(key);
  return it != j.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

void format_resource(const nlohmann::json& r, int depth, std::string& out) {
  if (!r.is_object() || depth > kMaxDepth) return;
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  out += indent + text_of(r, "id") + "  (" + text_of(r, "kind") + ")  \"" + text_of(r, "title") + "\"\n";
  if (auto actions = r.find("actions"); actions != r.end() && actions->is_array()) {
    for (const auto& a : *actions) {
      if (!a.is_object()) continue;
      std::string kind = text_of(a, "operation_kind");
      if (kind == "none") kind = "document";
      out += indent + "  " + text_of(a, "id") + "  \"" + text_of(a, "label") + "\"  " + kind;
      if (flag_of(a, "destructive", false)) out += " destructive";
      if (auto params = a.find("parameters"); params != a.end() && params->is_array()) {
        for (const auto& p : *params) {
          if (p.is_object()) out += "  " + text_of(p, "name") + "=<" + text_of(p, "description") + ">";
        }
      }
      if (flag_of(a, "available", true)) {
        out += "  available\n";
      } else {
        const nlohmann::json u =
            a.contains("unavailable") && a["unavailable"].is_object() ? a["unavailable"] : nlohmann::json::object();
        out += "  unavailable " + text_of(u, "code") + ": " + text_of(u, "message") + "\n";
      }
    }
  }
  if (auto children = r.find("children"); children != r.end() && children->is_array()) {
    for (const auto& c : *children) format_resource(c, depth + 1, out);
  }
}

}  // namespace

std::string usage() {
  return "usage: remote-actions tree\n"
         "       remote-actions invoke RESOURCE ACTION [NAME=VALUE | NAME@=FILE ...] [--wait]\n"
         "       remote-actions cancel HANDLE\n"
         "Values understand \\n, \\t, \\r, \\e and \\\\; NAME@=FILE takes the value from FILE as it is\n"
         "(- for standard input). Without --wait a started operation goes on after remote-actions\n"
         "ends; with --wait, Ctrl+C cancels it.\n"
         "Exit status: 0 applied, completed or cancelled by cancel, 1 failed, 2 refused,\n"
         "3 no running application, 128+N a waiting invoke stopped by signal N.\n";
}

std::expected<std::string, std::string> read_argument_file(const std::string& path) {
  std::FILE* in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (!in) return std::unexpected("cannot read \"" + path + "\": " + std::strerror(errno));
  std::string out;
  char buffer[65536];
  bool too_long = false;
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
    if (out.size() + n > kMaxArgumentFileBytes) {
      too_long = true;
      break;
    }
    out.append(buffer, n);
  }
  const bool failed = std::ferror(in) != 0;
  if (in != stdin) std::fclose(in);
  if (too_long) {
    return std::unexpected("\"" + path + "\" is longer than " + std::to_string(kMaxArgumentFileBytes >> 20) + " MiB");
  }
  if (failed) return std::unexpected("cannot read \"" + path + "\"");
  return out;
}

std::expected<Command, std::string> parse_command(const std::vector<std::string>& args) {
  Command c;
  if (args.empty()) return std::unexpected("no command given");
  const std::string& verb = args[0];
  if (verb == "--help" || verb == "-h" || verb == "help") return c;
  if (verb == "tree") {
    if (args.size() != 1) return std::unexpected("tree takes no arguments");
    c.kind = Command::Kind::Tree;
    return c;
  }
  if (verb == "cancel") {
    if (args.size() != 2) return std::unexpected("cancel takes one operation handle");
    const std::string& text = args[1];
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), c.handle);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
      return std::unexpected("\"" + text + "\" is not an operation handle (a number printed by invoke)");
    }
    c.kind = Command::Kind::Cancel;
    return c;
  }
  if (verb != "invoke") return std::unexpected("unknown command \"" + verb + "\"");
  c.kind = Command::Kind::Invoke;
  std::vector<std::string> positional;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--wait") {
      c.wait = true;
    } else if (positional.size() < 2) {
      positional.push_back(a);
    } else {
      const auto eq = a.find('=');
      if (eq == std::string::npos || eq == 0 || a.starts_with("@=")) {
        return std::unexpected("argument \"" + a + "\" is not NAME=VALUE or NAME@=FILE");
      }
      if (a[eq - 1] == '@') {
        auto value = read_argument_file(a.substr(eq + 1));
        if (!value) return std::unexpected(std::move(value.error()));
        c.arguments.emplace_back(a.substr(0, eq - 1), std::move(*value));
        continue;
      }
      c.arguments.emplace_back(a.substr(0, eq), unescape(std::string_view(a).substr(eq + 1)));
    }
  }
  if (positional.size() < 2) return std::unexpected("invoke needs a resource and an action");
  c.resource = positional[0];
  c.action = positional[1];
  return c;
}

std::string unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (text[i + 1]) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'e': out += '\x1b'; break;
      case '\\': out += '\\'; break;
      default: out += '\\'; continue;
    }
    ++i;
  }
  return out;
}

std::expected<std::string, std::string> format_tree(std::string_view json) {
  const auto tree = nlohmann::json::parse(json, nullptr, false);
  if (tree.is_discarded() || !tree.is_object() || !tree.contains("resources") || !tree["resources"].is_array()) {
    return std::unexpected("the application sent a tree that is not readable");
  }
  std::string out;
  for (const auto& r : tree["resources"]) format_resource(r, 0, out);
  return out;
}

}  // namespace remote_actions
