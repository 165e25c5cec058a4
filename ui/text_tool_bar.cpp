#include "ui/text_tool_bar.h"

#include <QAction>
#include <algorithm>
#include <QPainter>
#include <QResizeEvent>
#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace skarvel {

TTextButton::TTextButton(const QString& caption, QAction* action, QWidget* parent)
    : QToolButton(parent), caption_(caption), action_(action) {
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    setFocusPolicy(Qt::NoFocus);
    // Bold and small, so that six captions fit a window of the usual width.
    QFont f = font();
    f.setBold(true);
    if (f.pointSizeF() > 8) f.setPointSizeF(8);
    setFont(f);
    baseFont_ = f;
    setToolTip(action->toolTip());
    connect(this, &QToolButton::clicked, action, [this] {
        if (action_->isEnabled()) action_->trigger();
    });
    connect(action, &QAction::changed, this, [this] { SyncWithAction(); });
    SyncWithAction();
}

void TTextButton::SyncWithAction() {
    setEnabled(action_->isEnabled());
    update();
}

QColor TTextButton::CaptionColor() const {
    if (!isEnabled() || !action_->isEnabled()) return palette().color(QPalette::Disabled, QPalette::Text);
    return palette().color(QPalette::Active, QPalette::ButtonText);
}

QSize TTextButton::sizeHint() const {
    const QFontMetrics fm(font());
    return QSize(fm.horizontalAdvance(caption_) + 12, 20);
}

void TTextButton::paintEvent(QPaintEvent*) {
    // The flat button's own frame first, then the caption over a cleared
    // inner rectangle, centred horizontally.
    QStylePainter sp(this);
    QStyleOptionToolButton opt;
    initStyleOption(&opt);
    opt.text.clear();
    opt.icon = QIcon();
    sp.drawComplexControl(QStyle::CC_ToolButton, opt);

    const QRect inner(QPoint(2, 2), QPoint(width() - 5, height() - 5));
    if (!inner.isValid()) return;
    if (!(opt.state & (QStyle::State_MouseOver | QStyle::State_Sunken | QStyle::State_On)))
        sp.fillRect(inner, palette().brush(QPalette::Button));
    sp.setClipRect(inner);
    sp.setPen(CaptionColor());
    const int w = sp.fontMetrics().horizontalAdvance(caption_);
    const int x = inner.left() + (width() - 4 - w) / 2;
    sp.drawText(QRect(x, inner.top(), w + 1, inner.height()), Qt::AlignLeft | Qt::AlignVCenter, caption_);
}

TTextToolBar::TTextToolBar(QWidget* parent) : QWidget(parent) {}

TTextButton* TTextToolBar::AddButton(const QString& caption, QAction* action) {
    auto* b = new TTextButton(caption, action, this);
    buttons_.push_back(b);
    ToolBar2Resize();
    return b;
}

void TTextToolBar::ToolBar2Resize() {
    const int n = static_cast<int>(buttons_.size());
    if (n <= 0) return;
    const int w = (width() - (n - 1) * DividerWidth) / n;
    FitCaptions(w);
    int x = 0;
    for (auto* b : buttons_) {
        b->setGeometry(x, 0, w > 0 ? w : 0, height());
        x += w + DividerWidth;
    }
}

int TTextToolBar::CaptionsWidth() const {
    const int n = static_cast<int>(buttons_.size());
    if (n == 0) return 0;
    const QFontMetrics fm(buttons_.front()->BaseFont());
    int widest = 0;
    for (const TTextButton* b : buttons_) widest = std::max(widest, fm.horizontalAdvance(b->Caption()));
    return n * (widest + TTextButton::CaptionMargin) + (n - 1) * DividerWidth;
}

void TTextToolBar::FitCaptions(int buttonWidth) {
    QFont f = buttons_.front()->BaseFont();
    if (f.pointSizeF() <= 0) return;
    for (qreal pt = f.pointSizeF(); pt >= 6; pt -= 0.5) {
        f.setPointSizeF(pt);
        const QFontMetrics fm(f);
        const bool fits = std::all_of(buttons_.begin(), buttons_.end(), [&](const TTextButton* b) {
            return fm.horizontalAdvance(b->Caption()) + TTextButton::CaptionMargin <= buttonWidth;
        });
        if (fits) break;
    }
    for (auto* b : buttons_)
        if (b->font() != f) b->setFont(f);
}

void TTextToolBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ToolBar2Resize();
}

}  // namespace skarvel
