// Starts the real pelicard-server on a 100,000-contact database and measures it from the
// outside, the way clients use it: one TCP connection per request. A bare C server with one
// thread per connection is measured beside it: the ceiling of this machine at this moment.
#include "contactgenerator.h"
#include "passwords.h"
#include "protocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

using namespace Protocol;

namespace {

constexpr int ContactCount = 100000;

struct Setup
{
    qint64 serverPid = 0;
    quint16 port = 0;
    qint64 barePid = 0;
    quint16 barePort = 0;
    QByteArray hello;
    QByteArray addContact;
    QByteArray transfer;
    qint64 databaseBytes = 0;
};
Setup g;

// One request on a fresh connection; reads until the server closes. Returns the bytes received,
// or -1 when the connection failed; *declared gets the reply's size field.
qint64 exchange(const QByteArray &request, qint64 *declared = nullptr, quint16 port = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port ? port : g.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    for (qsizetype sent = 0; sent < request.size();) {
        const ssize_t n = ::write(fd, request.constData() + sent, size_t(request.size() - sent));
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        sent += n;
    }
    static thread_local std::vector<char> buffer(1 << 20);
    qint64 received = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        if (declared && received == 0 && n >= SizeFieldBytes)
            *declared = qFromBigEndian<qint64>(buffer.data());
        received += n;
    }
    ::close(fd);
    return received;
}

// CPU time the server process has used so far (every thread, finished ones included), in µs.
double serverCpuMicroseconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    const double ticks = fields[11].toDouble() + fields[12].toDouble(); // utime, stime
    return ticks * 1e6 / double(::sysconf(_SC_CLK_TCK));
}

void requests(benchmark::State &state, const QByteArray &request, bool bare = false)
{
    const qint64 pid = bare ? g.barePid : g.serverPid;
    const quint16 port = bare ? g.barePort : g.port;
    const double cpuBefore = state.thread_index() == 0 ? serverCpuMicroseconds(pid) : 0;
    for (auto _ : state) {
        if (exchange(request, nullptr, port) <= 0) {
            state.SkipWithError("no reply");
            break;
        }
    }
    state.counters["requests/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    if (state.thread_index() == 0) {
        // The threads leave the loop together, so this covers every thread's requests.
        const double total = double(state.iterations()) * state.threads();
        state.counters["server_cpu_us/req"] = (serverCpuMicroseconds(pid) - cpuBefore) / total;
    }
}

void BM_Hello(benchmark::State &state)
{
    requests(state, g.hello);
}
void BM_BareHello(benchmark::State &state)
{
    requests(state, g.hello, true);
}
void BM_AddContact(benchmark::State &state)
{
    requests(state, g.addContact);
}

// The most the server process has held in memory so far, in MB.
double serverPeakMegabytes()
{
    QFile status(QStringLiteral("/proc/%1/status").arg(g.serverPid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (QByteArray line; !(line = status.readLine()).isEmpty();)
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1000;
    return 0;
}

// The whole database (about 40 MB); with several threads, clients that download at once.
void transfers(benchmark::State &state, bool afterChange)
{
    qint64 bytes = 0;
    for (auto _ : state) {
        bool added = true;
        if (afterChange) {
            state.PauseTiming();
            added = exchange(g.addContact) > 0;
            state.ResumeTiming();
        }
        qint64 declared = -1;
        bytes = exchange(g.transfer, &declared);
        if (!added || bytes < g.databaseBytes || bytes != declared + SizeFieldBytes) {
            state.SkipWithError("incomplete transfer");
            break;
        }
    }
    state.counters["reply MB"] =
        benchmark::Counter(double(bytes) / 1e6, benchmark::Counter::kAvgThreads);
    state.counters["MB/s"] = benchmark::Counter(double(state.iterations()) * double(bytes) / 1e6,
                                                benchmark::Counter::kIsRate);
    if (state.thread_index() == 0)
        state.counters["server peak MB"] = serverPeakMegabytes();
}

void BM_Transfer100k(benchmark::State &state)
{
    transfers(state, false);
}
// A change before every transfer: the server has to copy the file again.
void BM_Transfer100kAfterChange(benchmark::State &state)
{
    transfers(state, true);
}

BENCHMARK(BM_BareHello)->Threads(1)->Threads(16)->UseRealTime();
BENCHMARK(BM_Hello)->Threads(1)->Threads(16)->UseRealTime();
BENCHMARK(BM_AddContact)->Threads(1)->Threads(16)->UseRealTime();
BENCHMARK(BM_Transfer100k)->Threads(1)->Threads(4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transfer100kAfterChange)->UseRealTime()->Unit(benchmark::kMillisecond);

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "bench_server: %s %s\n", what, qPrintable(detail));
    return false;
}

bool prepare(const QString &home, QProcess &server)
{
    const QString dataDir = home + QStringLiteral("/.pelicard/server");
    const QString database = dataDir + QStringLiteral("/server.sqlite");
    QDir().mkpath(dataDir);
    QElapsedTimer timer;
    timer.start();
    QString error;
    if (!ContactGenerator::writeDatabase(database, ContactCount, &error))
        return fail("cannot write the database:", error);
    g.databaseBytes = QFileInfo(database).size();
    std::fprintf(stderr, "database: %d contacts, %lld bytes, written in %lld ms\n", ContactCount,
                 g.databaseBytes, timer.elapsed());

    const QString password = QStringLiteral("bench");
    g.port = freePort();
    {
        QSettings settings(home + QStringLiteral("/.config/brisvane/Pelicard-server.conf"),
                           QSettings::IniFormat);
        settings.setValue("server/password", Passwords::sha1Digest(password));
        settings.setValue("server/port", g.port);
        settings.setValue("server/start", true);
        settings.setValue("server/serverRevision", 0);
    }
    const QString field = Passwords::fieldText(Passwords::sha1Digest(password));
    g.hello = encodeMessage(field, RequestType::Hello, pingPayload());
    g.addContact = encodeMessage(field, RequestType::AddContact,
                                 encodeContact(ContactGenerator::make(ContactCount + 7)));
    g.transfer = encodeMessage(field, RequestType::DatabaseTransfer, QByteArray());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    server.setProcessEnvironment(env);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(PELICARD_SERVER_BINARY), {"-platform", "offscreen"});
    if (!server.waitForStarted(10000))
        return fail("cannot start", server.errorString());
    g.serverPid = server.processId();
    QElapsedTimer waiting;
    waiting.start();
    while (exchange(g.hello) <= 0) {
        if (waiting.hasExpired(20000) || server.state() != QProcess::Running)
            return fail("the server does not answer");
        QThread::msleep(20);
    }
    return true;
}

bool startBare(QProcess &bare)
{
    g.barePort = freePort();
    bare.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    bare.start(QStringLiteral(PELICARD_BARE_SERVER_BINARY), {QString::number(g.barePort)});
    if (!bare.waitForStarted(10000))
        return fail("cannot start the bare server", bare.errorString());
    g.barePid = bare.processId();
    QElapsedTimer waiting;
    waiting.start();
    while (exchange(g.hello, nullptr, g.barePort) <= 0) {
        if (waiting.hasExpired(10000) || bare.state() != QProcess::Running)
            return fail("the bare server does not answer");
        QThread::msleep(20);
    }
    return true;
}

void stop(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir home;
    QProcess server;
    QProcess bare;
    if (!prepare(home.path(), server) || !startBare(bare))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stop(bare);
    stop(server);
    return 0;
}
