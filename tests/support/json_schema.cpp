#include "support/json_schema.h"

#include <algorithm>
#include <fstream>
#include <regex>
#include <stdexcept>

namespace kelvra::testing {
namespace {

using nlohmann::json;

bool HasType(const json& value, const std::string& type) {
    if (type == "object") return value.is_object();
    if (type == "array") return value.is_array();
    if (type == "string") return value.is_string();
    if (type == "integer") return value.is_number_integer();
    if (type == "number") return value.is_number();
    if (type == "boolean") return value.is_boolean();
    if (type == "null") return value.is_null();
    throw std::invalid_argument("schema type " + type + " is not known here");
}

void Check(const json& schema, const json& value, const std::string& at,
           std::vector<std::string>& out) {
    if (schema.contains("type")) {
        const json& types = schema["type"];
        const bool fits = types.is_array()
                              ? std::any_of(types.begin(), types.end(),
                                            [&](const json& type) { return HasType(value, type); })
                              : HasType(value, types);
        if (!fits) {
            out.push_back(at + ": not of type " + types.dump());
            return;
        }
    }
    if (schema.contains("const") && value != schema["const"])
        out.push_back(at + ": not " + schema["const"].dump());
    if (schema.contains("enum")) {
        const json& allowed = schema["enum"];
        if (std::find(allowed.begin(), allowed.end(), value) == allowed.end())
            out.push_back(at + ": " + value.dump() + " not one of " + allowed.dump());
    }
    if (schema.contains("pattern") && value.is_string() &&
        !std::regex_search(value.get<std::string>(),
                           std::regex(schema["pattern"].get<std::string>())))
        out.push_back(at + ": " + value.dump() + " does not match " + schema["pattern"].dump());
    if (value.is_object()) {
        // Held here: items() of a temporary would outlive it in the loop.
        const json required = schema.value("required", json::array());
        const json properties = schema.value("properties", json::object());
        for (const json& name : required)
            if (!value.contains(name.get<std::string>()))
                out.push_back(at + ": missing " + name.get<std::string>());
        for (const auto& [name, property] : properties.items())
            if (value.contains(name)) Check(property, value[name], at + "/" + name, out);
    }
    if (value.is_array() && schema.contains("items"))
        for (std::size_t i = 0; i < value.size(); ++i)
            Check(schema["items"], value[i], at + "/" + std::to_string(i), out);
}

}  // namespace

std::vector<std::string> SchemaViolations(const json& schema, const json& document) {
    std::vector<std::string> violations;
    Check(schema, document, "", violations);
    return violations;
}

json KvscanSchema() {
    std::string path = std::string(KELVRA_SOURCE_DIR) + "/docs/kvscan.schema.json";
#ifdef _WIN32
    path = "Z:" + path;  // Wine shows the Linux root as drive Z:
#endif
    std::ifstream file(path);
    if (!file) throw std::runtime_error("docs/kvscan.schema.json cannot be read");
    return json::parse(file);
}

}  // namespace kelvra::testing
