#include "ui/readable_color.h"

#include <cmath>

namespace skarvel {

namespace {

double Linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& c) {
    const QColor rgb = c.toRgb();
    return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) + 0.0722 * Linear(rgb.blueF());
}

QColor Mix(const QColor& from, const QColor& to, double t) {
    const QColor a = from.toRgb(), b = to.toRgb();
    const auto channel = [t](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * t)); };
    return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()), channel(a.blue(), b.blue()));
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return la > lb ? (la + 0.05) / (lb + 0.05) : (lb + 0.05) / (la + 0.05);
}

QColor ReadableOn(const QColor& grey, const QColor& background, double ratio) {
    if (ContrastRatio(grey, background) >= ratio) return grey;
    const QColor black(Qt::black), white(Qt::white);
    const QColor far = ContrastRatio(black, background) >= ContrastRatio(white, background) ? black : white;
    for (int step = 1; step < 64; ++step) {
        const QColor moved = Mix(grey, far, step / 64.0);
        if (ContrastRatio(moved, background) >= ratio) return moved;
    }
    return far;
}

}  // namespace skarvel
