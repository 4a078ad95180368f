#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QCoro/QCoroTask>
#include <chrono>
#include <functional>
#include <optional>

// Tells the user when a newer version has been published. One instance, on the main
// thread; every setter compares before it notifies.
class Updates : public QObject {
    Q_OBJECT
public:
    static Updates& shared();

    // The running version, from the build.
    static QString current();
    static QString build();
    // https://vantorel.app/latest.json, or VANTOREL_FEED_URL when set.
    static QUrl feed();

    // Compares version texts: runs of digits by value, other characters one by one,
    // and a longer text beats its own prefix. <0, 0 or >0.
    static int compare(const QString& a, const QString& b);

    const std::optional<QString>& latest() const { return latest_; }
    const QString& notes() const { return notes_; }
    const std::optional<QUrl>& download() const { return download_; }
    bool checking() const { return checking_; }
    const QString& verdict() const { return verdict_; }

    // One check of the feed; its outcome is in the properties. Never throws.
    QCoro::Task<> check();

    // The background loop of the windowed program: a check after `first`, then one
    // every `every` while automatic checks are on; `announce` gets newly found versions.
    void start(std::function<void(const QString&)> announce,
               std::chrono::milliseconds first = std::chrono::seconds(5),
               std::chrono::milliseconds every = std::chrono::hours(6));

    explicit Updates(QObject* parent = nullptr);

Q_SIGNALS:
    void latestChanged();
    void notesChanged();
    void downloadChanged();
    void checkingChanged();
    void verdictChanged();

private:
    QCoro::Task<> loop(std::function<void(const QString&)> announce, std::chrono::milliseconds first,
                       std::chrono::milliseconds every);
    void setLatest(const std::optional<QString>& v);
    void setNotes(const QString& v);
    void setDownload(const std::optional<QUrl>& v);
    void setChecking(bool v);
    void setVerdict(const QString& v);

    std::optional<QString> latest_;
    QString notes_;
    std::optional<QUrl> download_;
    bool checking_ = false;
    QString verdict_;
};
