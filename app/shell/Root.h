#pragma once

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>

class AppModel;
#include <QMessageBox>
class Toast;

// The main window's content: the start screen while nothing is open, the workspace once
// a recording is; the passing notice over either; the alert for the model's problem;
// and, when it is first shown, the update loop and the file named by `--open`.
class Root : public QWidget {
    Q_OBJECT
public:
    struct Options {
        std::chrono::milliseconds toastLife{2200};
        // The background update check (off in tests).
        bool checkUpdates = true;
    };
    Root(AppModel& model, QStringList arguments, Options options, QWidget* parent = nullptr);
    Root(AppModel& model, QStringList arguments, QWidget* parent = nullptr)
        : Root(model, std::move(arguments), Options{}, parent)
    {
    }

    // The path after the first "--open" (made absolute from `folder`); none when there
    // is no "--open" or it is the last argument.
    static std::optional<QString> openArgument(const QStringList& arguments, const QString& folder);

    // Makes the workspace face (installed by the workspace's own view).
    using WorkspaceMaker = std::function<QWidget*(AppModel& model, QWidget* parent)>;
    static WorkspaceMaker& workspaceMaker();
    static constexpr QSize workspaceMinimum{1180, 720};

    QWidget* face() const { return current; }
    bool showsStart() const;
    Toast* toast() const { return notice; }
    QMessageBox* alert() const { return box; }

Q_SIGNALS:
    void faceChanged();

protected:
    void showEvent(QShowEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void followVideo();
    void followToast();
    void followProblem();
    void launch();
    AppModel& model;
    QStringList arguments;
    Options options;
    QWidget* current = nullptr;
    Toast* notice;
    QTimer toastTimer;
    std::optional<QString> toastText;
    QPointer<QMessageBox> box;
    bool launched = false;
};
