#pragma once
// The main window's content: the widget for the navigation model's current screen model, and the model's PIN
// or wallet sheet over it. It decides nothing itself.
//
// When the window replaces it, its close event lets everything go at once: the screen, the sheet, and the
// navigation model, whose flow then stops.
#include <QWidget>
#include <memory>

#include "AppNavigationViewModel.h"

class QHBoxLayout;
class SheetPresenter;

class AppNavigationView : public QWidget {
  public:
    explicit AppNavigationView(std::shared_ptr<AppNavigationViewModel> model, QWidget* parent = nullptr);

    // The screen shown for the current target.
    QWidget* screen() const { return screen_; }
    SheetPresenter* sheetPresenter() const { return sheetPresenter_; }
    // Null once the view has let it go.
    const std::shared_ptr<AppNavigationViewModel>& model() const { return model_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void render();
    static QWidget* makeScreen(const AppNavigationViewModel::Screen& screen);

    std::shared_ptr<AppNavigationViewModel> model_;
    Observable::Subscription subscription_;
    QHBoxLayout* layout_;
    QWidget* screen_ = nullptr;
    std::uint64_t shownRevision_ = 0;
    SheetPresenter* sheetPresenter_ = nullptr;
};
