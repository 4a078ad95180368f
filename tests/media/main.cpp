#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <clocale>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

// A sound server that has no output device, as on a desktop without sound or in a remote
// session: its clients connect, but no sound can be played. Started when the machine has
// one to start; otherwise the players meet no sound server at all.
class SoundlessServer {
public:
    explicit SoundlessServer(const QString& folder)
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (program.isEmpty())
            return;
        const QString socket = folder + QStringLiteral("/native");
        const QString script = folder + QStringLiteral("/server.pa");
        QFile file(script);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(QStringLiteral("load-module module-native-protocol-unix socket=%1 auth-anonymous=1\n").arg(socket).toUtf8());
        file.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), folder);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder);
        // Each test program has a server of its own, but a session bus takes the server's
        // name only once: tests that run side by side would find none but the first.
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        server.setProcessEnvironment(env);
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(program, {"-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                               "--disable-shm", "--log-level=error"});
        server.waitForStarted(5000);
        for (int i = 0; i < 250 && !QFile::exists(socket) && server.state() != QProcess::NotRunning; ++i)
            QThread::msleep(20);
        if (QFile::exists(socket))
            qputenv("PULSE_SERVER", ("unix:" + socket).toUtf8());
    }
    ~SoundlessServer()
    {
        server.kill();
        server.waitForFinished(2000);
    }
    bool running() const { return server.state() == QProcess::Running; }

private:
    QProcess server;
};

} // namespace

// The real player needs a GUI application (its picture goes to a video sink); it runs on
// the offscreen platform, so no display is needed. Sound goes nowhere: the players must
// show the picture all the same.
int main(int argc, char** argv)
{
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    // Before any player looks for sound outputs.
    QTemporaryDir sound;
    SoundlessServer server(sound.path());
    ::testing::InitGoogleTest(&argc, argv);
    if (!server.running())
        std::printf("No sound server to start: the players meet no sound output at all.\n");
    return RUN_ALL_TESTS();
}
