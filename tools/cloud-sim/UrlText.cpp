#include "UrlText.h"

#include <cctype>

namespace cloudsim {

std::string PercentDecode(const std::string& text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool escape = text[i] == '%' && i + 2 < text.size() &&
                            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                            std::isxdigit(static_cast<unsigned char>(text[i + 2]));
        decoded += escape ? static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)) : text[i];
        if (escape) i += 2;
    }
    return decoded;
}

std::string QueryParam(const std::string& target, const std::string& name, const std::string& fallback) {
    const std::size_t question = target.find('?');
    if (question == std::string::npos) return fallback;
    for (std::size_t start = question + 1; start <= target.size();) {
        std::size_t end = target.find('&', start);
        if (end == std::string::npos) end = target.size();
        const std::string pair = target.substr(start, end - start);
        const std::size_t equals = pair.find('=');
        if (PercentDecode(pair.substr(0, equals)) == name)
            return equals == std::string::npos ? std::string() : PercentDecode(pair.substr(equals + 1));
        start = end + 1;
    }
    return fallback;
}

} // namespace cloudsim
