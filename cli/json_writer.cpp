#include "json_writer.h"

#include <cmath>
#include <cstdio>

namespace arbel::cli {

std::string jsonQuote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::add(const std::string& key, const std::string& value) {
    fields_.emplace_back(key, jsonQuote(value));
    return *this;
}
JsonObject& JsonObject::add(const std::string& key, bool value) {
    fields_.emplace_back(key, value ? "true" : "false");
    return *this;
}
JsonObject& JsonObject::add(const std::string& key, int64_t value) {
    fields_.emplace_back(key, std::to_string(value));
    return *this;
}
JsonObject& JsonObject::add(const std::string& key, uint64_t value) {
    fields_.emplace_back(key, std::to_string(value));
    return *this;
}
JsonObject& JsonObject::add(const std::string& key, double value) {
    char text[64];
    if (!std::isfinite(value)) return addNull(key);
    std::snprintf(text, sizeof text, "%.6g", value);
    fields_.emplace_back(key, text);
    return *this;
}
JsonObject& JsonObject::addNull(const std::string& key) {
    fields_.emplace_back(key, "null");
    return *this;
}
JsonObject& JsonObject::addRaw(const std::string& key, const std::string& json) {
    fields_.emplace_back(key, json);
    return *this;
}

std::string JsonObject::str() const {
    std::string out = "{";
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (i) out += ", ";
        out += jsonQuote(fields_[i].first) + ": " + fields_[i].second;
    }
    return out + "}";
}

}  // namespace arbel::cli
