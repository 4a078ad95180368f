#pragma once

#include <QDialog>

class AppModel;
struct Short;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

// "Export Short": the active Short's length, the two remembered options and the export's
// progress. "Export…" asks where to write the file, runs the export and closes the sheet
// once it has returned, whatever the outcome (the model reports it). A sheet is made
// for each showing and never reused.
class ExportSheet : public QDialog {
    Q_OBJECT
public:
    explicit ExportSheet(AppModel& model, QWidget* parent = nullptr);

    QPushButton* exportButton() const { return start; }
    QPushButton* cancelButton() const { return cancel; }
    QProgressBar* progressBar() const { return bar; }
    QLabel* lengthLabel() const { return length; }

    // The export's end: closes the sheet unless it has closed already.
    void exportReturned();

public Q_SLOTS:
    void reject() override;

private:
    // The active Short, none when no Short is active.
    const Short* current() const;
    void refresh();
    void begin();
    AppModel& model;
    QLabel* length;
    QCheckBox* subtitles;
    QCheckBox* reveal;
    QProgressBar* bar;
    QPushButton* cancel;
    QPushButton* start;
};
