#pragma once

#include <QDialog>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QWidget;
class SetupList;

// The settings window: updates, the OpenRouter key and models, the set-up checklist and
// speech to text. Every control writes through at once; there is no Save button.
class Settings : public QDialog {
    Q_OBJECT
public:
    explicit Settings(QWidget* parent = nullptr);

    // The download rows show only for a known newer version with a download address.
    static bool offersDownload(const std::optional<QString>& latest, const QString& current, bool hasDownload);
    // The line under the update controls.
    static QString updateStatus(bool checking, const QString& verdict);

    bool hasKey() const { return keySaved; }
    QLineEdit* keyField() const { return key; }
    QString keyVerdict() const { return verdict; }
    SetupList* setupList() const { return setup; }
    // True while a change of the key field is being stored and read back.
    bool storingKey() const { return storing > 0; }
    QScrollArea* sections() const { return scroll; }
    // The window's height: all of its content where the screen has room, else what
    // the screen has room for (the sections scroll).
    static int fittedHeight(int content, int available);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void keyEdited(const QString& text);
    void followKey();
    void followUpdates();
    void followEngine();
    void testKey();
    void fitToScreen();

    QScrollArea* scroll = nullptr;
    QWidget* content = nullptr;
    QCheckBox* autoUpdate;
    QLabel* updateLine;
    QPushButton* checkNow;
    QWidget* downloadRows;
    QLabel* notes;
    QPushButton* download;

    QLabel* keyLabel;
    QLineEdit* key;
    QWidget* savedRow;
    QLabel* verdictLine;
    QWidget* failedRow;
    QComboBox* engine;
    QLabel* engineNote;
    SetupList* setup;

    bool keySaved = false;
    QString verdict;
    int keyEdits = 0; // the newest change of the key field wins
    int storing = 0;
    int answered = 0; // the newest change the store has answered
    bool fitting = false;
};
