#include "app/shell/Settings.h"

#include "core/project/Text.h"
#include "core/services/Analyst.h"
#include "core/services/Keychain.h"
#include "core/services/Updates.h"
#include "platform/Prefs.h"
#include "platform/TaskHandle.h"
#include "views/kit/Desktop.h"
#include "views/kit/Style.h"
#include "views/start/SetupList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// One rounded group of rows under a header.
class Group : public QWidget {
public:
    Group(const QString& title, QVBoxLayout* page, QWidget* parent)
        : QWidget(parent)
    {
        auto* header = new QLabel(title, parent);
        header->setFont(Style::font(Style::Text::headline));
        header->setContentsMargins(4, 0, 0, 0);
        page->addWidget(header);
        page->addSpacing(-2);
        page->addWidget(this);
        setFixedWidth(480);
        rows = new QVBoxLayout(this);
        rows->setContentsMargins(14, 12, 14, 12);
        rows->setSpacing(10);
    }
    QVBoxLayout* rows;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Style::materialEdge(palette()), 1));
        p.setBrush(Style::groupBackground(palette()));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

QLabel* note(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    Style::setText(label, Style::Text::callout, Style::secondary(parent->palette()));
    return label;
}

// A label and its control on one line.
QHBoxLayout* labelled(const QString& title, QWidget* control, QWidget* parent, int labelWidth = 170)
{
    auto* line = new QHBoxLayout;
    line->setSpacing(10);
    auto* label = new QLabel(title, parent);
    label->setFixedWidth(labelWidth);
    label->setWordWrap(true);
    line->addWidget(label);
    line->addWidget(control, 1);
    return line;
}

QLineEdit* preferenceField(const QString& key, const QString& value, QWidget* parent)
{
    auto* field = new QLineEdit(value, parent);
    QObject::connect(field, &QLineEdit::textEdited, field, [key](const QString& text) {
        Prefs::shared().set(key, text);
    });
    return field;
}

QWidget* symbolLine(const QString& symbol, const QColor& colour, const QString& text, QWidget* parent)
{
    auto* w = new QWidget(parent);
    auto* line = new QHBoxLayout(w);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(6);
    auto* mark = new QLabel(w);
    mark->setPixmap(Style::symbol(symbol, colour, 14, w->devicePixelRatioF()));
    auto* label = new QLabel(text, w);
    Style::setText(label, Style::Text::callout, colour);
    line->addWidget(mark);
    line->addWidget(label);
    line->addStretch(1);
    return w;
}

} // namespace

bool Settings::offersDownload(const std::optional<QString>& latest, const QString& current, bool hasDownload)
{
    return latest && hasDownload && Updates::compare(*latest, current) > 0;
}

QString Settings::updateStatus(bool checking, const QString& verdict)
{
    if (checking)
        return QStringLiteral("Checking");
    return verdict.isEmpty() ? QStringLiteral("Not checked yet") : verdict;
}

