#pragma once
// Checks a JSON document against the part of JSON Schema that kvscan's
// documented schema (docs/kvscan.schema.json) uses: type, const, enum,
// pattern, required, properties and items. The tests read the schema file
// itself, so that the document and its description cannot drift apart.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kelvra::testing {

// One line per violation, each naming the place ("/records/3/candidates/0:
// missing points"); empty when the document fits.
std::vector<std::string> SchemaViolations(const nlohmann::json& schema,
                                          const nlohmann::json& document);

// A string field's text; empty for null.
inline std::string TextOrEmpty(const nlohmann::json& value) {
    return value.is_null() ? std::string() : value.get<std::string>();
}

// docs/kvscan.schema.json of the source tree.
nlohmann::json KvscanSchema();

}  // namespace kelvra::testing
