#include "JsonText.h"

#include "cloud/OrvaneApi.h"

namespace cloudsim {

std::string JsonString(const std::string& text) { return "\"" + JSONEscape(text) + "\""; }

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
