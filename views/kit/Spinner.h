#pragma once

#include <QTimer>
#include <QWidget>

// A small turning wheel for work under way. It turns only while it is shown.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(QWidget* parent = nullptr, int size = 16);
    bool turning() const { return timer.isActive(); }
    QSize sizeHint() const override { return {diameter, diameter}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    QTimer timer;
    int step = 0;
    int diameter;
};
