#pragma once
// Stand-ins for the screens of the account flows, until those flows land: each model is built as
// the navigation builds the real one and keeps its completion contract, so that the flows only replace these
// (drop the `standin::` and include theirs). The screen shows the flow's title.
#include <QLabel>
#include <functional>
#include <memory>
#include <optional>

#include "Quorvane/core/AppError.h"
#include "Quorvane/core/Observable.h"
#include "Quorvane/core/SigningSession.h"
#include "Quorvane/core/SigningSessionContext.h"
#include "platform/qt/Localizable.h"

namespace standin {

// Reports once, with none on success or the error that ended the flow.
using Completed = std::function<void(std::optional<AppError>)>;

struct AccountCreationViewModel : Observable {
    AccountCreationViewModel(SigningSessionContext context, Completed accountCreationCompleted,
                             std::function<void()> accountCreationCancelled)
        : context(std::move(context)),
          accountCreationCompleted(std::move(accountCreationCompleted)),
          accountCreationCancelled(std::move(accountCreationCancelled)) {}
    const SigningSessionContext context;
    const Completed accountCreationCompleted;
    const std::function<void()> accountCreationCancelled;
};

struct AccountInfoViewModel : Observable {
    AccountInfoViewModel(SigningSessionContext context, SigningSession session)
        : context(std::move(context)), session(std::move(session)) {}
    const SigningSessionContext context;
    const SigningSession session;
};

// The screen of one of the models above.
template <class Model>
class FlowScreen : public QLabel {
  public:
    FlowScreen(std::shared_ptr<Model> model, const char* titleKey)
        : QLabel(QString::fromStdString(L(titleKey))), model_(std::move(model)) {
        setAlignment(Qt::AlignCenter);
    }
    const std::shared_ptr<Model>& model() const { return model_; }

  private:
    std::shared_ptr<Model> model_;
};

}  // namespace standin
