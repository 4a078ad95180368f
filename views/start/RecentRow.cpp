#include "views/start/RecentRow.h"

#include "model/lifecycle/AppModel.h"
#include "platform/TaskHandle.h"
#include "platform/media/Media.h"
#include "views/kit/Style.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <cmath>

namespace {
constexpr int square = 34;
}

RecentRow::RecentRow(AppModel& m, const QString& file, QWidget* parent)
    : QAbstractButton(parent), model(m), path(file)
{
    setText(QFileInfo(file).completeBaseName());
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover); // repaints as the pointer comes and goes
    setToolTip(QDir::toNativeSeparators(file));
    connect(this, &QAbstractButton::clicked, this, [this] {
        TaskHandle::start([model = QPointer<AppModel>(&model), file = path](Cancel) -> QCoro::Task<> {
            if (model)
                co_await model->open(file);
        });
    });
}

QString RecentRow::place(const QString& file, const QString& home)
{
    QString folder = QFileInfo(file).path();
    QStringList parts;
    // The home folder itself, or something inside it: "/home/ann" must not claim
    // "/home/anna".
    QString cleanHome = home;
    while (cleanHome.size() > 1 && cleanHome.endsWith(u'/'))
        cleanHome.chop(1);
    if (!cleanHome.isEmpty() && cleanHome != QStringLiteral("/")
        && (folder == cleanHome || folder.startsWith(cleanHome + u'/'))) {
        parts << QStringLiteral("⌂");
        folder = folder.mid(cleanHome.size());
    }
    for (const QString& piece : folder.split(u'/', Qt::SkipEmptyParts))
        parts << piece;
    if (parts.size() > 4)
        parts = {parts[0], parts[1], QStringLiteral("…"), parts.last()};
    return parts.join(QStringLiteral(" ▸ "));
}

double RecentRow::stillTime(const Project& project)
{
    if (project.segments.empty())
        return 60;
    const Segment& first = project.segments.front();
    return first.markers.empty() ? first.start : first.markers.front();
}

QSize RecentRow::sizeHint() const
{
    return {280, square + 12};
}

void RecentRow::showEvent(QShowEvent*)
{
    if (!asked) {
        asked = true;
        makeStill();
    }
}

void RecentRow::makeStill()
{
    Project project;
    try {
        project = Project::load(path);
    } catch (const Fail&) {
        return;
    }
    const std::optional<QString> recording = project.recording(path);
    if (!recording)
        return;
    // Only the square the row shows, in the screen's pixels: every recent keeps its picture
    // for as long as the start screen lives.
    const int side = int(std::ceil(square * devicePixelRatioF()));
    TaskHandle::start([row = QPointer<RecentRow>(this), video = *recording, at = stillTime(project),
                       side](Cancel) -> QCoro::Task<> {
        QImage image;
        try {
            image = co_await Media::still(video, at, QSize(side, side), Media::Fit::cover);
        } catch (const Fail&) {
            co_return;
        }
        if (row) {
            row->picture = image;
            row->update();
        }
    });
}

void RecentRow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPalette& pal = palette();
    const bool hovering = underMouse();
    if (hovering) {
        p.setPen(Qt::NoPen);
        p.setBrush(Style::accent(pal));
        p.drawRoundedRect(QRectF(rect()), 7, 7);
    }
    const QRect content = rect().adjusted(8, 6, -8, -6);
    const QRectF box(content.left(), content.center().y() - square / 2.0 + 0.5, square, square);
    QPainterPath clip;
    clip.addRoundedRect(box, 5, 5);
    if (picture.isNull()) {
        p.fillPath(clip, Style::quaternary(pal));
    } else {
        p.save();
        p.setClipPath(clip);
        // Fill the square, cutting off what overflows.
        const QSizeF size = QSizeF(picture.size()).scaled(box.size(), Qt::KeepAspectRatioByExpanding);
        p.drawImage(QRectF(box.center().x() - size.width() / 2, box.center().y() - size.height() / 2, size.width(),
                           size.height()),
                    picture);
        p.restore();
    }
    const int x = int(box.right()) + 10;
    const int width = content.right() - x;
    const QFont nameFont = Style::font(Style::Text::body, QFont::DemiBold);
    const QFont placeFont = Style::font(Style::Text::callout);
    const QFontMetrics nm(nameFont), pm(placeFont);
    const int top = content.center().y() - (nm.height() + 1 + pm.height()) / 2;
    p.setFont(nameFont);
    p.setPen(hovering ? QColor(Qt::white) : Style::primary(pal));
    p.drawText(QRect(x, top, width, nm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               nm.elidedText(text(), Qt::ElideMiddle, width));
    p.setFont(placeFont);
    p.setPen(hovering ? QColor(Qt::white) : Style::secondary(pal));
    p.drawText(QRect(x, top + nm.height() + 1, width, pm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               pm.elidedText(place(path, QDir::homePath()), Qt::ElideMiddle, width));
}
