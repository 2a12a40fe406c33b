#include "platform/vesk_actions/tree_json.hpp"

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

nlohmann::ordered_json action_json(const ActionSpec& a) {
    nlohmann::ordered_json j;
    j["id"] = a.id;
    j["label"] = a.label;
    j["description"] = a.description ? nlohmann::ordered_json(*a.description) : nlohmann::ordered_json(nullptr);
    j["operation_kind"] = kind_word(a.operation_kind);
    j["operation_type"] = a.operation_type ? nlohmann::ordered_json(*a.operation_type) : nlohmann::ordered_json(nullptr);
    nlohmann::ordered_json params = nlohmann::ordered_json::array();
    for (const ActionParameter& p : a.parameters) {
        params.push_back({{"name", p.name}, {"description", p.description}, {"type", p.type}});
    }
    j["parameters"] = std::move(params);
    j["input_hint"] = a.input.hint;
    const ActionContract& c = a.contract;
    j["contract"] = {{"capabilities", c.capabilities},
                     {"scope", c.scope},
                     {"lifetime", {{"value", c.lifetime.value}, {"flag", c.lifetime.flag}}},
                     {"latency", c.latency},
                     {"settings", c.settings}};
    j["destructive"] = a.is_destructive;
    j["available"] = !c.unavailable.has_value();
    if (c.unavailable) j["unavailable"] = {{"code", c.unavailable->reason_code}, {"message", c.unavailable->message}};
    return j;
}

nlohmann::ordered_json resource_at(const Resource& r, int depth) {
    nlohmann::ordered_json j;
    j["id"] = r.id;
    j["kind"] = r.kind;
    j["title"] = r.title;
    nlohmann::ordered_json actions = nlohmann::ordered_json::array();
    for (const ActionSpec& a : r.actions) actions.push_back(action_json(a));
    j["actions"] = std::move(actions);
    nlohmann::ordered_json children = nlohmann::ordered_json::array();
    if (depth < kMaxDepth) {
        for (const Resource& c : r.children) children.push_back(resource_at(c, depth + 1));
    }
    j["children"] = std::move(children);
    return j;
}

}  // namespace

nlohmann::ordered_json resource_json(const Resource& resource) { return resource_at(resource, 0); }

std::string tree_json(const std::vector<Resource>& roots) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Resource& r : roots) list.push_back(resource_json(r));
    nlohmann::ordered_json top;
    top["resources"] = std::move(list);
    return top.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace vesk_actions
