#include "BundleInfo.h"

#include <mutex>

#include "platform/BundleVersion.h"

namespace platform {

namespace {

std::mutex overrideMutex;
bool overridden = false;
std::optional<BundleInfo::Dictionary> overrideDictionary;

}  // namespace

std::optional<BundleInfo::Dictionary> BundleInfo::mainInfoDictionary() {
    {
        std::lock_guard lock(overrideMutex);
        if (overridden)
            return overrideDictionary;
    }
    return Dictionary{{shortVersionKey, generated::bundleShortVersion},
                      {versionKey, generated::bundleVersion}};
}

std::optional<std::string> BundleInfo::mainInfoValue(const std::string& key) {
    auto dictionary = mainInfoDictionary();
    if (!dictionary)
        return std::nullopt;
    auto it = dictionary->find(key);
    if (it == dictionary->end())
        return std::nullopt;
    return it->second;
}

void BundleInfo::overrideMainInfoDictionary(std::optional<Dictionary> dictionary) {
    std::lock_guard lock(overrideMutex);
    overridden = true;
    overrideDictionary = std::move(dictionary);
}

void BundleInfo::resetMainInfoDictionary() {
    std::lock_guard lock(overrideMutex);
    overridden = false;
    overrideDictionary.reset();
}

}  // namespace platform
