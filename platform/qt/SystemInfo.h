#pragma once
// What the app reads about the system it runs on: the running kernel's version and the user's preferred
// languages. Tests replace both answers.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct OperatingSystemVersion {
    int majorVersion = 0;
    int minorVersion = 0;
    int patchVersion = 0;
    friend bool operator==(const OperatingSystemVersion&, const OperatingSystemVersion&) = default;
};

class SystemInfo {
  public:
    // The running kernel's version, read from uname's release text.
    static OperatingSystemVersion operatingSystemVersion();
    // "Linux " and the kernel's major.minor.patch, in decimal; the patch number is always written
    // ("Linux 6.1.0").
    static std::string operatingSystemVersionText();
    // Reads a kernel release text: "6.1.0-18-amd64" gives 6.1.0, "5.15" gives 5.15.0; each number is the run
    // of digits at the start of its component, 0 when it has none (or does not fit).
    static OperatingSystemVersion parseKernelRelease(std::string_view release);

    // The user's preferred languages, most preferred first, as BCP 47 tags ("fr-CH"); may be empty.
    static std::vector<std::string> preferredLanguages();
    static std::optional<std::string> firstPreferredLanguage();

    // Tests: replace what the system answers; std::nullopt restores the live answer.
    static void setOperatingSystemVersionOverride(std::optional<OperatingSystemVersion> version);
    static void setPreferredLanguagesOverride(std::optional<std::vector<std::string>> languages);
};

}  // namespace platform
