// The text tool bar at the bottom of the main window: flat buttons with bold
// captions that share the bar's width equally, 3-pixel dividers between them.
#pragma once

#include <QToolButton>
#include <QVector>
#include <QWidget>

class QAction;

namespace skarvel {

// A flat button drawing its own caption, centred, grey while disabled. It
// follows its action's enabled state and triggers it when clicked.
class TTextButton : public QToolButton {
    Q_OBJECT
public:
    TTextButton(const QString& caption, QAction* action, QWidget* parent);
    QString Caption() const { return caption_; }
    QAction* Action() const { return action_; }
    QColor CaptionColor() const;
    QSize sizeHint() const override;
    // The caption's font at full size; the bar may draw it smaller.
    const QFont& BaseFont() const { return baseFont_; }
    // Room for the caption inside the button's frame.
    static constexpr int CaptionMargin = 8;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void SyncWithAction();
    QString caption_;
    QAction* action_;
    QFont baseFont_;
};

class TTextToolBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int DividerWidth = 3;
    explicit TTextToolBar(QWidget* parent = nullptr);
    TTextButton* AddButton(const QString& caption, QAction* action);
    const QVector<TTextButton*>& Buttons() const { return buttons_; }
    // Lays the buttons out over the bar's width, with the captions' font as
    // large as lets every caption fit its button (never above the buttons'
    // own size, never below 6 points).
    void ToolBar2Resize();
    // The narrowest bar whose buttons show every caption whole at the
    // captions' full size: the widest caption, its margin, times the
    // buttons, and the dividers.
    int CaptionsWidth() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FitCaptions(int buttonWidth);
    QVector<TTextButton*> buttons_;
};

}  // namespace skarvel
