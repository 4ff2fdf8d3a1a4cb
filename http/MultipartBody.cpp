#include "http/MultipartBody.h"

namespace vastel {

namespace {
constexpr const char* crlf = "\r\n";

// A text inside a part's header: a quote or line break would end the field early and let the text inject
// header lines or parts, so they are percent-encoded as browsers do.
std::string headerSafe(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '"')
            out += "%22";
        else if (c == '\r')
            out += "%0D";
        else if (c == '\n')
            out += "%0A";
        else
            out += c;
    }
    return out;
}
}  // namespace

MultipartBody::MultipartBody(UUIDProviding& uuidProvider) : boundary_(uuidProvider.newUUIDString()) {}

std::string MultipartBody::contentTypeHeaderValue() const {
    return "multipart/form-data; boundary=" + boundary_;
}

platform::Bytes MultipartBody::requestBody() const {
    platform::Bytes out = body_;
    const std::string closing = "--" + boundary_ + "--";
    out.insert(out.end(), closing.begin(), closing.end());
    return out;
}

void MultipartBody::append(const std::string& text) {
    body_.insert(body_.end(), text.begin(), text.end());
}

void MultipartBody::addPart(const std::string& fieldName, const std::optional<std::string>& fileName,
                            const std::optional<std::string>& mimeType, const platform::Bytes& content) {
    append("--" + boundary_ + crlf);
    append("Content-Disposition: form-data; name=\"" + headerSafe(fieldName) + "\"");
    if (fileName)
        append("; filename=\"" + headerSafe(*fileName) + "\"" + crlf);
    else
        append(crlf);
    if (mimeType)
        append("Content-Type: " + headerSafe(*mimeType) + crlf);
    append(crlf);
    body_.insert(body_.end(), content.begin(), content.end());
    append(crlf);
}

void MultipartBody::add(const std::string& value, const std::string& name) {
    append("--" + boundary_ + crlf);
    append("Content-Disposition: form-data; name=\"" + headerSafe(name) + "\"" + crlf);
    append(std::string("Content-Type: text/plain; charset=ISO-8859-1") + crlf);
    append(std::string("Content-Transfer-Encoding: 8bit") + crlf);
    append(crlf);
    append(value);
    append(crlf);
}

void MultipartBody::add(std::int64_t value, const std::string& name) {
    platform::Bytes content(8);
    auto bits = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i)
        content[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    addPart(name, std::nullopt, std::nullopt, content);
}

void MultipartBody::add(const platform::Bytes& data, const std::string& fieldName,
                        const std::string& fileName, const std::string& mimeType) {
    addPart(fieldName, fileName, mimeType, data);
}

}  // namespace vastel
