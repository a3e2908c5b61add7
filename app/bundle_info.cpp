#include "bundle_info.h"

#include "platform/file_system.h"

#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>

namespace arbel {

std::optional<std::string> readInfoPlistString(const std::string& plistPath, const std::string& key) {
    std::ifstream in(plistPath, std::ios::binary);
    if (!in) return std::nullopt;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return plistDictString(bytes, key);
}

std::optional<std::string> plistDictString(const std::string& bytes, const std::string& key) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;

    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (!root) return std::nullopt;

    std::optional<std::string> value;
    if (plist_get_node_type(root) == PLIST_DICT) {
        plist_t node = plist_dict_get_item(root, key.c_str());
        if (node && plist_get_node_type(node) == PLIST_STRING) {
            char* text = nullptr;
            plist_get_string_val(node, &text);
            if (text) {
                value = std::string(text);
                std::free(text);
            }
        }
    }
    plist_free(root);
    return value;
}

std::vector<std::string> resourceCandidates(const std::string& executableDir, const std::string& fileName) {
    return {executableDir + "/" + fileName,
            executableDir + "/../share/arbel-video-repair/" + fileName,
            std::string(ARBEL_BUILD_TREE_RESOURCES) + "/" + fileName};
}

std::string locateResource(const std::string& executableDir, const std::string& fileName) {
    for (const std::string& candidate : resourceCandidates(executableDir, fileName))
        if (fs::isRegularFile(candidate)) return candidate;
    return {};
}

}  // namespace arbel
