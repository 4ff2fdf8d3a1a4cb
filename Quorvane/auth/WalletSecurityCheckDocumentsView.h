#pragma once
// The documents of a signing in the security check's popover: a scrolling grid of each document's numbered
// title and its fingerprint, the hash text exactly as the request carried it.
#include <QScrollArea>
#include <vector>

#include "Quorvane/core/BulkSigningRequest.h"

class WalletSecurityCheckDocumentsView : public QScrollArea {
  public:
    explicit WalletSecurityCheckDocumentsView(std::vector<BulkSigningRequest::Document> documents,
                                              QWidget* parent = nullptr);

    // The grid's size, up to a limit past which it scrolls.
    QSize sizeHint() const override;

    // "01. name": the position from 1, at least two digits, and the name or the text for a missing one.
    static std::string documentTitle(std::size_t position, const BulkSigningRequest::Document& document);
};
