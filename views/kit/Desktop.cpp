#include "views/kit/Desktop.h"

#include "model/editing/FileManager.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>

namespace {

void openAddress(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}

void copyText(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

} // namespace

Desktop Desktop::standard()
{
    return {FileManager::show, openAddress, copyText};
}

Desktop& Desktop::current()
{
    static Desktop desktop = standard();
    return desktop;
}
