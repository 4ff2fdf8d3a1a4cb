#pragma once
// The card selection screen: the insert-card panel with a link to card-reader help, a waiting message while
// a card reading is slow, or the list of inserted cards to pick from; "Done" closes the window. It shows the
// model and forwards the holder's pick; the decisions are the model's.
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CardSelectionViewModel.h"

class CardView;
class QLabel;
class QVBoxLayout;
class StyledButton;

class CardSelectionView : public QWidget {
  public:
    enum class Field { doneButton };

    // Help on connecting a card reader, on the public eID information site.
    static constexpr const char* cardReaderHelpURL = "https://eid.arvenia.example/en/question-and-answer";

    explicit CardSelectionView(std::shared_ptr<CardSelectionViewModel> model, QWidget* parent = nullptr);

    StyledButton* doneButton() const { return done_; }
    // Present in the state that shows them.
    QLabel* guidanceLabel() const { return guidance_; }
    QLabel* helpLink() const { return helpLink_; }
    const std::vector<CardView*>& cardViews() const { return cardViews_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void render();
    QWidget* makeNoCards();
    QWidget* makeCardList(const std::vector<std::shared_ptr<pindle::Card>>& cards);
    void select(std::size_t index);

    std::shared_ptr<CardSelectionViewModel> model_;
    Observable::Subscription subscription_;
    QVBoxLayout* stateArea_;
    QWidget* state_ = nullptr;
    QLabel* guidance_ = nullptr;
    QLabel* helpLink_ = nullptr;
    std::vector<CardView*> cardViews_;
    StyledButton* done_;
    // What is shown: the state's kind, the listed cards' identifiers, the guidance.
    std::optional<CardSelectionViewState::Kind> shownKind_;
    std::vector<std::string> shownCards_;
    std::string shownGuidance_;
};
