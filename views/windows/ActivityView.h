#pragma once

#include "core/project/Activity.h"
#include "views/windows/Derive.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QUuid>
#include <QWidget>
#include <map>
#include <optional>

class AppModel;
class QLabel;
class QListView;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;

// The jobs of the open project as a list model: a new job comes in at the top as an
// inserted row, so the list keeps its selection; a job that changes redraws its row.
class JobList : public QAbstractListModel {
    Q_OBJECT
public:
    explicit JobList(AppModel& model, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    const Job& job(int row) const { return jobs[size_t(row)]; }
    void follow();
    static constexpr int idRole = Qt::UserRole + 1;

private:
    AppModel& model;
    std::vector<Job> jobs;
};

// The content of the "Activity" window: every job with its state, time and cost on the
// left, the chosen one in full on the right (what it ran with, what it cost, its error,
// what was sent and what came back), Stop for running work and Run Again.
class ActivityView : public QWidget {
    Q_OBJECT
public:
    explicit ActivityView(AppModel& model, QWidget* parent = nullptr);

    QListView* list() const { return listView; }
    QLabel* footerLabel() const { return footer; }
    QPushButton* footerStop() const { return stopAll; }
    // The detail pane's header button ("Stop", "Run Again"), none when it has none.
    QPushButton* headerButton() const { return header; }
    QWidget* detailPane() const { return detail; }
    std::optional<QUuid> shown() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void schedule();
    void refresh();
    void fillDetail(const Job& job);
    QWidget* block(const QString& title, const QString& body, const QString& shownText);
    // A long text as shown, worked out once per job and text.
    const QString& clippedFor(const QUuid& id, bool reply, const QString& text);

    AppModel& model;
    JobList* jobs;
    QListView* listView;
    QLabel* footer;
    QPushButton* stopAll;
    QStackedWidget* pages;
    QScrollArea* scroll;
    QWidget* detail = nullptr;
    QPointer<QPushButton> header;
    std::optional<QUuid> selected;
    std::optional<Job> drawn; // the job the detail pane shows now
    HeaderButton drawnButton = HeaderButton::none;
    struct Clip {
        qsizetype size = -1;
        QString shown;
    };
    std::map<std::pair<QUuid, bool>, Clip> clips;
    QTimer coalesce;
    QTimer turn; // turns the wheels of running jobs
};
