#pragma once
// What a certificate retrieval does once the certificate is installed in the token.
enum class CertificateRetrievalMode {
    // Fetch and install, then complete without showing anything.
    retrieve,
    // Fetch and install, then show the certificate until the user confirms.
    retrieveAndShow,
    // Show the certificate already installed for the context; without one, as retrieveAndShow.
    showOnly,
};
