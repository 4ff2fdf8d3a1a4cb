#pragma once
// Shows a screen model's sheet: a window-modal sheet over the host's window exactly while the model's sheet
// state has a value, with new content for each new value. The host is the screen whose model owns the state.
//
// A sheet ends in one of two ways. The model clears or replaces its state: the sheet goes, and its content is
// told (`dismissed`) so that nothing it runs (a PIN time-out) acts afterwards. Or the user closes it by the
// platform's means (Esc, the sheet's close button), or the host's window goes away: then the content's cancel
// path runs, as its own Cancel button would, and the model decides what follows. The sheet never just
// vanishes while the model waits for it: where the content offers no cancel at that moment (a PIN already
// handed over, a pinpad reader that is cancelled on the reader), Esc and the close button do nothing.
//
// Main thread only. Made with modalSheet(); it belongs to the host (a child object) and keeps the state
// alive.
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

#include "Quorvane/shell/views/ModalSheetState.h"
#include "Quorvane/shell/views/Sheet.h"

class SheetPresenter : public QObject {
  public:
    // What one presentation shows.
    struct Content {
        // The sheet's content; the sheet takes it.
        QWidget* widget = nullptr;
        // Esc, the sheet's close button, the host's window going away. None: the user cannot close the sheet.
        std::function<void()> cancel;
        // The presentation has ended; the content is about to go.
        std::function<void()> dismissed;
        // A fixed width for the sheet; 0 leaves the content its own.
        int width = 0;
    };

    template <class State>
    using ContentBuilder = std::function<Content(const State&)>;

    // Presents the state's sheets over the host, starting with the value it has now.
    template <class State>
    static SheetPresenter* modalSheet(QWidget* host, std::shared_ptr<ModalSheetState<State>> state,
                                      ContentBuilder<State> content) {
        auto* presenter = new SheetPresenter(host, state, [state, content]() -> std::optional<Content> {
            if (!state->value())
                return std::nullopt;
            return content(*state->value());
        });
        presenter->subscription_ = state->subscribe([presenter] { presenter->update(); });
        presenter->update();
        return presenter;
    }

    ~SheetPresenter() override;

    // The sheet while one is presented.
    Sheet* sheet() const { return sheet_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    SheetPresenter(QWidget* host, std::shared_ptr<void> state, std::function<std::optional<Content>()> build);

    void update();
    void dismiss();
    void cancel();
    void open();

    QWidget* host_;
    std::shared_ptr<void> state_;
    std::function<std::optional<Content>()> build_;
    Observable::Subscription subscription_;
    QPointer<Sheet> sheet_;
    Content content_;
};
