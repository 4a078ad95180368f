#include "core/services/Updates.h"

#include "core/project/Json.h"
#include "platform/Http.h"
#include "platform/Observable.h"
#include "platform/Prefs.h"

#include <QCoro/QCoroTimer>

Updates::Updates(QObject* parent)
    : QObject(parent)
{
}

Updates& Updates::shared()
{
    static Updates* instance = new Updates;
    return *instance;
}

QString Updates::current()
{
    const QString version = QStringLiteral(VANTOREL_VERSION);
    return version.isEmpty() ? QStringLiteral("0") : version;
}

QString Updates::build()
{
    return {};
}

QUrl Updates::feed()
{
    const QByteArray custom = qgetenv("VANTOREL_FEED_URL");
    if (!custom.isEmpty())
        return QUrl(QString::fromUtf8(custom));
    return QUrl(QStringLiteral("https://vantorel.app/latest.json"));
}

int Updates::compare(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compare digit runs by value without converting: skip leading zeros, then a
            // longer run is larger, then the digits decide. No run can overflow.
            qsizetype ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            qsizetype si = i, sj = j;
            while (si < ei - 1 && a[si] == u'0')
                ++si;
            while (sj < ej - 1 && b[sj] == u'0')
                ++sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj ? -1 : 1;
            for (; si < ei; ++si, ++sj) {
                if (a[si] != b[sj])
                    return a[si] < b[sj] ? -1 : 1;
            }
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    const bool aLeft = i < a.size(), bLeft = j < b.size();
    return aLeft == bLeft ? 0 : (aLeft ? 1 : -1);
}

QCoro::Task<> Updates::check()
{
    setChecking(true);
    Http::Request request;
    request.url = feed();
    request.timeout = std::chrono::seconds(20);
    request.headers = {{"User-Agent", ("Vantorel " + current()).toUtf8()}};
    const Http::Response response = co_await Http::send(request);

    std::optional<QString> version;
    Json document;
    if (response.reached() && response.status == 200) {
        document = Json::parse(response.body.begin(), response.body.end(), nullptr, false);
        if (document.is_object() && document.contains("version") && document["version"].is_string())
            version = QString::fromStdString(document["version"].get<std::string>());
    }
    if (!version) {
        setVerdict(QStringLiteral("The release site could not be reached."));
        setChecking(false);
        co_return;
    }

    setLatest(version);
    const auto notes = document.find("notes");
    setNotes(notes != document.end() && notes->is_string() ? QString::fromStdString(notes->get<std::string>())
                                                           : QString());
    std::optional<QUrl> download;
    if (const auto url = document.find("url"); url != document.end() && url->is_string()) {
        const QUrl parsed(QString::fromStdString(url->get<std::string>()), QUrl::StrictMode);
        if (parsed.isValid() && !parsed.isEmpty())
            download = parsed;
    }
    setDownload(download);
    setVerdict(compare(*version, current()) > 0
                   ? QStringLiteral("Version ") + *version + QStringLiteral(" is available.")
                   : QStringLiteral("You have the latest version."));
    setChecking(false);
}

void Updates::start(std::function<void(const QString&)> announce, std::chrono::milliseconds first,
                    std::chrono::milliseconds every)
{
    // The loop lives as long as the process; nothing cancels it.
    loop(std::move(announce), first, every);
}

QCoro::Task<> Updates::loop(std::function<void(const QString&)> announce, std::chrono::milliseconds first,
                            std::chrono::milliseconds every)
{
    co_await QCoro::sleepFor(first);
    for (;;) {
        // Only a stored "off" stops a check; an absent or odd value counts as on.
        if (Prefs::shared().autoUpdate()) {
            const std::optional<QString> before = latest_;
            co_await check();
            if (latest_ && compare(*latest_, current()) > 0 && latest_ != before && announce)
                announce(QStringLiteral("Version ") + *latest_ + QStringLiteral(" is available. See Settings \u25B8 Updates"));
        }
        co_await QCoro::sleepFor(every);
    }
}

void Updates::setLatest(const std::optional<QString>& v)
{
    if (assign(latest_, v))
        Q_EMIT latestChanged();
}

void Updates::setNotes(const QString& v)
{
    if (assign(notes_, v))
        Q_EMIT notesChanged();
}

void Updates::setDownload(const std::optional<QUrl>& v)
{
    if (assign(download_, v))
        Q_EMIT downloadChanged();
}

void Updates::setChecking(bool v)
{
    if (assign(checking_, v))
        Q_EMIT checkingChanged();
}

void Updates::setVerdict(const QString& v)
{
    if (assign(verdict_, v))
        Q_EMIT verdictChanged();
}
