#include "views/start/SetupList.h"

#include "views/kit/Desktop.h"
#include "views/kit/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

SetupList::SetupList(bool missingOnly, QWidget* parent, Source from)
    : QWidget(parent), onlyMissing(missingOnly), source(std::move(from)), rows(new QVBoxLayout(this))
{
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(8);
}

SetupList::Source& SetupList::standard()
{
    static Source source = Setup::items;
    return source;
}

SetupList::Shape SetupList::shape(const std::vector<Setup::Item>& items, bool onlyMissing)
{
    Shape s;
    for (const Setup::Item& item : items) {
        if (!onlyMissing || !item.ready)
            s.rows.push_back(item);
    }
    s.header = onlyMissing && !s.rows.empty();
    s.checkAgain = !onlyMissing || !s.rows.empty();
    return s;
}

void SetupList::showEvent(QShowEvent*)
{
    refresh();
}

void SetupList::refresh()
{
    const Source& from = source ? source : standard();
    if (from)
        read(this, from, ++asks);
}

QCoro::Task<> SetupList::read(QPointer<SetupList> list, Source from, int ask)
{
    const std::vector<Setup::Item> items = co_await from();
    if (!list || ask != list->asks)
        co_return;
    const Shape next = shape(items, list->onlyMissing);
    if (next == list->current && list->rows->count() > 0)
        co_return;
    list->current = next;
    list->rebuild();
}

namespace {

QWidget* row(const Setup::Item& item, QWidget* parent)
{
    auto* w = new QWidget(parent);
    auto* line = new QHBoxLayout(w);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(8);
    const QPalette& pal = parent->palette();

    auto* mark = new QLabel(w);
    mark->setPixmap(Style::symbol(item.ready ? QStringLiteral("checkmark.circle.fill")
                                             : QStringLiteral("exclamationmark.triangle.fill"),
                                  item.ready ? Style::green() : Style::orange(), 15, w->devicePixelRatioF()));
    mark->setFixedSize(15, 17);
    mark->setAlignment(Qt::AlignTop);
    line->addWidget(mark, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    auto* title = new QHBoxLayout;
    title->setSpacing(0);
    auto* name = new QLabel(item.name, w);
    name->setFont(Style::font(Style::Text::body, QFont::Medium));
    auto* state = new QLabel(item.ready ? QStringLiteral("  ready") : QStringLiteral("  missing"), w);
    Style::setText(state, Style::Text::body, Style::secondary(pal));
    title->addWidget(name);
    title->addWidget(state);
    title->addStretch();
    texts->addLayout(title);
    auto* fix = new QLabel(item.fix, w);
    fix->setWordWrap(true);
    Style::setText(fix, Style::Text::callout, Style::secondary(pal));
    texts->addWidget(fix);
    line->addLayout(texts, 1);

    if (!item.ready && item.command) {
        line->addSpacing(4);
        auto* copy = new QPushButton(QStringLiteral("Copy Command"), w);
        copy->setFont(Style::font(Style::Text::callout));
        copy->setToolTip(QStringLiteral("Paste it into a terminal: ") + *item.command);
        copy->setCursor(Qt::PointingHandCursor);
        QObject::connect(copy, &QPushButton::clicked, w, [command = *item.command] {
            Desktop::current().copy(command);
        });
        line->addWidget(copy, 0, Qt::AlignTop);
    }
    return w;
}

} // namespace

void SetupList::rebuild()
{
    // Later, not now: "Check Again" rebuilds the list from inside its own click.
    while (QLayoutItem* item = rows->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    if (current.header) {
        auto* header = new QLabel(QStringLiteral("Before your first stream"), this);
        header->setFont(Style::font(Style::Text::callout, QFont::Medium));
        rows->addWidget(header);
    }
    for (const Setup::Item& item : current.rows)
        rows->addWidget(row(item, this));
    if (current.checkAgain) {
        auto* again = new QPushButton(QStringLiteral("Check Again"), this);
        again->setFlat(true);
        again->setFont(Style::font(Style::Text::callout));
        again->setCursor(Qt::PointingHandCursor);
        QPalette p = again->palette();
        p.setColor(QPalette::ButtonText, Style::accent(palette()));
        again->setPalette(p);
        again->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; text-align: left; }"));
        connect(again, &QPushButton::clicked, this, [this] {
            current = {};
            refresh();
        });
        rows->addWidget(again, 0, Qt::AlignLeft);
    }
    // Shown now rather than on the next turn, so that the size is right at once.
    for (int i = 0; i < rows->count(); ++i) {
        if (QWidget* w = rows->itemAt(i)->widget())
            w->show();
    }
    updateGeometry();
    Q_EMIT changed();
}
