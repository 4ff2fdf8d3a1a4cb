#pragma once
// What the main window shows for a mode until the app's navigation screens take its place: the app's icon and
// the name of the flow the window was opened for.
#include <QWidget>

#include "Quorvane/core/AppOpenMode.h"

class PlaceholderScreen : public QWidget {
  public:
    explicit PlaceholderScreen(const AppOpenMode& mode, QWidget* parent = nullptr);
};
