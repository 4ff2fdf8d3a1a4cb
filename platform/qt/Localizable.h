#pragma once
// The string table "Localizable": user-visible texts are looked up by key in the current language, falling
// back to the key itself, and their "%@" and "%lld" placeholders are filled in order.
#include <concepts>
#include <initializer_list>
#include <string>
#include <string_view>

namespace platform {

// One value put into a placeholder: text as it is, integers in decimal.
class LocalizedArgument {
  public:
    LocalizedArgument(std::string text) : text_(std::move(text)) {}
    LocalizedArgument(const char* text) : text_(text) {}
    template <std::integral Integer>
    LocalizedArgument(Integer value) : text_(std::to_string(value)) {}

    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

std::string localized(std::string_view key, std::initializer_list<LocalizedArgument> arguments);

// Loads the translations of the preferred languages from the resources under ":/i18n"
// (Localizable_<lang>.qm), English last, so that keys which are names rather than sentences always read as
// English text.
void installTranslations();

}  // namespace platform

template <class... Arguments>
std::string L(std::string_view key, const Arguments&... arguments) {
    return platform::localized(key, {platform::LocalizedArgument(arguments)...});
}
