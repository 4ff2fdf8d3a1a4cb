#pragma once
// A screen shown as a sheet: a window-modal dialog over the owner's window. Its owner keeps it exactly while
// its own state says a sheet is up and deletes it when that state clears. Esc and the window's close button
// go through the owner's cancel path; a sheet without one (a forced update) cannot be closed by the user.
#include <QDialog>
#include <functional>

class Sheet : public QDialog {
  public:
    // Takes the content; the owner widget gives the window the sheet is modal to, and its lifetime.
    Sheet(QWidget* content, QWidget* owner, std::function<void()> cancelRequested);

    QWidget* content() const { return content_; }

    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QWidget* content_;
    std::function<void()> cancelRequested_;
};
