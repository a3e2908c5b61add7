#include "notification.h"

#include <algorithm>
#include <memory>

namespace arbel {

std::optional<std::string> notifString(const NotifDict& dict, const std::string& key) {
    auto it = dict.find(key);
    if (it == dict.end()) return std::nullopt;
    if (const auto* s = std::get_if<std::string>(&it->second)) return *s;
    return std::nullopt;
}

std::optional<double> notifNumber(const NotifDict& dict, const std::string& key) {
    auto it = dict.find(key);
    if (it == dict.end()) return std::nullopt;
    if (const auto* d = std::get_if<double>(&it->second)) return *d;
    return std::nullopt;
}

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name, Observer observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    Token token = next_++;
    observers_.push_back({token, name, std::make_shared<Observer>(std::move(observer))});
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard<std::mutex> lock(mutex_);
    observers_.erase(std::remove_if(observers_.begin(), observers_.end(),
                                    [token](const Entry& e) { return e.token == token; }),
                     observers_.end());
}

void NotificationCenter::post(const std::string& name, const NotifDict& userInfo) {
    std::vector<std::shared_ptr<Observer>> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& e : observers_)
            if (e.name.empty() || e.name == name) targets.push_back(e.observer);
    }
    for (const auto& observer : targets) (*observer)(name, userInfo);
}

namespace progress {
NotifDict status(const std::string& text, double value) {
    return {{"status", text}, {"progress", value}};
}
NotifDict unrepair(const std::string& text, double value) {
    return {{"unrepair", text}, {"progress", value}};
}
NotifDict single(const std::string& key, const std::string& value) { return {{key, value}}; }
}  // namespace progress

}  // namespace arbel
