#include "views/kit/Dialogs.h"

#include "views/kit/Style.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <QCoro/QCoroSignal>
#include <QPointer>
#include <memory>

namespace {

// Hears both ends of a dialog: its finished signal, or its destruction.
class Ending : public QObject {
    Q_OBJECT
public:
    explicit Ending(QDialog* dialog)
    {
        connect(dialog, &QDialog::finished, this, &Ending::ended);
        connect(dialog, &QObject::destroyed, this, [this] { Q_EMIT ended(QDialog::Rejected); });
    }
Q_SIGNALS:
    void ended(int result);
};

} // namespace

QCoro::Task<int> finished(QDialog* dialog)
{
    if (!dialog)
        co_return QDialog::Rejected;
    const auto ending = std::make_unique<Ending>(dialog);
    auto wait = qCoro(ending.get(), &Ending::ended);
    dialog->open();
    const std::optional<int> result = co_await std::move(wait);
    co_return result.value_or(QDialog::Rejected);
}

#include "Dialogs.moc"

void widen(QMessageBox* box)
{
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 320px; }"));
}

QDialog* openRenameShort(QWidget* parent, const QString& name, std::function<void(const QString& name)> rename)
{
    auto* dialog = new QDialog(parent->window());
    dialog->setWindowTitle(QStringLiteral("Rename Short"));
    auto* column = new QVBoxLayout(dialog);
    auto* title = new QLabel(QStringLiteral("Rename Short"), dialog);
    title->setFont(Style::font(Style::Text::headline));
    auto* field = new QLineEdit(name, dialog);
    field->setObjectName(QStringLiteral("name"));
    field->setPlaceholderText(QStringLiteral("Name"));
    field->setMinimumWidth(260);
    field->selectAll();
    auto* buttons = new QDialogButtonBox(dialog);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    QPushButton* button = buttons->addButton(QStringLiteral("Rename"), QDialogButtonBox::AcceptRole);
    button->setDefault(true);
    column->addWidget(title);
    column->addWidget(field);
    column->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    QObject::connect(dialog, &QDialog::accepted, dialog, [rename = std::move(rename), field] { rename(field->text()); });
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
    return dialog;
}

QVBoxLayout* sheetColumn(QDialog* sheet, const QString& title, int width, int padding)
{
    sheet->setWindowTitle(title);
    sheet->setFixedWidth(width);
    auto* column = new QVBoxLayout(sheet);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(12);
    column->setSizeConstraint(QLayout::SetFixedSize);
    auto* heading = new QLabel(title, sheet);
    heading->setFont(Style::font(Style::Text::title, QFont::DemiBold));
    column->addWidget(heading);
    return column;
}
