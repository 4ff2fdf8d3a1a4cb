#pragma once
// Small one-page PDF documents (Helvetica text lines) for the subscriber agreement.
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// `lines` are UTF-8; characters outside Latin-1 are shown as '?'.
std::vector<std::uint8_t> makePDF(const std::string& title, const std::vector<std::string>& lines);

// The subscriber agreement in the language "en", "fr", "nl" or "de" (any other code gives English).
std::vector<std::uint8_t> agreementPDF(const std::string& language);

// The agreement with the holder's acceptance appended.
std::vector<std::uint8_t> signedAgreementPDF(const std::string& language, const std::string& holder,
                                             const std::string& rrnr, const std::string& signedAt);

}  // namespace sim
