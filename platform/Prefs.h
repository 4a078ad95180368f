#pragma once

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <optional>

// The user's preferences, over QSettings, with a typed getter and default per key.
// Setters store and emit `changed(key)` only when the value really changes, so a
// toggle in one window shows in every other at once.
class Prefs : public QObject {
    Q_OBJECT
public:
    // The one store the program uses (the XDG config folder).
    static Prefs& shared();
    // A store in a file of its own (tests).
    explicit Prefs(const QString& file, QObject* parent = nullptr);

    // Raw access; an absent key gives an invalid QVariant.
    QVariant value(const QString& key) const;
    bool contains(const QString& key) const;
    void set(const QString& key, const QVariant& value);
    void remove(const QString& key);
    // Writes what is not stored yet (the store otherwise writes on the next turn of the
    // event loop, which a process that ends at once never takes).
    void sync() { settings.sync(); }

    QString text(const QString& key, const QString& fallback) const;
    bool flag(const QString& key, bool fallback) const;
    double number(const QString& key, double fallback) const;
    std::optional<double> optionalNumber(const QString& key) const;
    int integer(const QString& key, int fallback) const;

    QString model() const { return text(QStringLiteral("model"), QStringLiteral("anthropic/claude-haiku-5.5")); }
    QString editModel() const { return text(QStringLiteral("editModel"), QStringLiteral("anthropic/claude-sonnet-5.5")); }
    QString transcriber() const { return text(QStringLiteral("transcriber"), QStringLiteral("whisper")); }
    QString language() const { return text(QStringLiteral("language"), QStringLiteral("th")); }
    bool autoUpdate() const { return flag(QStringLiteral("autoUpdate"), true); }
    bool exportSubtitles() const { return flag(QStringLiteral("exportSubtitles"), true); }
    bool exportReveal() const { return flag(QStringLiteral("exportReveal"), true); }
    bool snapToSpeech() const { return flag(QStringLiteral("snapToSpeech"), true); }
    double timelineZoom() const { return number(QStringLiteral("timelineZoom"), 1.0); }
    bool clipNames() const { return flag(QStringLiteral("clipNames"), false); }
    bool clipFilmstrip() const { return flag(QStringLiteral("clipFilmstrip"), true); }
    bool clipWaveform() const { return flag(QStringLiteral("clipWaveform"), true); }
    double clipFilmstripHeight() const { return number(QStringLiteral("clipFilmstripHeight"), 54.0); }
    double clipWaveformHeight() const { return number(QStringLiteral("clipWaveformHeight"), 24.0); }
    int segmentFilter() const { return integer(QStringLiteral("segmentFilter"), 0); }
    std::optional<double> workspaceWidth() const { return optionalNumber(QStringLiteral("workspaceWidth")); }
    std::optional<double> workspaceHeight() const { return optionalNumber(QStringLiteral("workspaceHeight")); }
    QStringList recents() const;
    double volume() const { return number(QStringLiteral("volume"), 1.0); }

Q_SIGNALS:
    void changed(const QString& key);

private:
    explicit Prefs(QObject* parent = nullptr);
    mutable QSettings settings;
};
