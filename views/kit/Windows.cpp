#include "views/kit/Windows.h"

#include <QMap>
#include <QPointer>
#include <QWidget>

namespace Windows {

namespace {
struct Entry {
    std::function<QWidget*()> make;
    QPointer<QWidget> window;
};
QMap<QString, Entry>& entries()
{
    static QMap<QString, Entry> all;
    return all;
}
} // namespace

void define(const QString& id, std::function<QWidget*()> make)
{
    entries()[id].make = std::move(make);
}

QWidget* open(const QString& id)
{
    auto it = entries().find(id);
    if (it == entries().end() || !it->make)
        return nullptr;
    if (!it->window)
        it->window = it->make();
    if (!it->window)
        return nullptr;
    it->window->show();
    if (it->window->isMinimized())
        it->window->showNormal();
    it->window->raise();
    it->window->activateWindow();
    return it->window;
}

QWidget* existing(const QString& id)
{
    const auto it = entries().constFind(id);
    return it == entries().constEnd() ? nullptr : it->window.data();
}

void reset()
{
    for (Entry& e : entries()) {
        if (e.window)
            delete e.window.data();
    }
    entries().clear();
}

} // namespace Windows
