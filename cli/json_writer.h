#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace arbel::cli {

// A flat JSON object, enough for the command line's reports.
class JsonObject {
public:
    JsonObject& add(const std::string& key, const std::string& value);
    JsonObject& add(const std::string& key, const char* value) { return add(key, std::string(value)); }
    JsonObject& add(const std::string& key, bool value);
    JsonObject& add(const std::string& key, int64_t value);
    JsonObject& add(const std::string& key, uint64_t value);
    JsonObject& add(const std::string& key, int value) { return add(key, static_cast<int64_t>(value)); }
    JsonObject& add(const std::string& key, double value);
    JsonObject& addNull(const std::string& key);
    JsonObject& addRaw(const std::string& key, const std::string& json);
    std::string str() const;

private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

// A JSON string of text. JSON is UTF-8: bytes that are no part of a valid
// UTF-8 sequence become U+FFFD.
std::string jsonQuote(const std::string& text);

bool isValidUtf8(const std::string& text);

// A path that is not valid UTF-8 also as its bytes, each byte outside
// printable ASCII written \xNN, under `key` (nothing for a UTF-8 path).
void addRawPath(JsonObject& json, const std::string& key, const std::string& path);

}  // namespace arbel::cli
