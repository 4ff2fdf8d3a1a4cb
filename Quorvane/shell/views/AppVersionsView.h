#pragma once
// The update dialog: the running version and what is known of an update, with a button that opens the
// download page and, in a sheet with a cancel path, buttons to postpone or dismiss a non-forced update. Left
// aligned inline, centred in a sheet.
#include <QWidget>
#include <memory>

#include "AppVersionsViewModel.h"

class QLabel;
class QVBoxLayout;
class Sheet;
class StyledButton;

class AppVersionsView : public QWidget {
  public:
    explicit AppVersionsView(std::shared_ptr<AppVersionsViewModel> model, QWidget* parent = nullptr);

    // Puts this dialog in a sheet over the owner's window, with the default padding around it. Esc and the
    // window's close button cancel it, except for a forced update, which gives no way to close it.
    Sheet* makeSheet(QWidget* owner);

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
