#pragma once
// The app's user defaults: typed values in an INI file ($XDG_CONFIG_HOME/quorvane/defaults.ini by default).
// Nothing is cached: every read opens the file afresh, and every write and removal is synced to disk at once,
// so a value written anywhere in the app (or by another process) is what the next read sees.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Date.h"

namespace platform {

class UserDefaults {
  public:
    explicit UserDefaults(std::filesystem::path file);

    // The app's standard defaults. Its file is the one set with setStandardFile(), or else the default
    // location under the XDG config folder as it is when standard() is first called.
    static UserDefaults standard();
    // Points standard() at another file (tests, and programs that keep their defaults elsewhere).
    static void setStandardFile(std::filesystem::path file);

    const std::filesystem::path& file() const { return file_; }

    // Reads answer nothing when the key is absent or holds a value of another type. Booleans and integers are
    // kept as text in the file; a text that does not read as the type asked for is another type.
    std::optional<std::string> string(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<std::int64_t> integer(std::string_view key) const;
    // Dates are stored with their type (millisecond precision); a text under the key is not a date.
    std::optional<Date> date(std::string_view key) const;
    bool contains(std::string_view key) const;

    void setString(std::string_view key, std::string_view value);
    void setBoolean(std::string_view key, bool value);
    void setInteger(std::string_view key, std::int64_t value);
    void setDate(std::string_view key, Date value);
    void remove(std::string_view key);
    // Removes every key of the domain.
    void clear();

  private:
    std::filesystem::path file_;
};

}  // namespace platform
