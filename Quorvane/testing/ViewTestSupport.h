#pragma once
// What widget tests and renders of every screen share: a dark palette, to check that a screen stays readable
// in the desktop's dark appearance, and a larger application font, to check that texts wrap rather than
// being cut off.
#include <QFont>
#include <QPalette>

namespace testsupport {

// A dark palette in the colours a dark desktop theme gives.
QPalette darkPalette();

// Scales the application's font for its scope (widgets made meanwhile take the larger font).
class ScopedFontScale {
  public:
    explicit ScopedFontScale(double factor);
    ~ScopedFontScale();
    ScopedFontScale(const ScopedFontScale&) = delete;
    ScopedFontScale& operator=(const ScopedFontScale&) = delete;

  private:
    QFont previous_;
};

}  // namespace testsupport
