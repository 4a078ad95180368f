#include "views/start/SetupSheet.h"

#include "core/project/Fail.h"
#include "core/project/Markers.h"
#include "core/project/Text.h"
#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "platform/TaskHandle.h"
#include "platform/media/Media.h"
#include "views/kit/FilePicker.h"
#include "views/kit/Style.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr int sheetWidth = 600;
// What a labelled row leaves for its content: the sheet less its margins, the label
// column and the space after it. Wrapped texts are given it, so that they take the
// height they need.
constexpr int contentWidth = sheetWidth - 2 * 18 - 92 - 14;

// A stepper over whole seconds that reads as minutes and seconds ("2:30").
class WindowSpin : public QSpinBox {
public:
    explicit WindowSpin(QWidget* parent) : QSpinBox(parent)
    {
        setRange(15, 600);
        setSingleStep(15);
        // Stepped, not typed: the arrows and the keys move it.
        lineEdit()->setReadOnly(true);
        setFont(Style::digits(font()));
        setAlignment(Qt::AlignRight);
    }

protected:
    QString textFromValue(int value) const override { return stepperLabel(value); }
    int valueFromText(const QString&) const override { return value(); }
};

QLabel* plain(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

SetupSheet::SetupSheet(AppModel& m, QString path, QWidget* parent)
    : QDialog(parent), model(m), video(std::move(path))
{
    setWindowTitle(QStringLiteral("New stream"));
    setFixedWidth(sheetWidth);
    size = QFileInfo(video).size();
    const QPalette pal = palette();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    // The sheet is as tall as its content, which grows when the count sentence wraps anew.
    column->setSizeConstraint(QLayout::SetFixedSize);
    const auto row = [&](const QString& label, QLayout* content) {
        auto* line = new QHBoxLayout;
        line->setContentsMargins(18, 12, 18, 12);
        line->setSpacing(14);
        if (!label.isEmpty()) {
            auto* name = plain(label, this);
            Style::setText(name, Style::Text::body, Style::secondary(pal));
            name->setFixedWidth(92);
            name->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            line->addWidget(name, 0, Qt::AlignTop);
        }
        line->addLayout(content, 1);
        if (column->count() > 0)
            column->addWidget(Style::divider(this));
        column->addLayout(line);
    };

    // The recording.
    auto* head = new QVBoxLayout;
    head->setSpacing(2);
    auto* name = plain(QString(), this);
    name->setFont(Style::font(Style::Text::body, QFont::Medium));
    name->setText(name->fontMetrics().elidedText(QFileInfo(video).fileName(), Qt::ElideMiddle, 520));
    name->setToolTip(QFileInfo(video).fileName());
    header = plain(QString(), this);
    Style::setText(header, Style::Text::body, Style::secondary(pal));
    head->addWidget(name);
    head->addWidget(header);
    row({}, head);

    // The marker file.
    auto* markersRow = new QHBoxLayout;
    auto* markersText = new QVBoxLayout;
    markersText->setSpacing(2);
    auto* foundLine = new QHBoxLayout;
    foundLine->setSpacing(6);
    foundIcon = new QLabel(this);
    found = new QLabel(this);
    found->setTextFormat(Qt::RichText);
    foundLine->addWidget(foundIcon);
    foundLine->addWidget(found, 1);
    foundCount = plain(QString(), this);
    Style::setText(foundCount, Style::Text::body, Style::secondary(pal));
    markersText->addLayout(foundLine);
    markersText->addWidget(foundCount);
    markersRow->addLayout(markersText, 1);
    auto* choose = new QPushButton(QStringLiteral("Choose…"), this);
    choose->setFlat(true);
    choose->setAutoDefault(false);
    connect(choose, &QPushButton::clicked, this, &SetupSheet::chooseMarkers);
    markersRow->addWidget(choose, 0, Qt::AlignTop);
    row(QStringLiteral("Markers"), markersRow);

    // The note.
    auto* about = new QVBoxLayout;
    note = new QPlainTextEdit(this);
    note->setPlaceholderText(QStringLiteral("What game, and what happens in this stream? One line helps the AI a lot."));
    note->setTabChangesFocus(true);
    const int lineHeight = note->fontMetrics().lineSpacing();
    note->setFixedHeight(lineHeight * 3 + 18);
    note->document()->setDocumentMargin(8);
    note->setFrameShape(QFrame::NoFrame);
    note->setStyleSheet(QStringLiteral("QPlainTextEdit { background: %1; border-radius: 7px; }")
                            .arg(Style::css(Style::secondaryBackground(pal))));
    about->addWidget(note);
    row(QStringLiteral("About"), about);

    // The windows around each marker.
    auto* windows = new QVBoxLayout;
    windows->setSpacing(6);
    auto* steppers = new QHBoxLayout;
    steppers->setSpacing(6);
    beforeSpin = new WindowSpin(this);
    beforeSpin->setValue(150);
    afterSpin = new WindowSpin(this);
    afterSpin->setValue(60);
    steppers->addWidget(beforeSpin);
    steppers->addWidget(plain(QStringLiteral("before the marker"), this));
    steppers->addSpacing(10);
    steppers->addWidget(afterSpin);
    steppers->addWidget(plain(QStringLiteral("after"), this));
    steppers->addStretch(1);
    count = plain(QString(), this);
    count->setWordWrap(true);
    count->setFixedWidth(contentWidth);
    Style::setText(count, Style::Text::body, Style::secondary(pal));
    windows->addLayout(steppers);
    windows->addWidget(count);
    row(QStringLiteral("Each segment"), windows);

    // The steps to run.
    auto* steps = new QVBoxLayout;
    steps->setSpacing(6);
    transcribe = new QCheckBox(QStringLiteral("Transcribe every segment"), this);
    summarize = new QCheckBox(QStringLiteral("Summarize each segment"), this);
    ideas = new QCheckBox(QStringLiteral("Look for Short ideas"), this);
    for (QCheckBox* box : {transcribe, summarize, ideas}) {
        box->setChecked(true);
        steps->addWidget(box);
    }
    auto* help = plain(setupHelp(Prefs::shared().transcriber()), this);
    help->setWordWrap(true);
    help->setFixedWidth(contentWidth);
    Style::setText(help, Style::Text::body, Style::secondary(pal));
    steps->addWidget(help);
    row(QStringLiteral("Do for me"), steps);

    // The buttons.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setAutoDefault(false);
    open = new QPushButton(QStringLiteral("Open stream"), this);
    open->setDefault(true);
    open->setStyleSheet(Style::prominentButton(pal));
    buttons->addWidget(cancel);
    buttons->addWidget(open);
    row({}, buttons);

    connect(cancel, &QPushButton::clicked, this, &SetupSheet::reject);
    connect(open, &QPushButton::clicked, this, &SetupSheet::openStream);
    connect(beforeSpin, &QSpinBox::valueChanged, this, &SetupSheet::refresh);
    connect(afterSpin, &QSpinBox::valueChanged, this, &SetupSheet::refresh);
    connect(transcribe, &QCheckBox::toggled, this, &SetupSheet::refresh);
    refresh();
}

SetupPreview SetupSheet::preview() const
{
    const QString package = AppModel::packageFor(Text::absolutePath(video), markerFile);
    return setupPreview(marks, beforeSpin->value(), afterSpin->value(), length, markerFile.has_value(),
                        QFileInfo(package).fileName(), Project::unwritable(package));
}

void SetupSheet::refresh()
{
    header->setText(clock(length) + QStringLiteral(" · ") + QLocale::c().formattedDataSize(size, 1, QLocale::DataSizeSIFormat));
    if (markerFile) {
        foundIcon->setPixmap(Style::symbol(QStringLiteral("checkmark.circle.fill"), Style::green(), 14, devicePixelRatioF()));
        // The file name is escaped: only the words around it are markup.
        found->setText(QStringLiteral("Found <b>%1</b> next to it").arg(QFileInfo(*markerFile).fileName().toHtmlEscaped()));
        found->setStyleSheet(QString());
        foundCount->setText(QString::number(marks.size()) + QStringLiteral(" markers"));
        foundCount->show();
    } else {
        foundIcon->setPixmap(Style::symbol(QStringLiteral("exclamationmark.triangle.fill"), Style::orange(), 14, devicePixelRatioF()));
        found->setText(QStringLiteral("No marker file was found next to it"));
        found->setStyleSheet(QStringLiteral("color: %1;").arg(Style::orange().name()));
        foundCount->hide();
    }
    const SetupPreview p = preview();
    count->setText(p.sentence);
    summarize->setEnabled(transcribe->isChecked());
    ideas->setEnabled(transcribe->isChecked());
    open->setEnabled(p.canOpen && !busy);
    cancel->setEnabled(!busy);
}

void SetupSheet::setMarkers(const std::optional<QString>& file)
{
    markerFile = file;
    marks.clear();
    if (file) {
        try {
            marks = AppModel::readMarks(*file);
        } catch (const Fail&) {
            // Shown as found with no markers: "Open stream" stays off.
        }
    }
    refresh();
}

void SetupSheet::setLength(double seconds)
{
    length = std::isfinite(seconds) && seconds > 0 ? seconds : 0;
    refresh();
}

void SetupSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (loaded)
        return;
    loaded = true;
    setMarkers(Markers::find(video));
    TaskHandle::start([sheet = QPointer<SetupSheet>(this), video = video](Cancel) -> QCoro::Task<> {
        double seconds = 0;
        try {
            seconds = (co_await Media::probe(video)).duration;
        } catch (const Fail&) {
        }
        if (sheet)
            sheet->setLength(seconds);
    });
}

