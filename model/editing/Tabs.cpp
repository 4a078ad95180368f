// The Short tabs: making, opening, activating, closing, duplicating, renaming and
// deleting Shorts, and comparing a Short with the idea it was opened from.

#include "core/project/Text.h"
#include "model/editing/Lookup.h"
#include "model/lifecycle/AppModel.h"

namespace {
const QString untitled = QStringLiteral("Untitled Short");

// The first Short opened from `idea`.
Short* shortOf(std::vector<Short>& shorts, const QUuid& idea)
{
    for (Short& s : shorts) {
        if (s.idea && *s.idea == idea)
            return &s;
    }
    return nullptr;
}

Short made(const QString& title, std::optional<QUuid> idea, const std::vector<Cut>& cuts)
{
    Short s;
    s.id = QUuid::createUuid();
    s.title = title;
    s.idea = idea;
    s.cuts = lookup::freshCopies(cuts);
    return s;
}
} // namespace

std::vector<Short> AppModel::openShorts() const
{
    std::vector<Short> open;
    for (const Short& s : project_.shorts) {
        if (!s.closed.value_or(false))
            open.push_back(s);
    }
    return open;
}

void AppModel::newShort()
{
    commit();
    const Short fresh = made(untitled, std::nullopt, {});
    project_.shorts.push_back(fresh);
    Q_EMIT projectChanged();
    setActiveShort(fresh.id);
    setSelectedCut(std::nullopt);
    assignMode(Mode::segment);
    showSource(std::nullopt);
    save();
}

// Makes `id` the active Short (or none) and shows it: a Short with cuts plays in Short
// mode, anything else shows the recording, so that the mode always says what the player holds.
void AppModel::makeActive(const std::optional<QUuid>& id)
{
    player_->pause();
    setActiveShort(id);
    setSelectedCut(std::nullopt);
    const Short* s = lookup::byId(project_.shorts, id);
    if (s && !s->cuts.empty()) {
        assignMode(Mode::shortClip);
        showShort(0);
    } else {
        assignMode(Mode::segment);
        showSource(std::nullopt);
    }
}

// The leftmost open tab, which takes the place of a closed or deleted active Short.
std::optional<QUuid> AppModel::firstOpen() const
{
    for (const Short& s : project_.shorts) {
        if (!s.closed.value_or(false))
            return s.id;
    }
    return std::nullopt;
}

void AppModel::closeTab(const QUuid& id)
{
    Short* s = lookup::byId(project_.shorts, id);
    if (!s)
        return;
    s->closed = true;
    Q_EMIT projectChanged();
    save();
    if (activeShort_ == id)
        makeActive(firstOpen());
}

std::optional<Idea> AppModel::idea(const Short& s) const
{
    const Idea* found = lookup::byId(project_.ideas, s.idea);
    return found ? std::optional<Idea>(*found) : std::nullopt;
}

bool AppModel::isEdited(const Short& s) const
{
    const Idea* from = lookup::byId(project_.ideas, s.idea);
    if (!from)
        return false;
    return !std::equal(s.cuts.begin(), s.cuts.end(), from->cuts.begin(), from->cuts.end(),
                       [](const Cut& a, const Cut& b) { return a.start == b.start && a.end == b.end; });
}

void AppModel::revert(const Idea& idea)
{
    Short* s = shortOf(project_.shorts, idea.id);
    if (!s)
        return;
    commit();
    note(QStringLiteral("Reverted the Short “") + s->title + QStringLiteral("” to AI's cut"),
         QStringLiteral("from %1 cuts to %2").arg(s->cuts.size()).arg(idea.cuts.size()));
    s->cuts = lookup::freshCopies(idea.cuts);
    const QUuid id = s->id;
    Q_EMIT projectChanged();
    setActiveShort(id);
    setSelectedCut(std::nullopt);
    save();
    assignMode(Mode::shortClip);
    showShort(0);
    setToast(QStringLiteral("Back to the idea's cut. Ctrl+Z undoes that"));
}

void AppModel::openIdea(const Idea& idea)
{
    if (const Short* existing = shortOf(project_.shorts, idea.id)) {
        activate(existing->id);
        return;
    }
    commit();
    const Short fresh = made(idea.title, idea.id, idea.cuts);
    project_.shorts.push_back(fresh);
    Q_EMIT projectChanged();
    setActiveShort(fresh.id);
    save();
    setSelectedCut(std::nullopt);
    assignMode(Mode::shortClip);
    showShort(0);
}

void AppModel::activate(const QUuid& id)
{
    Short* s = lookup::byId(project_.shorts, id);
    if (!s)
        return;
    const bool wasClosed = s->closed.value_or(false);
    if (wasClosed) {
        // Reopened: the key leaves the stored project rather than reading false.
        s->closed.reset();
        Q_EMIT projectChanged();
        save();
    }
    if (activeShort_ == id && !wasClosed && mode_ == Mode::shortClip)
        return;
    makeActive(id);
}

void AppModel::duplicateShort(const QUuid& id)
{
    const Short* source = lookup::byId(project_.shorts, id);
    if (!source)
        return;
    commit();
    const Short copy = made(source->title + QStringLiteral(" copy"), std::nullopt, source->cuts);
    project_.shorts.push_back(copy);
    Q_EMIT projectChanged();
    save();
    activate(copy.id);
}

void AppModel::rename(const QUuid& id, const QString& title)
{
    Short* s = lookup::byId(project_.shorts, id);
    if (!s || Text::trimWhitespace(title).isEmpty())
        return;
    s->title = title;
    Q_EMIT projectChanged();
    save();
}

void AppModel::deleteShort(const QUuid& given)
{
    const QUuid id = given; // `given` may name the Short being removed
    const Short* s = lookup::byId(project_.shorts, id);
    if (!s)
        return;
    commit();
    const QString title = s->title;
    note(QStringLiteral("Deleted the Short “") + title + QStringLiteral("”"),
         QStringLiteral("%1 cuts").arg(s->cuts.size()));
    setToast(QStringLiteral("Deleted ") + title + QStringLiteral(". Ctrl+Z brings it back"));
    project_.shorts.erase(project_.shorts.begin() + (s - project_.shorts.data()));
    Q_EMIT projectChanged();
    if (activeShort_ == id)
        makeActive(firstOpen());
    save();
}
