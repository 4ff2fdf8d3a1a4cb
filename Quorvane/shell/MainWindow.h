#pragma once
// The main window on Qt Widgets: 800 × 550 at least, titled "Quorvane App", closable and resizable but
// without a minimise button, centred once when it is made. Closing only hides it; it is kept for the life of
// the app. Its content is made per mode by the content factory.
#include <QMainWindow>
#include <functional>

#include "Quorvane/core/MainWindowController.h"

class MainWindow : public QMainWindow, public MainWindowController::Window {
  public:
    // Makes the screen shown for a mode. A screen that is replaced gets a close event at once, before the new
    // one is made; a screen with a model lets it go there (as a replaced screen's model is dropped with it),
    // since the widget itself is deleted only once control returns to the event loop.
    using ContentFactory = std::function<QWidget*(const AppOpenMode& mode)>;

    static constexpr int minimumWidth = 800;
    static constexpr int minimumHeight = 550;

    explicit MainWindow(ContentFactory contentFactory);

    void makeKeyAndOrderFront() override;
    bool isVisible() const override;
    void setContent(const AppOpenMode& mode) override;
    void close() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    ContentFactory contentFactory_;
};