Settings::Settings(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Settings"));
    setModal(false);
    // Esc and Ctrl+W close it, as a settings window does on Linux, whatever control has the
    // focus: as shortcuts of this window they are taken before the workspace's key map
    // behind it could take Esc as its own.
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
    // The sections scroll, so that the window fits a low screen (768 pixels less the
    // desktop's panels) and every control stays in reach.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    outer->addWidget(scroll);
    content = new QWidget(scroll);
    auto* page = new QVBoxLayout(content);
    page->setSizeConstraint(QLayout::SetMinAndMaxSize);
    page->setContentsMargins(20, 16, 20, 20);
    page->setSpacing(8);
    Prefs& prefs = Prefs::shared();
    Updates& updates = Updates::shared();

    // ---- Updates ----
    auto* group = new Group(QStringLiteral("Updates"), page, content);
    const QString build = Updates::build();
    auto* version = new QLabel(Updates::current() + (build.isEmpty() ? QString() : QStringLiteral(" (") + build + u')'), group);
    group->rows->addLayout(labelled(QStringLiteral("Version"), version, group));
    autoUpdate = new QCheckBox(QStringLiteral("Check for updates automatically"), group);
    autoUpdate->setChecked(prefs.autoUpdate());
    connect(autoUpdate, &QCheckBox::toggled, this, [](bool on) { Prefs::shared().set(QStringLiteral("autoUpdate"), on); });
    group->rows->addWidget(autoUpdate);
    auto* statusLine = new QHBoxLayout;
    updateLine = new QLabel(group);
    updateLine->setWordWrap(true);
    Style::setText(updateLine, Style::Text::body, Style::secondary(palette()));
    checkNow = new QPushButton(QStringLiteral("Check Now"), group);
    connect(checkNow, &QPushButton::clicked, this, [] {
        TaskHandle::start([](Cancel) -> QCoro::Task<> { co_await Updates::shared().check(); });
    });
    statusLine->addWidget(updateLine, 1);
    statusLine->addWidget(checkNow);
    group->rows->addLayout(statusLine);
    downloadRows = new QWidget(group);
    auto* downloadLayout = new QVBoxLayout(downloadRows);
    downloadLayout->setContentsMargins(0, 0, 0, 0);
    downloadLayout->setSpacing(8);
    notes = note(QString(), downloadRows);
    download = new QPushButton(downloadRows);
    download->setDefault(true);
    connect(download, &QPushButton::clicked, this, [] {
        if (const auto& address = Updates::shared().download())
            Desktop::current().openUrl(*address);
    });
    downloadLayout->addWidget(notes);
    downloadLayout->addWidget(download, 0, Qt::AlignLeft);
    downloadLayout->addWidget(note(QStringLiteral("Open the downloaded file and install it in place of the one you "
                                                  "have. Your projects and key are kept."),
                                   downloadRows));
    group->rows->addWidget(downloadRows);
    for (auto signal : {&Updates::latestChanged, &Updates::notesChanged, &Updates::downloadChanged,
                        &Updates::checkingChanged, &Updates::verdictChanged})
        connect(&updates, signal, this, &Settings::followUpdates);
    connect(&prefs, &Prefs::changed, this, [this](const QString& changed) {
        if (changed == u"autoUpdate")
            autoUpdate->setChecked(Prefs::shared().autoUpdate());
    });

    // ---- OpenRouter ----
    page->addSpacing(10);
    group = new Group(QStringLiteral("OpenRouter"), page, content);
    keySaved = Keychain::key().has_value();
    key = new QLineEdit(group);
    key->setEchoMode(QLineEdit::Password);
    keyLabel = new QLabel(group);
    keyLabel->setWordWrap(true);
    auto* keyLine = new QHBoxLayout;
    keyLine->setSpacing(10);
    keyLabel->setFixedWidth(170);
    keyLine->addWidget(keyLabel);
    keyLine->addWidget(key, 1);
    group->rows->addLayout(keyLine);
    connect(key, &QLineEdit::textEdited, this, &Settings::keyEdited);
    savedRow = new QWidget(group);
    auto* savedLayout = new QVBoxLayout(savedRow);
    savedLayout->setContentsMargins(0, 0, 0, 0);
    savedLayout->setSpacing(4);
    auto* savedLine = new QHBoxLayout;
    savedLine->addWidget(symbolLine(QStringLiteral("checkmark.circle.fill"), Style::green(),
                                    QStringLiteral("A key is saved in your keyring"), savedRow),
                         1);
    auto* test = new QPushButton(QStringLiteral("Test it"), savedRow);
    connect(test, &QPushButton::clicked, this, &Settings::testKey);
    savedLine->addWidget(test);
    savedLayout->addLayout(savedLine);
    verdictLine = note(QString(), savedRow);
    savedLayout->addWidget(verdictLine);
    group->rows->addWidget(savedRow);
    failedRow = symbolLine(QStringLiteral("exclamationmark.triangle.fill"), Style::red(),
                           QStringLiteral("The key could not be saved to your keyring"), group);
    group->rows->addWidget(failedRow);
    group->rows->addLayout(labelled(QStringLiteral("Model for summaries"),
                                    preferenceField(QStringLiteral("model"), prefs.model(), group), group));
    group->rows->addLayout(labelled(QStringLiteral("Model for Short ideas and Ask AI"),
                                    preferenceField(QStringLiteral("editModel"), prefs.editModel(), group), group));
    group->rows->addWidget(note(QStringLiteral("Summaries are routine work for a cheap model. Finding and cutting Shorts "
                                               "takes judgement across the whole stream, so a stronger model earns its "
                                               "price there."),
                                group));

    // ---- Setup ----
    page->addSpacing(10);
    group = new Group(QStringLiteral("Setup"), page, content);
    setup = new SetupList(false, group);
    group->rows->addWidget(setup);

    // ---- Speech to text ----
    page->addSpacing(10);
    group = new Group(QStringLiteral("Speech to text"), page, content);
    engine = new QComboBox(group);
    engine->addItem(QStringLiteral("whisper, on this computer"), QStringLiteral("whisper"));
    engine->addItem(QStringLiteral("ElevenLabs Scribe, through OpenRouter"), QStringLiteral("scribe"));
    connect(engine, &QComboBox::activated, this, [this](int index) {
        Prefs::shared().set(QStringLiteral("transcriber"), engine->itemData(index));
    });
    // The longer choice is shown whole: this group's labels are narrower.
    group->rows->addLayout(labelled(QStringLiteral("Engine"), engine, group, 120));
    group->rows->addLayout(labelled(QStringLiteral("Spoken language (two letters)"),
                                    preferenceField(QStringLiteral("language"), prefs.language(), group), group, 120));
    engineNote = note(QString(), group);
    group->rows->addWidget(engineNote);
    connect(&prefs, &Prefs::changed, this, [this](const QString& changed) {
        if (changed == u"transcriber") {
            followEngine();
            // The whisper pieces come and go with the engine.
            setup->refresh();
        }
    });

    page->addStretch(1);
    scroll->setWidget(content);
    content->installEventFilter(this);

    followUpdates();
    followKey();
    followEngine();
    fitToScreen();
    // The key store is read once per run, in the background; until that read has ended
    // the key in memory says nothing. A change typed meanwhile wins.
    TaskHandle::start([self = QPointer<Settings>(this)](Cancel) -> QCoro::Task<> {
        co_await Keychain::load();
        if (self && self->keyEdits == 0) {
            self->keySaved = Keychain::key().has_value();
            self->followKey();
        }
    });
}

