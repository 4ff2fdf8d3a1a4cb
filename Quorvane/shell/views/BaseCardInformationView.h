#pragma once
// The panel that says whose identity a screen is about: the holder's full name and national number, each
// beside an icon, in the standard bordered box, with an optional block of the screen's own below. The values
// come from the active session of the context when it holds them, else from the eID card, else "?".
//
// The session is looked up once each time the panel is shown (a lookup drops a session that is about to
// expire, so it is not repeated on every repaint); a change in the session store shows at the next showing.
#include <QWidget>
#include <memory>

#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/SigningSessionContext.h"

class QLabel;
class SigningSessionDatabaseClient;

class BaseCardInformationView : public QWidget {
  public:
    // Without a store of its own, the panel asks the app's session store of the moment.
    explicit BaseCardInformationView(
        SigningSessionContext context, QWidget* content = nullptr,
        std::shared_ptr<SigningSessionDatabaseClient> signingSessionDatabase = nullptr,
        QWidget* parent = nullptr);

    QLabel* fullNameLabel() const { return fullName_; }
    QLabel* nationalNumberLabel() const { return nationalNumber_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void refresh();

    SigningSessionContext context_;
    std::shared_ptr<SigningSessionDatabaseClient> signingSessionDatabase_;
    Dependency<SigningSessionDatabaseKey> _signingSessionDatabase;
    QLabel* fullName_;
    QLabel* nationalNumber_;
};
