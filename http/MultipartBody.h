#pragma once
// A multipart/form-data request body. Put contentTypeHeaderValue() in the request's "Content-Type" field and
// requestBody() (a byte string) in its body. Texts are written as UTF-8.
#include <cstdint>
#include <optional>
#include <string>

#include "outside/Common/Common.h"
#include "platform/Bytes.h"

namespace vastel {

class MultipartBody {
  public:
    // The boundary is the provider's next UUID text, asked once.
    explicit MultipartBody(UUIDProviding& uuidProvider);

    const std::string& boundary() const { return boundary_; }
    // "multipart/form-data; boundary=" followed by the boundary.
    std::string contentTypeHeaderValue() const;
    // The parts added so far, then the closing delimiter "--boundary--" (no line break after it).
    platform::Bytes requestBody() const;

    // A text part (declared as ISO-8859-1, 8bit).
    void add(const std::string& value, const std::string& name);
    // An integer part: the value's eight bytes, least significant first (not decimal text).
    void add(std::int64_t value, const std::string& name);
    // A file part.
    void add(const platform::Bytes& data, const std::string& fieldName, const std::string& fileName,
             const std::string& mimeType);

  private:
    void addPart(const std::string& fieldName, const std::optional<std::string>& fileName,
                 const std::optional<std::string>& mimeType, const platform::Bytes& content);
    void append(const std::string& text);

    std::string boundary_;
    platform::Bytes body_;
};

}  // namespace vastel
