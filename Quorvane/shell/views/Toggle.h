#pragma once
// A checkbox-style toggle whose label wraps over several lines instead of being cut off, and which a click
// on the label switches as well. The checkbox carries the label as its accessible name and takes the
// keyboard focus (Space switches it).
#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;

class Toggle : public QWidget {
  public:
    explicit Toggle(const QString& label, QWidget* parent = nullptr);

    bool isChecked() const;
    // Shows the value without calling the change handler.
    void setChecked(bool checked);
    // Called with the new value when the user switches the toggle.
    void onToggled(std::function<void(bool)> handler) { handler_ = std::move(handler); }

    QCheckBox* checkBox() const { return checkBox_; }
    QLabel* label() const { return label_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void alignCheckBox();
    void outlineCheckBox();

    QCheckBox* checkBox_;
    QLabel* label_;
    std::function<void(bool)> handler_;
};
