#pragma once
// The sideways shake with which the PIN field signals a wrong PIN: while `animatableData` runs from 0 to 1
// the content moves by travelDistance × sin(animatableData × π × shakesPerUnit), never vertically. At whole
// values of animatableData (with a whole shakesPerUnit) it is at rest.
#include <QTransform>

struct ShakeEffect {
    double travelDistance = 0;
    double shakesPerUnit = 0;
    double animatableData = 0;

    // The horizontal displacement for the current animatableData.
    double offset() const;
    // The same as a transform; the size plays no part.
    QTransform effectValue(const QSizeF& size = {}) const;
};
