#pragma once

#include "core/services/Setup.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

class QVBoxLayout;

// The set-up checklist: the outside pieces the program needs, each ready or missing,
// with what it is for and a command to copy. Read when shown and on "Check Again"; it
// never watches the computer by itself.
class SetupList : public QWidget {
    Q_OBJECT
public:
    using Source = std::function<QCoro::Task<std::vector<Setup::Item>>()>;
    // `onlyMissing`: the start screen's form, listing only what is missing and taking
    // no room at all while nothing is.
    explicit SetupList(bool onlyMissing, QWidget* parent = nullptr, Source source = {});
    // Where a list made without a source of its own reads (Setup::items; tests replace it).
    static Source& standard();

    // What a list of items shows.
    struct Shape {
        std::vector<Setup::Item> rows;
        bool header = false;     // "Before your first stream"
        bool checkAgain = false; // the "Check Again" button
        bool operator==(const Shape&) const = default;
    };
    static Shape shape(const std::vector<Setup::Item>& items, bool onlyMissing);

    // Reads the items again; they show once read (at once when the source answers at once).
    void refresh();
    const Shape& shown() const { return current; }

Q_SIGNALS:
    // The rows shown have changed.
    void changed();

protected:
    void showEvent(QShowEvent*) override;

private:
    static QCoro::Task<> read(QPointer<SetupList> list, Source from, int ask);
    void rebuild();
    int asks = 0; // the newest reading wins
    bool onlyMissing;
    Source source;
    Shape current;
    QVBoxLayout* rows;
};
