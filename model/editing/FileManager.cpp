#include "model/editing/FileManager.h"

#include <QCoro/QCoroSignal>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>
#include <memory>

namespace FileManager {

QCoro::Task<bool> show(QString path)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        co_return false;
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString()} << QString();
        // A file manager started for the call may take a moment; one that hangs is given up.
        const auto watcher = std::make_unique<QDBusPendingCallWatcher>(bus.asyncCall(call, 10000));
        co_await qCoro(watcher.get(), &QDBusPendingCallWatcher::finished);
        if (!watcher->isError())
            co_return true;
    }
    co_return QDesktopServices::openUrl(folder);
}

} // namespace FileManager
