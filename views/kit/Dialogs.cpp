#include "views/kit/Dialogs.h"

#include <QMessageBox>

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
