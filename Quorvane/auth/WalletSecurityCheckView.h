#pragma once
// The security check of the wallet sheet: the verification code that the wallet app must show as well, the
// advice to approve only when both match and, when documents are signed, a link that opens a popover with
// each document's title and fingerprint. Renders what it is given; calls nothing.
#include <QPointer>
#include <QWidget>
#include <string>
#include <vector>

#include "Quorvane/core/BulkSigningRequest.h"

class QPushButton;

class WalletSecurityCheckView : public QWidget {
  public:
    WalletSecurityCheckView(std::string verificationCode, std::vector<BulkSigningRequest::Document> documents,
                            QWidget* parent = nullptr);

    // True while the fingerprints popover is shown.
    bool showDocumentFingerprints() const { return showDocumentFingerprints_; }
    // The link that opens the popover; absent without documents.
    QPushButton* fingerprintsButton() const { return fingerprintsButton_; }
    // The popover while it is shown.
    QWidget* fingerprintsPopover() const { return popover_; }

  private:
    void openDocumentFingerprints();

    std::vector<BulkSigningRequest::Document> documents_;
    QPushButton* fingerprintsButton_ = nullptr;
    QPointer<QWidget> popover_;
    bool showDocumentFingerprints_ = false;
};
