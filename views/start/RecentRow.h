#pragma once

#include "core/project/Records.h"

#include <QAbstractButton>
#include <QImage>

class AppModel;

// One recent project on the start screen: a small picture of its recording, its name
// and where it lies. A click opens it.
class RecentRow : public QAbstractButton {
    Q_OBJECT
public:
    RecentRow(AppModel& model, const QString& file, QWidget* parent = nullptr);

    // Where the project lies, from the folder that holds it: the home folder reads "⌂",
    // the parts are joined by " ▸ ", and a long path keeps its first two parts, "…" and
    // its last one.
    static QString place(const QString& file, const QString& home);
    // The moment the picture is taken from: the first segment's first marker, else its
    // start; 60 s for a project without segments.
    static double stillTime(const Project& project);

    const QString& file() const { return path; }
    // The picture as kept: the square the row shows, in device pixels.
    const QImage& still() const { return picture; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;

private:
    void makeStill();
    AppModel& model;
    QString path;
    QImage picture;
    bool asked = false;
};
