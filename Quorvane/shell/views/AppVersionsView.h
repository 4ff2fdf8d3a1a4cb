#pragma once
// The update dialog: the running version and what is known of an update, with a button that opens the
// download page and, in a sheet with a cancel path, buttons to postpone or dismiss a non-forced update. Left
// aligned inline, centred in a sheet.
#include <QWidget>
#include <memory>

#include "AppVersionsViewModel.h"

class QLabel;
class QVBoxLayout;
class StyledButton;

class AppVersionsView : public QWidget {
  public:
    explicit AppVersionsView(std::shared_ptr<AppVersionsViewModel> model, QWidget* parent = nullptr);

    // Absent where the state shows no such button.
    StyledButton* downloadButton() const { return downloadButton_; }
    StyledButton* remindButton() const { return remindButton_; }
    StyledButton* cancelButton() const { return cancelButton_; }

  private:
    void addContent(QVBoxLayout* layout);

    std::shared_ptr<AppVersionsViewModel> model_;
    StyledButton* downloadButton_ = nullptr;
    StyledButton* remindButton_ = nullptr;
    StyledButton* cancelButton_ = nullptr;
};
