#include "ControlScript.h"

#include <algorithm>
#include <fstream>
#include <limits>

namespace gwsim {

std::string Unescape(const std::string& text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'r') out += '\r';
        else if (c == 'n') out += '\n';
        else if (c == 't') out += '\t';
        else if (c == 'x' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else out += c; // "\\" and any other escaped character stand for themselves
    }
    return out;
}

bool ControlScript::Load(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read script " + path;
        return false;
    }
    std::vector<Entry> entries;
    Millis previous = 0;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        std::size_t pos = first;
        const bool relative = line[pos] == '+';
        if (relative) ++pos;
        const std::size_t digits = pos;
        Millis value = 0;
        while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9' && value < 100000000) value = value * 10 + (line[pos++] - '0');
        if (pos == digits || pos >= line.size() || line[pos] != ' ') {
            error = path + ":" + std::to_string(number) + ": expected \"<ms> <text>\" or \"+<ms> <text>\"";
            return false;
        }
        const std::string text = line.substr(pos + 1);
        const Millis at = relative ? previous + value : value;
        previous = at;
        entries.push_back({at, text.rfind('@', 0) == 0 ? text.substr(1) : "send " + text});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.offsetMs < b.offsetMs; });
    entries_ = std::move(entries);
    next_ = 0;
    return true;
}

void ControlScript::Start(Millis now) {
    started_ = true;
    startedAt_ = now;
}

std::vector<std::string> ControlScript::TakeDue(Millis now) {
    std::vector<std::string> due;
    while (started_ && next_ < entries_.size() && startedAt_ + entries_[next_].offsetMs <= now)
        due.push_back(entries_[next_++].directive);
    return due;
}

Millis ControlScript::NextDue() const {
    if (!started_ || next_ >= entries_.size()) return std::numeric_limits<Millis>::max();
    return startedAt_ + entries_[next_].offsetMs;
}

} // namespace gwsim