int Settings::fittedHeight(int content, int available)
{
    // Room for the window's title bar and frame, which the desktop adds.
    return std::max(200, std::min(content, available - 48));
}

void Settings::fitToScreen()
{
    const int inner = content->sizeHint().width();
    // Room for the scroll bar, so that it never covers the groups.
    const int width = inner + scroll->verticalScrollBar()->sizeHint().width();
    QScreen* on = screen() ? screen() : QGuiApplication::primaryScreen();
    const int available = on ? on->availableGeometry().height() : 720;
    const int full = content->hasHeightForWidth() ? content->heightForWidth(inner) : content->sizeHint().height();
    setFixedWidth(width);
    setMaximumHeight(std::max(full, 200));
    resize(width, fittedHeight(full, available));
}

bool Settings::eventFilter(QObject* watched, QEvent* event)
{
    // The checklist and the download rows come and go after the window is shown: the
    // window follows them, no taller than the screen allows.
    if (watched == content && event->type() == QEvent::LayoutRequest && !fitting) {
        fitting = true;
        QTimer::singleShot(0, this, [self = QPointer<Settings>(this)] {
            if (!self)
                return;
            self->fitting = false;
            self->fitToScreen();
        });
    }
    return QDialog::eventFilter(watched, event);
}

void Settings::followUpdates()
{
    const Updates& updates = Updates::shared();
    updateLine->setText(updateStatus(updates.checking(), updates.verdict()));
    checkNow->setEnabled(!updates.checking());
    const bool offer = offersDownload(updates.latest(), Updates::current(), updates.download().has_value());
    downloadRows->setVisible(offer);
    if (offer) {
        notes->setText(updates.notes());
        notes->setVisible(!updates.notes().isEmpty());
        download->setText(QStringLiteral("Download Version ") + *updates.latest());
    }
}

void Settings::followKey()
{
    keyLabel->setText(keySaved ? QStringLiteral("Paste a new key to replace the saved one") : QStringLiteral("API key"));
    savedRow->setVisible(keySaved);
    verdictLine->setText(verdict);
    verdictLine->setVisible(!verdict.isEmpty());
    // Blanks alone are never stored, so they cannot have failed to be.
    // A keyring may first ask for its own password: the failure shows only once the
    // store has answered the newest change, not while its prompt is open.
    failedRow->setVisible(!keySaved && answered == keyEdits && !Text::trimWhitespaceAndLines(key->text()).isEmpty());
}

void Settings::followEngine()
{
    const QString value = Prefs::shared().transcriber();
    engine->setCurrentIndex(engine->findData(value));
    engineNote->setText(value == u"scribe"
                            ? QStringLiteral("Audio of each segment is uploaded to OpenRouter and ElevenLabs. Uses the "
                                             "key above.")
                            : QStringLiteral("Nothing leaves this computer. Needs whisper-cli and ffmpeg."));
}

void Settings::keyEdited(const QString& text)
{
    // Blanks and line breaks around a pasted key are not part of it: a field holding
    // only those must not remove a working key.
    const QString trimmed = Text::trimWhitespaceAndLines(text);
    if (trimmed.isEmpty()) {
        followKey();
        return;
    }
    const int edit = ++keyEdits;
    ++storing;
    TaskHandle::start([self = QPointer<Settings>(this), trimmed, edit](Cancel) -> QCoro::Task<> {
        co_await Keychain::setKey(trimmed);
        // Read the store itself: the key in memory is set whether or not it was saved.
        const std::optional<QByteArray> back = co_await Keychain::readItem(Keychain::service());
        if (!self)
            co_return;
        --self->storing;
        if (edit != self->keyEdits)
            co_return;
        self->answered = edit;
        self->keySaved = back && Text::trimWhitespaceAndLines(QString::fromUtf8(*back)) == trimmed;
        self->followKey();
    });
    followKey();
}

void Settings::testKey()
{
    verdict = QStringLiteral("Asking OpenRouter");
    followKey();
    TaskHandle::start([self = QPointer<Settings>(this)](Cancel) -> QCoro::Task<> {
        const QString sentence = co_await Analyst::checkKey();
        if (!self)
            co_return;
        self->verdict = sentence;
        self->followKey();
    });
}
