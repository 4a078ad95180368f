#pragma once

#include <QDialog>
#include <QStringList>
#include <set>

class AppModel;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class Spinner;

// "Cut a Short with AI": an instruction, the segments whose full transcripts go with it,
// a rough cost, and the request's progress. "Create Short" runs the request and closes
// the sheet when it made a Short; a failure stays in the sheet in red. Closing the sheet
// leaves the request running (the activity window can stop it). A sheet is made for
// each showing and never reused.
class AskAI : public QDialog {
    Q_OBJECT
public:
    explicit AskAI(AppModel& model, QWidget* parent = nullptr);

    QPlainTextEdit* instruction() const { return text; }
    QPushButton* createButton() const { return create; }
    QPushButton* noneButton() const { return none; }
    QPushButton* onScreenButton() const { return onScreen; }
    QPushButton* allButton() const { return all; }
    QLabel* countLabel() const { return count; }
    QLabel* costLabel() const { return cost; }
    QLabel* failureLabel() const { return failureText; }
    QScrollArea* list() const { return scroll; }
    const std::set<QString>& included() const { return include; }

    // The request's end: the sentence of a failure, or none when a Short was made.
    void requestReturned(const std::optional<QString>& failure);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fill();
    void refresh();
    void setInclude(std::set<QString> ids);
    void begin();
    void grow();
    AppModel& model;
    std::set<QString> include;
    QPlainTextEdit* text;
    QLabel* count;
    QPushButton* none;
    QPushButton* onScreen;
    QPushButton* all;
    QScrollArea* scroll;
    QWidget* rows;
    QVBoxLayout* rowsLayout;
    std::vector<std::pair<QString, QCheckBox*>> boxes;
    QStringList drawnRows; // what the rows show, one entry a row
    QScrollArea* failureArea;
    QLabel* failureText;
    Spinner* spinner;
    QLabel* status;
    QLabel* cost;
    QPushButton* cancel;
    QPushButton* create;
};
