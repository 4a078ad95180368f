#pragma once

#include <QAbstractButton>

// A large frameless button of two lines: a symbol in the accent colour, a title in
// semibold and a subtitle under it. The whole area is clickable and shows a hand.
class BigButton : public QAbstractButton {
    Q_OBJECT
public:
    BigButton(const QString& symbol, const QString& title, const QString& subtitle, QWidget* parent = nullptr);
    QString subtitle() const { return sub; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString symbolName;
    QString sub;
};
