#include "json_writer.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace arbel::cli {

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
size_t utf8SequenceAt(const std::string& text, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = b(i);
    size_t n = 0;
    uint32_t cp = 0;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07;
    else return 0;
    if (i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

}  // namespace

bool isValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t n = utf8SequenceAt(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

void addRawPath(JsonObject& json, const std::string& key, const std::string& path) {
    if (isValidUtf8(path)) return;
    std::string escaped;
    for (unsigned char c : path) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            escaped.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            escaped += hex;
        }
    }
    json.add(key, escaped);
}

std::string jsonQuote(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const size_t n = utf8SequenceAt(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[i++]);
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
