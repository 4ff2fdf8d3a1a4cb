#include "AppVersions.h"

#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <vector>

#include "http/URLSessionRequestSender.h"
#include "http/VastelError.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/BundleInfo.h"
#include "platform/qt/SystemInfo.h"

namespace {

constexpr qint64 maxDocumentSize = static_cast<qint64>(EIDVersions::maxDocumentSize);

struct Loaded {
    enum class Outcome { body, failed, tooLarge };
    Outcome outcome = Outcome::failed;
    QByteArray body;
};

Loaded failed() {
    return {Loaded::Outcome::failed, {}};
}

// Reads a whole local file or resource, refusing anything that is not a regular file (a folder, a pipe)
// and anything larger than a document can be.
Loaded readLocal(const QString& path, bool isResource) {
    if (!isResource) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(QFile::encodeName(path).toStdString(), error))
            return failed();
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failed();
    QByteArray bytes = file.read(maxDocumentSize + 1);
    if (file.error() != QFileDevice::NoError)
        return failed();
    if (bytes.size() > maxDocumentSize)
        return {Loaded::Outcome::tooLarge, {}};
    return {Loaded::Outcome::body, std::move(bytes)};
}

// Through the HTTP client, as every request: its trust, proxy, time-outs and size limit. The time-out gives
// up on a server that stops sending, the same time for the whole reply on one that sends too slowly to ever
// finish.
QCoro::Task<Loaded> download(QUrl url, std::chrono::milliseconds timeout) {
    vastel::URLSessionRequestSender sender(vastel::APIEnvironment(url.toString().toStdString()),
                                           maxDocumentSize);
    vastel::URLRequest request;
    request.url = std::move(url);
    request.timeoutInterval = timeout;
    request.resourceTimeoutInterval = timeout;
    try {
        // Whatever body a server answered with goes on to decoding, whatever its status: only a reply that
        // never arrived whole (no connection, TLS refused, time-out, cut off) is a failed transfer.
        const auto result = co_await sender.data(std::move(request));
        co_return Loaded{Loaded::Outcome::body, QByteArray(reinterpret_cast<const char*>(result.data.data()),
                                                           qsizetype(result.data.size()))};
    } catch (const vastel::ReplyTooLargeError&) {
        co_return Loaded{Loaded::Outcome::tooLarge, {}};
    } catch (const vastel::TransportError&) {
        co_return failed();
    }
}

QCoro::Task<Loaded> load(QUrl url, std::chrono::milliseconds timeout) {
    if (url.isLocalFile())
        co_return readLocal(url.toLocalFile(), false);
    if (url.scheme() == "qrc")
        co_return readLocal(":" + url.path(), true);
    if (url.scheme() == "https" || url.scheme() == "http")
        co_return co_await download(std::move(url), timeout);
    co_return failed();
}

bool isValidUTF8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] QString text = decoder(bytes);
    return !decoder.hasError();
}

// The parts of a version, each a run of decimal digits without its leading zeros; none when the text is not
// a version.
std::optional<std::vector<std::string_view>> versionParts(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const auto end = std::min(text.find('.', start), text.size());
        auto part = text.substr(start, end - start);
        if (part.empty() ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        part.remove_prefix(std::min(part.find_first_not_of('0'), part.size()));
        parts.push_back(part);
        if (end == text.size())
            return parts;
        start = end + 1;
    }
}

// Numbers of any length, without leading zeros: the longer one is larger, else the text decides.
int compareNumbers(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

}  // namespace

AppVersions::AppVersions(AppVersionsFileLocation fileLocation, std::chrono::milliseconds fetchTimeout)
    : fileLocation_(fileLocation), fetchTimeout_(fetchTimeout) {}

QCoro::Task<std::optional<Release>> AppVersions::fetchRelease() const {
    return fetchRelease(url(fileLocation_), std::string(rawValue(fileLocation_)), fetchTimeout_,
                        _logger.get());
}

