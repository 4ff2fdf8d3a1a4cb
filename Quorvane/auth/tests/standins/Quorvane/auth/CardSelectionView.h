#pragma once
// Stand-in until the card selection lands: one button per card.
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <memory>

#include "Quorvane/auth/CardSelectionViewModel.h"

class CardSelectionView : public QWidget {
  public:
    explicit CardSelectionView(std::shared_ptr<CardSelectionViewModel> model, QWidget* parent = nullptr)
        : QWidget(parent), model_(std::move(model)) {
        auto* layout = new QVBoxLayout(this);
        for (const auto& card : model_->cards) {
            auto* button =
                new QPushButton(QString::fromStdString(card->firstName() + " " + card->lastName()));
            layout->addWidget(button);
            connect(button, &QPushButton::clicked, this, [this, card] {
                auto model = model_;
                model->cardSelected(card);
            });
        }
    }

  private:
    std::shared_ptr<CardSelectionViewModel> model_;
};
