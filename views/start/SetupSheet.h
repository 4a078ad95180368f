#pragma once

#include "views/start/Derive.h"

#include <QDialog>
#include <optional>
#include <vector>

class AppModel;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

// The sheet that turns a recording without a project into one: the marker file found
// beside it, what its markers become, a line about the stream, the window around each
// marker and the steps to run. "Open stream" creates the project; nothing is written
// before that.
class SetupSheet : public QDialog {
    Q_OBJECT
public:
    SetupSheet(AppModel& model, QString video, QWidget* parent = nullptr);

    // Makes `markers` the marker file in use and reads its markers as the project will.
    void setMarkers(const std::optional<QString>& markers);
    void setLength(double seconds);
    void chooseMarkers();
    void openStream();

    SetupPreview preview() const;
    const std::optional<QString>& markers() const { return markerFile; }
    QPushButton* openButton() const { return open; }
    QPushButton* cancelButton() const { return cancel; }
    QSpinBox* beforeBox() const { return beforeSpin; }
    QSpinBox* afterBox() const { return afterSpin; }
    QCheckBox* transcribeBox() const { return transcribe; }
    QCheckBox* summarizeBox() const { return summarize; }
    QCheckBox* ideasBox() const { return ideas; }
    QLabel* countLabel() const { return count; }
    QLabel* markerLabel() const { return found; }
    bool creating() const { return busy; }

    void reject() override;

protected:
    void showEvent(QShowEvent*) override;

private:
    void refresh();
    AppModel& model;
    QString video;
    std::optional<QString> markerFile;
    std::vector<double> marks;
    double length = 0;
    qint64 size = 0;
    bool busy = false;
    bool loaded = false;
    QLabel* header;
    QLabel* foundIcon;
    QLabel* found;
    QLabel* foundCount;
    QLabel* count;
    QPlainTextEdit* note;
    QSpinBox* beforeSpin;
    QSpinBox* afterSpin;
    QCheckBox* transcribe;
    QCheckBox* summarize;
    QCheckBox* ideas;
    QPushButton* open;
    QPushButton* cancel;
};
