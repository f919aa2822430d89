#include "JsonText.h"

#include <cstdio>

namespace cloudsim {

std::string JsonString(const std::string& text) {
    std::string literal = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': literal += "\\\""; break;
        case '\\': literal += "\\\\"; break;
        case '\n': literal += "\\n"; break;
        case '\r': literal += "\\r"; break;
        case '\t': literal += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
                literal += escape;
            } else {
                literal += c;
            }
        }
    }
    return literal + "\"";
}

std::string JsonMessage(const std::string& message) {
    return JsonObject({{"message", JsonString(message)}});
}

std::string JsonObject(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string object = "{";
    for (const auto& [name, value] : members) {
        if (object.size() > 1) object += ',';
        object += JsonString(name) + ":" + value;
    }
    return object + "}";
}

} // namespace cloudsim
