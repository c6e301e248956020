#pragma once

#include "passwords.h"
#include "protocol.h"
#include "testclient.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

// The server password of every test home.
inline const QString Password = QStringLiteral("端到端");

inline QString field()
{
    return Passwords::fieldText(Passwords::sha1Digest(Password));
}

// pelicard-server in a home of its own, on the offscreen platform, as on a machine without a
// display, started by its settings alone.
class ServerHome
{
    using RequestType = Protocol::RequestType;

public:
    ServerHome()
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.setValue("server/password", Passwords::sha1Digest(Password));
        settings.setValue("server/port", port);
        settings.setValue("server/start", true);
    }

    QString settingsPath() const
    {
        return m_home.filePath(".config/brisvane/Pelicard-server.conf");
    }
    QString dataPath() const { return m_home.filePath(".pelicard/server"); }

    // Root reads any file: a server that must find its settings unreadable runs as nobody.
    bool dropPrivileges()
    {
        if (::geteuid() != 0)
            return true;
        m_unprivileged = true;
        QDirIterator it(m_home.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        bool owned = ::chown(QFile::encodeName(m_home.path()).constData(), Nobody, Nobody) == 0;
        while (it.hasNext())
            owned = ::chown(QFile::encodeName(it.next()).constData(), Nobody, Nobody) == 0 && owned;
        return owned;
    }

    void start(QProcess &server,
               QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_home.path());
        env.insert("XDG_CONFIG_HOME", m_home.filePath(".config"));
        env.remove("QT_QPA_PLATFORM");
        server.setProcessEnvironment(env);
        server.setProcessChannelMode(channels);
        if (m_unprivileged)
            server.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
                    ::_exit(126);
            });
        server.start(QStringLiteral(PELICARD_SERVER_BINARY), {"-platform", "offscreen"});
    }
    // Nothing tells from outside when it listens; asks until it answers.
    bool launch(QProcess &server)
    {
        start(server);
        return server.waitForStarted(10000) && QTest::qWaitFor([&] { return serves(); }, 10000);
    }
    static bool terminate(QProcess &server)
    {
        server.terminate();
        return server.waitForFinished(15000) && server.exitCode() == 0;
    }

    TestClient::Reply ask(RequestType type, const QByteArray &payload = QByteArray()) const
    {
        return TestClient::request(port, field(), type, payload);
    }
    bool serves() const
    {
        return ask(RequestType::Hello, Protocol::pingPayload()).message.is(RequestType::Hello);
    }

    const quint16 port = TestClient::freePort();

private:
    static constexpr uid_t Nobody = 65534;
    QTemporaryDir m_home;
    bool m_unprivileged = false;
};
