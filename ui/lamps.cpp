#include "ui/lamps.h"

#include <QPainter>
#include <QRadialGradient>

namespace skarvel {

QColor LampColor(TLamp lamp) {
    switch (lamp) {
        case lampGreen: return QColor(0, 200, 0);
        case lampRed: return QColor(230, 0, 0);
        case lampYellow: return QColor(245, 215, 0);
        default: return QColor(0, 0, 0);
    }
}

QPixmap LampPixmap(TLamp lamp) {
    QPixmap pix(16, 16);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c = LampColor(lamp);
    QRadialGradient g(QPointF(6, 6), 9);
    g.setColorAt(0, c.lighter(lamp == lampBlack ? 300 : 150));
    g.setColorAt(1, c);
    p.setBrush(g);
    p.setPen(QPen(c.darker(150), 1));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    return pix;
}

}  // namespace skarvel
