#pragma once
// The result page of a certificate retrieval: a title, a line of explanation, the certificate's card and
// "Done", which has the keyboard focus once the page is shown, so that Return confirms.
#include <QWidget>
#include <memory>

#include "CertificateRetrievalResultViewModel.h"

class QLabel;
class SigningCertificateInfoView;
class StyledButton;

class CertificateRetrievalResultView : public QWidget {
  public:
    explicit CertificateRetrievalResultView(std::shared_ptr<CertificateRetrievalResultViewModel> model,
                                            QWidget* parent = nullptr);

    QLabel* titleLabel() const { return title_; }
    QLabel* textLabel() const { return text_; }
    SigningCertificateInfoView* card() const { return card_; }
    StyledButton* doneButton() const { return doneButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    std::shared_ptr<CertificateRetrievalResultViewModel> model_;
    QLabel* title_;
    QLabel* text_;
    SigningCertificateInfoView* card_;
    StyledButton* doneButton_;
};
