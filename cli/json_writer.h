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

std::string jsonQuote(const std::string& text);

}  // namespace arbel::cli
