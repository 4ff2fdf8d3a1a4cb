#pragma once
// The main menu: the same three flows as the top of the status menu, each handed back as the open mode the
// main window is to show next.
#include <functional>

#include "Quorvane/core/AppOpenMode.h"
#include "Quorvane/core/Observable.h"

class MenuViewModel : public Observable {
  public:
    explicit MenuViewModel(std::function<void(AppOpenMode)> menuItemSelected)
        : menuItemSelected(std::move(menuItemSelected)) {}

    const std::function<void(AppOpenMode)> menuItemSelected;
};
