// Text colours that stay readable: the contrast of two colours as the web's
// accessibility guidelines define it (1 : 1 to 21 : 1), and a grey moved
// just far enough to reach a contrast on its background. Pure functions.
#pragma once

#include <QColor>

namespace skarvel {

// The contrast ratio of two colours: (L1 + 0.05) / (L2 + 0.05) of their
// relative luminances, the lighter over the darker.
double ContrastRatio(const QColor& a, const QColor& b);

// grey itself when it has at least ratio against background; else grey
// moved towards black or white (the one farther from the background) by
// the least step that reaches the ratio.
QColor ReadableOn(const QColor& grey, const QColor& background, double ratio);

}  // namespace skarvel
