#include "ApiError.h"

#include <algorithm>
#include <map>

#include "Crypto.h"

namespace sim {

namespace {

struct ErrorText {
    int status;
    const char* en;
    const char* de;
    const char* fr;
    const char* nl;
};

const std::map<std::string, ErrorText>& errorTexts() {
    static const std::map<std::string, ErrorText> texts = {
        {"BAD_REQUEST",
         {400, "The request is not valid.", "Die Anfrage ist ung\xC3\xBCltig.",
          "La requ\xC3\xAAte n'est pas valide.", "Het verzoek is ongeldig."}},
        {"NOT_FOUND",
         {404, "This service does not exist.", "Dieser Dienst existiert nicht.", "Ce service n'existe pas.",
          "Deze dienst bestaat niet."}},
        {"PAYLOAD_TOO_LARGE",
         {413, "The request is too large.", "Die Anfrage ist zu gro\xC3\x9F.",
          "La requ\xC3\xAAte est trop grande.", "Het verzoek is te groot."}},
        {"SESSION_NOT_FOUND",
         {401, "Your session was not found. Please log in again.",
          "Ihre Sitzung wurde nicht gefunden. Bitte melden Sie sich erneut an.",
          "Votre session est introuvable. Veuillez vous reconnecter.",
          "Uw sessie werd niet gevonden. Meld u opnieuw aan."}},
        {"SESSION_EXPIRED",
         {401, "Your session has expired. Please log in again.",
          "Ihre Sitzung ist abgelaufen. Bitte melden Sie sich erneut an.",
          "Votre session a expir\xC3\xA9. Veuillez vous reconnecter.",
          "Uw sessie is verlopen. Meld u opnieuw aan."}},
        {"SESSION_NOT_AUTHENTICATED",
         {401, "You are not logged in.", "Sie sind nicht angemeldet.",
          "Vous n'\xC3\xAAtes pas connect\xC3\xA9.", "U bent niet aangemeld."}},
        {"MEAN_NOT_AVAILABLE",
         {400, "This means of authentication is not available.",
          "Dieses Authentifizierungsmittel ist nicht verf\xC3\xBCgbar.",
          "Ce moyen d'authentification n'est pas disponible.",
          "Dit authenticatiemiddel is niet beschikbaar."}},
        {"INVALID_CERTIFICATE",
         {401, "The certificate of your card is not valid.",
          "Das Zertifikat Ihrer Karte ist ung\xC3\xBCltig.", "Le certificat de votre carte n'est pas valide.",
          "Het certificaat van uw kaart is ongeldig."}},
        {"INVALID_SIGNATURE",
         {401, "The signature of your card could not be verified.",
          "Die Signatur Ihrer Karte konnte nicht gepr\xC3\xBC"
          "ft werden.",
          "La signature de votre carte n'a pas pu \xC3\xAAtre v\xC3\xA9rifi\xC3\xA9"
          "e.",
          "De handtekening van uw kaart kon niet worden geverifieerd."}},
        {"CARD_MISMATCH",
         {403, "Please use the card you logged in with.",
          "Bitte verwenden Sie die Karte, mit der Sie sich angemeldet haben.",
          "Veuillez utiliser la carte avec laquelle vous vous \xC3\xAAtes connect\xC3\xA9.",
          "Gebruik de kaart waarmee u zich hebt aangemeld."}},
        {"WALLET_NOT_AUTHENTICATED",
         {400, "The login in the wallet app is not confirmed.",
          "Die Anmeldung in der Wallet-App ist nicht best\xC3\xA4tigt.",
          "La connexion dans l'application wallet n'est pas confirm\xC3\xA9"
          "e.",
          "De aanmelding in de wallet-app is niet bevestigd."}},
        {"POLL_SESSION_NOT_FOUND",
         {404, "The wallet session was not found.", "Die Wallet-Sitzung wurde nicht gefunden.",
          "La session wallet est introuvable.", "De wallet-sessie werd niet gevonden."}},
        {"ONBOARDING_SESSION_NOT_FOUND",
         {404, "The registration was not found.", "Die Registrierung wurde nicht gefunden.",
          "L'inscription est introuvable.", "De registratie werd niet gevonden."}},
        {"CONSENT_SESSION_NOT_FOUND",
         {404, "The signing request was not found.", "Der Signaturauftrag wurde nicht gefunden.",
          "La demande de signature est introuvable.", "Het ondertekeningsverzoek werd niet gevonden."}},
        {"ACCOUNT_NOT_FOUND",
         {404, "You have no remote signing account.", "Sie haben kein Fernsignaturkonto.",
          "Vous n'avez pas de compte de signature \xC3\xA0 distance.",
          "U hebt geen account voor ondertekenen op afstand."}},
        {"ACCOUNT_EXISTS",
         {409, "You already have a remote signing account.", "Sie haben bereits ein Fernsignaturkonto.",
          "Vous avez d\xC3\xA9j\xC3\xA0 un compte de signature \xC3\xA0 distance.",
          "U hebt al een account voor ondertekenen op afstand."}},
        {"ACCOUNT_CANNOT_SIGN",
         {403, "Your account cannot sign at the moment.", "Ihr Konto kann derzeit nicht signieren.",
          "Votre compte ne peut pas signer pour le moment.", "Uw account kan momenteel niet ondertekenen."}},
        {"INTERNAL_ERROR",
         {500, "Something went wrong on our side.", "Bei uns ist ein Fehler aufgetreten.",
          "Une erreur s'est produite chez nous.", "Er ging bij ons iets mis."}},
        {"SERVICE_UNAVAILABLE",
         {503, "The service is temporarily unavailable.",
          "Der Dienst ist vor\xC3\xBC"
          "bergehend nicht verf\xC3\xBCgbar.",
          "Le service est temporairement indisponible.", "De dienst is tijdelijk niet beschikbaar."}},
    };
    return texts;
}

}  // namespace

std::string codeForStatus(int status) {
    switch (status) {
        case 401:
            return "SESSION_NOT_AUTHENTICATED";
        case 403:
            return "ACCOUNT_CANNOT_SIGN";
        case 404:
            return "NOT_FOUND";
        case 409:
            return "ACCOUNT_EXISTS";
        case 413:
            return "PAYLOAD_TOO_LARGE";
        case 503:
            return "SERVICE_UNAVAILABLE";
        default:
            return status >= 500 ? "INTERNAL_ERROR" : "BAD_REQUEST";
    }
}

Json errorBody(const std::string& code) {
    auto it = errorTexts().find(code);
    const ErrorText& text = it != errorTexts().end() ? it->second : errorTexts().at("INTERNAL_ERROR");
    std::string lower = code;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return c == '_' ? '-' : static_cast<char>(std::tolower(c)); });
    auto entry = [&lower](const char* language, const char* message) {
        return Json{{"text", message},
                    {"faqUrl", std::string("https://faq.quorvane.example/") + language + "/errors/" + lower}};
    };
    Json body;
    body["error"] = code;
    body["supportIds"] = Json::array({randomId().substr(0, 12)});
    body["en"] = entry("en", text.en);
    body["de"] = entry("de", text.de);
    body["fr"] = entry("fr", text.fr);
    body["nl"] = entry("nl", text.nl);
    return body;
}

int statusOf(const std::string& code) {
    auto it = errorTexts().find(code);
    return it != errorTexts().end() ? it->second.status : 500;
}

void fail(const std::string& code, const std::string& detail) {
    throw ApiError{code, detail};
}

std::string text(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void setJson(httplib::Response& res, int status, const Json& body) {
    res.status = status;
    res.set_content(text(body), "application/json");
}

}  // namespace sim
