#pragma once

// What the desktop does for us: show a file in the file manager, open an address in
// the browser, put text on the clipboard. Tests replace the members to see the calls.

#include <QString>
#include <QUrl>
#include <functional>

struct Desktop {
    // Opens a file-manager window with the item selected (FileManager::show).
    std::function<void(const QString& path)> reveal;
    std::function<void(const QUrl& url)> openUrl;
    // Empties the clipboard, then puts `text` on it as plain text.
    std::function<void(const QString& text)> copy;

    static Desktop& current();
    static Desktop standard();
};