QCoro::Task<std::optional<Release>> AppVersions::fetchRelease(std::optional<QUrl> url,
                                                              std::string locationName,
                                                              std::chrono::milliseconds timeout,
                                                              std::shared_ptr<LoggerClient> logger) {
    if (!url) {
        logger->error("Could not retrieve versioning file data, no valid URL for file location " +
                      locationName);
        co_return std::nullopt;
    }
    const std::string urlText = url->toString().toStdString();
    logger->info("Retrieving versioning info from URL: " + urlText);

    const Loaded loaded = co_await load(*url, timeout);
    if (loaded.outcome == Loaded::Outcome::failed) {
        logger->error("Could not retrieve versioning file from " + urlText);
        co_return std::nullopt;
    }

    EIDVersions document;
    try {
        // A body larger than any document is not read to its end, so it cannot be shown.
        if (loaded.outcome == Loaded::Outcome::tooLarge)
            throw platform::json::DecodingError("the document is too large");
        document = EIDVersions::decode(std::string_view(loaded.body.constData(), loaded.body.size()));
    } catch (const platform::json::DecodingError&) {
        if (loaded.outcome == Loaded::Outcome::body && isValidUTF8(loaded.body))
            logger->error("Could not decode app versioning data:\n " + loaded.body.toStdString());
        else
            logger->error("Could not decode app versioning data");
        co_return std::nullopt;
    }
    co_return matchingRelease(document.platforms.linux_.components.quorvane.releases);
}

std::optional<Release> AppVersions::matchingRelease(const std::vector<Release>& releases) {
    const std::string system = currentSystemVersion();
    for (const auto& release : releases) {
        const auto& range = release.osVersion;
        if (versionOrdersBefore(range.min, system) && (!range.max || versionOrdersBefore(system, *range.max)))
            return release;
    }
    return std::nullopt;
}

std::string AppVersions::currentSystemVersion() {
    const auto version = platform::SystemInfo::operatingSystemVersion();
    return std::to_string(version.majorVersion) + "." + std::to_string(version.minorVersion) + "." +
           std::to_string(version.patchVersion);
}

std::string AppVersions::currentAppVersion() {
    return platform::BundleInfo::mainInfoValue(platform::BundleInfo::shortVersionKey).value_or("0.0.0");
}

bool versionOrdersBefore(std::string_view version, std::string_view other) {
    const auto a = versionParts(version);
    const auto b = versionParts(other);
    if (!a || !b)
        return false;
    for (std::size_t i = 0; i < std::max(a->size(), b->size()); ++i) {
        const std::string_view x = i < a->size() ? (*a)[i] : std::string_view();
        const std::string_view y = i < b->size() ? (*b)[i] : std::string_view();
        if (int order = compareNumbers(x, y); order != 0)
            return order < 0;
    }
    return false;
}

AppUpdateKind updateKind(const Release& release) {
    return updateKind(release, AppVersions::currentAppVersion());
}

AppUpdateKind updateKind(const Release& release, std::string_view appVersion) {
    const auto& upgrade = release.autoUpgrade;
    if (upgrade && upgrade->forceIfBelow && versionOrdersBefore(appVersion, *upgrade->forceIfBelow))
        return AppUpdateKind::forced;
    if (upgrade && upgrade->suggestIfBelow && versionOrdersBefore(appVersion, *upgrade->suggestIfBelow))
        return AppUpdateKind::suggested;
    if (versionOrdersBefore(appVersion, release.version))
        return AppUpdateKind::updateAvailable;
    return AppUpdateKind::upToDate;
}

QUrl preferredLink(const Release& release) {
    return preferredLink(release, platform::SystemInfo::preferredLanguages());
}

QUrl preferredLink(const Release& release, const std::vector<std::string>& preferredLanguages) {
    if (preferredLanguages.empty())
        return release.links.default_;
    // The language code is the tag's first subtag: "fr" of "fr-BE" (or of the POSIX form "fr_BE").
    const std::string& first = preferredLanguages.front();
    std::string code = first.substr(0, first.find_first_of("-_"));
    if (code.empty() || !std::all_of(code.begin(), code.end(),
                                     [](char c) { return std::isalpha(static_cast<unsigned char>(c)); }))
        return release.links.default_;
    std::transform(code.begin(), code.end(), code.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    if (release.links.locales) {
        if (auto found = release.links.locales->find(code); found != release.links.locales->end())
            return found->second;
    }
    return release.links.default_;
}
