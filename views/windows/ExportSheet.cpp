#include "views/kit/Dialogs.h"
#include "views/windows/ExportSheet.h"

#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "platform/TaskHandle.h"
#include "views/kit/FilePicker.h"
#include "views/kit/Style.h"
#include "views/windows/Derive.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace {

constexpr int sheetWidth = 420;
constexpr int padding = 22;
const QString subtitlesKey = QStringLiteral("exportSubtitles");
const QString revealKey = QStringLiteral("exportReveal");

// Asks where to write, then exports with the options as they stand at that moment. The
// sheet and the model may be gone after each wait.
QCoro::Task<> exportTask(QPointer<ExportSheet> sheet, QPointer<AppModel> model, QString folder, QString proposed)
{
    const std::optional<QString> path = co_await FilePicker::current().saveMovie(sheet, folder, proposed);
    if (!path || !sheet || !model)
        co_return;
    const bool subtitles = Prefs::shared().exportSubtitles();
    const bool reveal = Prefs::shared().exportReveal();
    // A token of its own, so that the activity window's Stop reaches the export.
    const Cancel cancel = Cancel::make();
    co_await model->exportShort(*path, subtitles, reveal, cancel);
    if (sheet)
        sheet->exportReturned();
}

QWidget* labelled(const QString& label, QLabel* value, QWidget* parent)
{
    auto* row = new QWidget(parent);
    // The rows hold the sheet at its width while no progress bar shows.
    row->setFixedWidth(sheetWidth - 2 * padding);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->addWidget(new QLabel(label, row));
    line->addStretch(1);
    value->setParent(row);
    Style::setText(value, Style::Text::body, Style::secondary(parent->palette()));
    line->addWidget(value);
    return row;
}

} // namespace

ExportSheet::ExportSheet(AppModel& m, QWidget* parent)
    : QDialog(parent), model(m)
{
    const QPalette pal = palette();
    QVBoxLayout* column = sheetColumn(this, QStringLiteral("Export Short"), sheetWidth, padding);

    length = new QLabel(this);
    length->setFont(Style::digits(length->font()));
    column->addWidget(labelled(QStringLiteral("Length"), length, this));
    column->addWidget(labelled(QStringLiteral("Video"), new QLabel(QStringLiteral("Original size, frame-accurate cuts")), this));

    subtitles = new QCheckBox(QStringLiteral("Write subtitles next to it (.srt)"), this);
    reveal = new QCheckBox(QStringLiteral("Show in file manager when done"), this);
    column->addWidget(subtitles);
    column->addWidget(reveal);

    bar = new QProgressBar(this);
    bar->setRange(0, 1000);
    bar->setTextVisible(false);
    bar->setFixedWidth(sheetWidth - 2 * padding);
    column->addWidget(bar);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setAutoDefault(false);
    start = new QPushButton(QStringLiteral("Export…"), this);
    start->setDefault(true);
    start->setStyleSheet(Style::prominentButton(pal));
    buttons->addWidget(cancel);
    buttons->addWidget(start);
    column->addLayout(buttons);

    connect(cancel, &QPushButton::clicked, this, &ExportSheet::reject);
    connect(start, &QPushButton::clicked, this, &ExportSheet::begin);
    connect(subtitles, &QCheckBox::toggled, this, [](bool on) { Prefs::shared().set(subtitlesKey, on); });
    connect(reveal, &QCheckBox::toggled, this, [](bool on) { Prefs::shared().set(revealKey, on); });
    connect(&Prefs::shared(), &Prefs::changed, this, [this](const QString& key) {
        if (key == subtitlesKey || key == revealKey)
            refresh();
    });
    for (auto signal : {&AppModel::projectChanged, &AppModel::activeShortChanged, &AppModel::exportProgressChanged})
        connect(&model, signal, this, &ExportSheet::refresh);
    refresh();
}

const Short* ExportSheet::current() const
{
    for (const Short& s : model.project().shorts) {
        if (model.activeShort() && s.id == *model.activeShort())
            return &s;
    }
    return nullptr;
}

void ExportSheet::refresh()
{
    const Short* shown = current();
    length->setText(exportLength(shown ? shown->duration() : 0, int(model.cuts().size())));
    const QSignalBlocker quietSubtitles(subtitles);
    const QSignalBlocker quietReveal(reveal);
    subtitles->setChecked(Prefs::shared().exportSubtitles());
    reveal->setChecked(Prefs::shared().exportReveal());
    const std::optional<double> progress = model.exportProgress();
    bar->setVisible(progress.has_value());
    bar->setValue(int(std::lround(std::clamp(progress.value_or(0), 0.0, 1.0) * 1000)));
    cancel->setEnabled(!progress);
    start->setEnabled(!progress);
}

void ExportSheet::reject()
{
    // While an export runs Escape does nothing, as the disabled Cancel says.
    if (cancel->isEnabled())
        QDialog::reject();
}

void ExportSheet::exportReturned()
{
    if (isVisible())
        QDialog::accept();
}

void ExportSheet::begin()
{
    if (!start->isEnabled())
        return;
    const Short* shown = current();
    const std::optional<QString> title = shown ? std::optional<QString>(shown->title) : std::nullopt;
    const QString folder = model.video() ? QFileInfo(*model.video()).absolutePath() : QString();
    const QString proposed = exportName(model.video(), title) + QStringLiteral(".mp4");
    TaskHandle::start([sheet = QPointer<ExportSheet>(this), app = QPointer<AppModel>(&model), folder,
                       proposed](Cancel) { return exportTask(sheet, app, folder, proposed); });
}
