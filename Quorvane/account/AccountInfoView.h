#pragma once
// The account screen: a header with "Deactivate certificate", then the holder's personal information, the
// signing certificate the token holds (or the button that retrieves one), the signed subscriber agreement,
// and "Done" (with the keyboard focus). The model's sheet goes over it, and a save dialog offers the
// downloaded agreement as a PDF file; a file that could not be written is reported by the model. It decides
// nothing itself.
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "AccountInfoViewModel.h"
#include "Quorvane/shell/views/PDFFile.h"
#include "Quorvane/shell/views/SheetPresenter.h"

class QPushButton;
class QVBoxLayout;
class SigningCertificateInfoView;
class StyledButton;

class AccountInfoView : public QWidget {
  public:
    enum class Field { doneButton };

    // Offers the file for saving over the parent's window, proposing the name (without ".pdf"), and reports
    // once what became of it.
    using SaveDialog =
        std::function<void(QWidget* parent, const PDFFile& file, const QString& defaultFileName,
                           std::function<void(PDFFile::ExportResult)> completion)>;

    // Without a save dialog of its own, the screen uses the desktop's.
    explicit AccountInfoView(std::shared_ptr<AccountInfoViewModel> model, SaveDialog saveDialog = nullptr,
                             QWidget* parent = nullptr);

    const std::shared_ptr<AccountInfoViewModel>& model() const { return model_; }
    StyledButton* deactivateButton() const { return deactivateButton_; }
    // Set while no certificate is shown.
    StyledButton* retrieveButton() const { return retrieveButton_; }
    // Set while a certificate is shown.
    SigningCertificateInfoView* certificateView() const { return certificateView_; }
    QPushButton* subscriberAgreementButton() const { return subscriberAgreementButton_; }
    StyledButton* doneButton() const { return doneButton_; }
    SheetPresenter* sheetPresenter() const { return sheetPresenter_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void render();
    void renderCertificate();
    void offerSignedAgreement();
    SheetPresenter::Content sheetContent(const AccountInfoModalState& state);
    void styleLink();

    std::shared_ptr<AccountInfoViewModel> model_;
    SaveDialog saveDialog_;
    Observable::Subscription subscription_;
    StyledButton* deactivateButton_;
    QVBoxLayout* certificateArea_;
    QWidget* certificateSection_ = nullptr;
    std::optional<SigningCertificateInfo> shownCertificate_;
    StyledButton* retrieveButton_ = nullptr;
    SigningCertificateInfoView* certificateView_ = nullptr;
    QPushButton* subscriberAgreementButton_;
    StyledButton* doneButton_;
    SheetPresenter* sheetPresenter_ = nullptr;
    bool saveDialogShown_ = false;
};
