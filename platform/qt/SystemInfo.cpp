#include "SystemInfo.h"

#include <sys/utsname.h>

#include <QLocale>
#include <QStringList>
#include <charconv>
#include <mutex>

namespace platform {

namespace {

std::mutex overrideMutex;
std::optional<OperatingSystemVersion> versionOverride;
std::optional<std::vector<std::string>> languagesOverride;

int leadingNumber(std::string_view component) {
    int value = 0;
    auto [end, error] = std::from_chars(component.data(), component.data() + component.size(), value);
    (void)end;
    return error == std::errc() ? value : 0;
}

}  // namespace

OperatingSystemVersion SystemInfo::parseKernelRelease(std::string_view release) {
    // The version proper ends at the first character that is neither a digit nor a dot ("-18-amd64", "+").
    auto end = release.find_first_not_of("0123456789.");
    std::string_view version = release.substr(0, end);
    int numbers[3] = {0, 0, 0};
    for (int& number : numbers) {
        auto dot = version.find('.');
        number = leadingNumber(version.substr(0, dot));
        if (dot == std::string_view::npos)
            break;
        version.remove_prefix(dot + 1);
    }
    return {numbers[0], numbers[1], numbers[2]};
}

OperatingSystemVersion SystemInfo::operatingSystemVersion() {
    {
        std::lock_guard lock(overrideMutex);
        if (versionOverride)
            return *versionOverride;
    }
    struct utsname name {};
    if (uname(&name) != 0)
        return {};
    return parseKernelRelease(name.release);
}

std::string SystemInfo::operatingSystemVersionText() {
    auto version = operatingSystemVersion();
    return "Linux " + std::to_string(version.majorVersion) + "." + std::to_string(version.minorVersion) +
           "." + std::to_string(version.patchVersion);
}

std::vector<std::string> SystemInfo::preferredLanguages() {
    {
        std::lock_guard lock(overrideMutex);
        if (languagesOverride)
            return *languagesOverride;
    }
    std::vector<std::string> languages;
    for (const QString& language : QLocale::system().uiLanguages())
        languages.push_back(language.toStdString());
    return languages;
}

std::optional<std::string> SystemInfo::firstPreferredLanguage() {
    auto languages = preferredLanguages();
    if (languages.empty())
        return std::nullopt;
    return languages.front();
}

void SystemInfo::setOperatingSystemVersionOverride(std::optional<OperatingSystemVersion> version) {
    std::lock_guard lock(overrideMutex);
    versionOverride = version;
}

void SystemInfo::setPreferredLanguagesOverride(std::optional<std::vector<std::string>> languages) {
    std::lock_guard lock(overrideMutex);
    languagesOverride = std::move(languages);
}

}  // namespace platform
