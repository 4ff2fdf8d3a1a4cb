#include "api/PreferredLanguages.h"

namespace halcyra {

std::optional<std::string> languageCode(std::string_view identifier) {
    std::size_t end = identifier.find_first_of("-_@.");
    std::string_view part = identifier.substr(0, end);
    if (part.size() < 2 || part.size() > 3)
        return std::nullopt;
    std::string code;
    for (char c : part) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return std::nullopt;
        code += static_cast<char>(c | 0x20);
    }
    return code;
}

}  // namespace halcyra
