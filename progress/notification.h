#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace arbel {

// Everything the engines tell the window travels as one notification named
// "notif" whose user information is a dictionary of string keys. Values are
// texts, except "progress", which is a number.
inline constexpr const char* kProgressNotificationName = "notif";

using NotifValue = std::variant<std::string, double>;
using NotifDict = std::map<std::string, NotifValue>;

std::optional<std::string> notifString(const NotifDict& dict, const std::string& key);
std::optional<double> notifNumber(const NotifDict& dict, const std::string& key);

// A process-wide notification centre. Posting delivers synchronously, on the
// posting thread, to every observer of that name (or of every name).
class NotificationCenter {
public:
    using Observer = std::function<void(const std::string& name, const NotifDict& userInfo)>;
    using Token = int;

    static NotificationCenter& defaultCenter();

    // An empty name observes every notification.
    Token addObserver(const std::string& name, Observer observer);
    void removeObserver(Token token);
    void post(const std::string& name, const NotifDict& userInfo);

private:
    struct Entry {
        Token token;
        std::string name;
        std::shared_ptr<Observer> observer;
    };
    std::mutex mutex_;  // guards the observer list only; delivery runs unlocked
    std::vector<Entry> observers_;
    Token next_ = 1;
};

// Progress values with a meaning of their own: the result is complete, or
// the file cannot be repaired (the window shows the bar full beside "101%").
inline constexpr double kProgressCompleted = 100.0;
inline constexpr double kProgressFailed = 101.0;

// The status texts the engines post, as the window shows them.
inline constexpr const char* kAnalyzingText = "Analyzing the file..";
inline constexpr const char* kLocatingText = "Locating audio / video data forks..";
inline constexpr const char* kRepairingText = "Repairing the file..";
inline constexpr const char* kCompletedText = "Repair completed.";
inline constexpr const char* kCannotRepairText = "Can not repair this file..";
inline constexpr const char* kUnsupportedText = "Unsupported file format..";

// The shapes of progress notification that the engines post.
namespace progress {
NotifDict status(const std::string& text, double progress);
NotifDict unrepair(const std::string& text, double progress);
NotifDict single(const std::string& key, const std::string& value);
}  // namespace progress

}  // namespace arbel
