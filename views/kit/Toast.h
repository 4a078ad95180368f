#pragma once

#include <QLabel>
#include <QPointer>
#include <optional>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

// A passing notice: one line of text on a translucent capsule, laid over a window. It
// fades in and out; where it stands and when it goes is its owner's business.
class Toast : public QWidget {
    Q_OBJECT
public:
    explicit Toast(QWidget* parent);
    // Shows `text`, or fades away when there is none.
    void present(const std::optional<QString>& text);
    QString text() const;
    // Shown, or fading in; false once it has started to fade away.
    bool presented() const { return wanted; }
    // Places the capsule centred, with its bottom `above` points over the parent's bottom.
    void place(int above);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QLabel* label;
    QGraphicsOpacityEffect* fade;
    QPropertyAnimation* animation;
    bool wanted = false;
    int lift = 0;
};
