#pragma once
// Running the clients' coroutines in tests, a card that signs like an eID card, and OpenSSL checks.
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "api/HalcyraError.h"
#include "platform/Bytes.h"
#include "platform/Json.h"
#include "platform/testing/Await.h"
#include "platform/testing/TestPKI.h"

namespace apitest {

using testsupport::Done;
using testsupport::run;

// The value of a call that must succeed (fails the test and throws otherwise).
template <class T>
T must(QCoro::Task<T>&& task) {
    auto outcome = run(std::move(task));
    if (!outcome.value) {
        std::string what = "unknown";
        try {
            std::rethrow_exception(outcome.error);
        } catch (const halcyra::HalcyraError& e) {
            what = e.errorDescription();
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        ADD_FAILURE() << "the call failed: " << what;
        throw std::runtime_error(what);
    }
    return std::move(*outcome.value);
}

enum class SignatureForm { der, raw };

// What an eID card gives for a digest: ECDSA (DER, or r||s as cards send it) or RSA PKCS#1 v1.5.
platform::Bytes cardSignature(const testsupport::Issued& card, const platform::Bytes& digest,
                              SignatureForm form = SignatureForm::der);

// True when the DER ECDSA signature verifies over the digest with the certificate's key.
bool verifiesWith(const platform::Bytes& certificateDER, const platform::Bytes& digest,
                  const platform::Bytes& signature);
// True when the certificate is signed by the issuer's key.
bool issuedBy(const platform::Bytes& certificateDER, const platform::Bytes& issuerDER);
// A subject attribute (NID) of a DER certificate.
std::optional<std::string> subjectAttribute(const platform::Bytes& certificateDER, int nid);

// The key names of a JSON object, in order.
std::vector<std::string> keys(const platform::json::Json& object);

}  // namespace apitest
