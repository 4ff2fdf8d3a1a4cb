#include "Pdf.h"

#include <cstdio>
#include <map>

namespace sim {

namespace {

// A PDF string literal in WinAnsi (Latin-1 for the characters used here).
std::string pdfString(const std::string& utf8) {
    std::string out = "(";
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        unsigned code = '?';
        std::size_t length = 1;
        if (c < 0x80) {
            code = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            length = 2;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
        }
        i += length;
        if (code > 0xFF || code < 0x20)
            code = '?';
        if (code == '(' || code == ')' || code == '\\') {
            out += '\\';
            out += static_cast<char>(code);
        } else if (code >= 0x80) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", code);
            out += octal;
        } else {
            out += static_cast<char>(code);
        }
    }
    return out + ")";
}

struct AgreementText {
    std::string title;
    std::vector<std::string> body;
    std::string acceptedBy;
};

const AgreementText& textFor(const std::string& language) {
    static const std::map<std::string, AgreementText> texts = {
        {"en",
         {"Subscriber agreement for remote signing",
          {"By accepting this agreement you ask for a qualified signing certificate",
           "that is kept for you on the remote signing service.",
           "You confirm that your identity data are correct and that you keep your",
           "means of authentication to yourself."},
          "Accepted by"}},
        {"fr",
         {"Contrat d'abonnement pour la signature \xC3\xA0 distance",
          {"En acceptant ce contrat, vous demandez un certificat de signature qualifi\xC3\xA9",
           "conserv\xC3\xA9 pour vous par le service de signature \xC3\xA0 distance.",
           "Vous confirmez que vos donn\xC3\xA9"
           "es d'identit\xC3\xA9 sont correctes."},
          "Accept\xC3\xA9 par"}},
        {"nl",
         {"Abonnementsovereenkomst voor ondertekenen op afstand",
          {"Door deze overeenkomst te aanvaarden vraagt u een gekwalificeerd",
           "handtekeningcertificaat aan dat de dienst voor u bewaart.",
           "U bevestigt dat uw identiteitsgegevens juist zijn."},
          "Aanvaard door"}},
        {"de",
         {"Abonnementvertrag f\xC3\xBCr die Fernsignatur",
          {"Mit diesem Vertrag beantragen Sie ein qualifiziertes Signaturzertifikat,",
           "das der Fernsignaturdienst f\xC3\xBCr Sie aufbewahrt.",
           "Sie best\xC3\xA4tigen, dass Ihre Identit\xC3\xA4tsdaten korrekt sind."},
          "Angenommen von"}},
    };
    auto it = texts.find(language);
    return it != texts.end() ? it->second : texts.at("en");
}

}  // namespace

std::vector<std::uint8_t> makePDF(const std::string& title, const std::vector<std::string>& lines) {
    std::string content =
        "BT\n/F1 16 Tf\n72 770 Td\n22 TL\n" + pdfString(title) + " Tj\n/F1 11 Tf\n16 TL\nT*\n";
    for (const auto& line : lines)
        content += pdfString(line) + " Tj\nT*\n";
    content += "ET\n";

    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 4 0 R >> >> "
        "/Contents 5 0 R >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return std::vector<std::uint8_t>(pdf.begin(), pdf.end());
}

std::vector<std::uint8_t> agreementPDF(const std::string& language) {
    const auto& text = textFor(language);
    return makePDF(text.title, text.body);
}

std::vector<std::uint8_t> signedAgreementPDF(const std::string& language, const std::string& holder,
                                             const std::string& rrnr, const std::string& signedAt) {
    const auto& text = textFor(language);
    auto lines = text.body;
    lines.push_back("");
    lines.push_back(text.acceptedBy + ": " + holder + " (" + rrnr + ")");
    lines.push_back(signedAt);
    return makePDF(text.title, lines);
}

}  // namespace sim
