#include "ShakeEffect.h"

#include <cmath>
#include <numbers>

double ShakeEffect::offset() const {
    return travelDistance * std::sin(animatableData * std::numbers::pi * shakesPerUnit);
}

QTransform ShakeEffect::effectValue(const QSizeF&) const {
    return QTransform::fromTranslate(offset(), 0);
}
