#pragma once
// The certificate retrieval as a screen: the progress page while the certificate is fetched, then the result
// page once the model has a certificate to show. Showing the screen starts the retrieval (once per model).
#include <QWidget>
#include <memory>

#include "CertificateRetrievalViewModel.h"

class CertificateRetrievalResultView;
class InfoView;

class CertificateRetrievalView : public QWidget {
  public:
    explicit CertificateRetrievalView(std::shared_ptr<CertificateRetrievalViewModel> model,
                                      QWidget* parent = nullptr);

    const std::shared_ptr<CertificateRetrievalViewModel>& model() const { return model_; }
    // The page on screen: one of the two is set.
    InfoView* progressView() const { return progress_; }
    CertificateRetrievalResultView* resultView() const { return result_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void render();

    std::shared_ptr<CertificateRetrievalViewModel> model_;
    Observable::Subscription subscription_;
    InfoView* progress_ = nullptr;
    CertificateRetrievalResultView* result_ = nullptr;
};