void SetupSheet::chooseMarkers()
{
    const QString folder = QFileInfo(video).absolutePath();
    TaskHandle::start([sheet = QPointer<SetupSheet>(this), folder](Cancel) -> QCoro::Task<> {
        if (!sheet || !FilePicker::current().markers)
            co_return;
        const std::optional<QString> file = co_await FilePicker::current().markers(sheet, folder);
        if (sheet && file)
            sheet->setMarkers(*file);
    });
}

void SetupSheet::openStream()
{
    if (!markerFile || busy || !preview().canOpen)
        return;
    busy = true;
    refresh();
    const bool on = transcribe->isChecked();
    TaskHandle::start([sheet = QPointer<SetupSheet>(this), model = QPointer<AppModel>(&model), video = video,
                       markers = *markerFile, note = note->toPlainText(), before = double(beforeSpin->value()),
                       after = double(afterSpin->value()), on, summarize = on && summarize->isChecked(),
                       ideas = on && ideas->isChecked()](Cancel) -> QCoro::Task<> {
        if (!model)
            co_return;
        co_await model->create(video, markers, note, before, after, on, summarize, ideas);
        // The start screen under the sheet may be gone (the stream opened): the recording
        // is no longer waiting either way, so the sheet never comes back for it.
        if (model)
            model->setFresh(std::nullopt);
        if (sheet) {
            sheet->busy = false;
            sheet->accept();
        }
    });
}

void SetupSheet::reject()
{
    // Creating cannot be called back: the sheet closes once it is done.
    if (!busy)
        QDialog::reject();
}
