// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/JackServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace tandrel::testing {
namespace {

const QString kShm = QStringLiteral("/dev/shm");
const QString kPrefix = QStringLiteral("tandrel-test-");

QStringList shmEntries()
{
    return QDir(kShm).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
}

// A child that dies with the test program, so a crashed test leaves no server behind.
void dieWithParent(QProcess& p)
{
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

QString runTool(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    bool done = p.waitForFinished(20000);  // slow on a busy machine, but not to be cut short
    if (!done) {
        p.kill();
        p.waitForFinished(1000);
    }
    if (exitCode) *exitCode = done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// The JACK memory (not the registry every JACK process shares) that the processes
// under `proc` (/proc, or /proc/<pid>) have mapped.
QStringList mappedSharedMemory(const QString& proc)
{
    QStringList maps;
    if (QFileInfo::exists(proc + QStringLiteral("/maps"))) {
        maps << proc + QStringLiteral("/maps");
    } else {
        for (const QString& pid : QDir(proc).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (pid.front().isDigit()) maps << proc + QLatin1Char('/') + pid + QStringLiteral("/maps");
    }
    QStringList found;
    for (const QString& path : maps) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const qsizetype at = line.indexOf("/dev/shm/jack");
            if (at < 0) continue;
            const QString entry = QString::fromLocal8Bit(line.mid(at + 9)).trimmed().remove(QStringLiteral(" (deleted)"));
            if (entry != QLatin1String("jack-shm-registry") && !found.contains(entry)) found << entry;
        }
    }
    return found;
}

void removeEntry(const QString& entry)
{
    QFileInfo info(kShm + QLatin1Char('/') + entry);
    if (info.isDir() && !info.isSymLink())
        QDir(info.filePath()).removeRecursively();
    else
        QFile::remove(info.filePath());
}

}  // namespace

bool JackServer::installed()
{
    return !QStandardPaths::findExecutable(QStringLiteral("jackd")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("jack_lsp")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("jack_connect")).isEmpty();
}

JackServer::JackServer(std::chrono::milliseconds turn)
{
    if (!installed()) {
        error_ = QStringLiteral("jackd, jack_lsp or jack_connect is not installed (package jackd2)");
        return;
    }

    // Servers take turns. Those of one user share JACK's registry and its metadata
    // database, and one that ends takes the database away from the others; and each
    // needs about 40 MB of /dev/shm, which CI machines may have once only.
    lockFd_ = ::open(QFile::encodeName(QDir::tempPath() + QStringLiteral("/tandrel-jackd-0.lock")).constData(),
                     O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    QDeadlineTimer turnOver(turn);
    while (lockFd_ >= 0 && !(locked_ = ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0) && !turnOver.hasExpired())
        QThread::msleep(50);
    if (!locked_) {
        error_ = QStringLiteral("other tests' JACK servers did not end in time");
        return;
    }
    // One name for all: JACK's table of servers has room for only eight, and the
    // entry that a killed server leaves is taken back only by a server of its name.
    name_ = kPrefix + QStringLiteral("0");
    removeLeftovers();

    envSet_ = true;
    hadServer_ = qEnvironmentVariableIsSet("JACK_DEFAULT_SERVER");
    oldServer_ = qgetenv("JACK_DEFAULT_SERVER");
    hadApi_ = qEnvironmentVariableIsSet("TANDREL_MIDI_API");
    oldApi_ = qgetenv("TANDREL_MIDI_API");
    qputenv("JACK_DEFAULT_SERVER", name_.toLocal8Bit());
    qputenv("TANDREL_MIDI_API", "jack");

    jackd_ = std::make_unique<QProcess>();
    QString output;
    if (!launch(*jackd_, name_, &output) && output.contains(QLatin1String("Too many servers"))) {
        reclaimDeadServers();
        jackd_ = std::make_unique<QProcess>();
        launch(*jackd_, name_, &output);
    }
    if (running()) {
        noteSharedMemory();
        return;
    }
    error_ = QStringLiteral("jackd did not become ready: ") + output.right(2000);
    stop();
}

bool JackServer::launch(QProcess& jackd, const QString& name, QString* output)
{
    jackd.setProcessChannelMode(QProcess::MergedChannels);
    dieWithParent(jackd);
    // -S: each cycle waits for every client, so a busy machine slows the server
    // down instead of making it drop a late client's MIDI. -R: realtime where the
    // system allows it (jackd carries on without it where it does not), so the
    // cycles keep time while other tests load the machine.
    jackd.start(QStringLiteral("jackd"),
                {QStringLiteral("-S"), QStringLiteral("-R"), QStringLiteral("-p"), QStringLiteral("64"), QStringLiteral("-n"), name,
                 QStringLiteral("-d"), QStringLiteral("dummy"), QStringLiteral("-r"), QString::number(sampleRate),
                 QStringLiteral("-p"), QString::number(period)});
    QDeadlineTimer ready(std::chrono::seconds(20));
    // No client knocks before the server's socket is there: a client that JACK
    // half-registered while starting up, or that was killed half-way, spoils the
    // server for every client after it.
    const QString socket = kShm + QStringLiteral("/jack_%1_%2_0").arg(name).arg(::getuid());
    while (!QFileInfo::exists(socket) && !ready.hasExpired() && jackd.waitForStarted(5000)
           && jackd.state() == QProcess::Running)
        QThread::msleep(10);
    bool up = false;
    while (!up && !ready.hasExpired() && jackd.state() == QProcess::Running) {
        int code = -1;
        runTool(QStringLiteral("jack_lsp"), {QStringLiteral("-s"), name}, &code);
        up = code == 0;
        if (!up) QThread::msleep(30);
    }
    if (!up) {
        jackd.kill();
        jackd.waitForFinished(3000);
    }
    if (output) *output = QString::fromLocal8Bit(jackd.readAll());
    return up;
}

void JackServer::reclaimDeadServers()
{
    // JACK frees the entry of a dead server only when a server of that name starts
    // again; so start each one briefly, and let it end cleanly.
    QFile registry(kShm + QStringLiteral("/jack-shm-registry"));
    if (!registry.open(QIODevice::ReadOnly)) return;
    const QByteArray data = registry.readAll();
    const QByteArray prefix = "jack-" + QByteArray::number(::getuid()) + ':';
    for (qsizetype at = data.indexOf(prefix); at >= 4; at = data.indexOf(prefix, at + 1)) {
        qint32 pid = 0;
        std::memcpy(&pid, data.constData() + at - 4, sizeof pid);
        const qsizetype end = data.indexOf(':', at + prefix.size());
        if (pid <= 0 || end < 0 || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
        const QString dead = QString::fromLocal8Bit(data.mid(at + prefix.size(), end - at - prefix.size()));
        for (const QString& entry : shmEntries())
            if (entry.contains(QLatin1Char('_') + dead + QLatin1Char('_'))) removeEntry(entry);
        QProcess jackd;
        if (launch(jackd, dead, nullptr)) {
            jackd.terminate();
            jackd.waitForFinished(5000);
        }
    }
}

JackServer::~JackServer()
{
    stop();
    if (envSet_) {
        if (hadServer_) qputenv("JACK_DEFAULT_SERVER", oldServer_);
        else qunsetenv("JACK_DEFAULT_SERVER");
        if (hadApi_) qputenv("TANDREL_MIDI_API", oldApi_);
        else qunsetenv("TANDREL_MIDI_API");
    }
    if (lockFd_ >= 0) ::close(lockFd_);
}

bool JackServer::running() const
{
    return jackd_ && jackd_->state() != QProcess::NotRunning;
}

void JackServer::kill()
{
    if (!running()) return;
    noteSharedMemory();
    jackd_->kill();
    jackd_->waitForFinished(5000);
}

void JackServer::stop()
{
    if (running()) {
        noteSharedMemory();
        jackd_->terminate();  // a clean exit removes the server's own files
        if (!jackd_->waitForFinished(3000)) {
            jackd_->kill();
            jackd_->waitForFinished(3000);
        }
    }
    jackd_.reset();
    if (!locked_) return;
    // A killed server leaves its files: its socket and semaphores carry its name,
    // and its memory is what it had mapped (unless another server maps it now).
    QStringList leftovers = shm_;
    for (const QString& entry : shmEntries())
        if (entry.contains(QLatin1Char('_') + name_ + QLatin1Char('_'))) leftovers << entry;
    const QStringList mapped = mappedSharedMemory(QStringLiteral("/proc"));
    for (const QString& entry : leftovers)
        if (!mapped.contains(entry)) removeEntry(entry);
}

void JackServer::noteSharedMemory()
{
    if (!running()) return;
    for (const QString& entry : mappedSharedMemory(QStringLiteral("/proc/%1").arg(jackd_->processId())))
        if (!shm_.contains(entry)) shm_ << entry;
}

QStringList JackServer::sharedMemory() const
{
    return shm_;
}

void JackServer::removeLeftovers()
{
    // The socket and semaphores of a server of this name that was killed: a new
    // server would take them for a running one.
    for (const QString& entry : shmEntries())
        if (entry.contains(QLatin1Char('_') + name_ + QLatin1Char('_'))) removeEntry(entry);
}

QStringList JackServer::ports() const
{
    return runTool(QStringLiteral("jack_lsp"), {QStringLiteral("-s"), name_}).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool JackServer::waitForPort(const QString& port, std::chrono::milliseconds timeout) const
{
    QDeadlineTimer deadline(timeout);
    do {
        if (ports().contains(port)) return true;
        QThread::msleep(20);
    } while (!deadline.hasExpired() && running());
    return false;
}

bool JackServer::connect(const QString& from, const QString& to) const
{
    int code = -1;
    runTool(QStringLiteral("jack_connect"), {QStringLiteral("-s"), name_, from, to}, &code);
    return code == 0;
}

QString gt3simPath()
{
    const QString path = qEnvironmentVariable("TANDREL_BUILD_DIR") + QStringLiteral("/tools/gt3sim/gt3sim");
    return QFileInfo(path).isExecutable() ? path : QString();
}

std::unique_ptr<QProcess> startGt3sim(const QStringList& args)
{
    auto sim = std::make_unique<QProcess>();
    sim->setProcessChannelMode(QProcess::SeparateChannels);
    dieWithParent(*sim);
    sim->start(gt3simPath(), args);
    sim->waitForStarted(5000);
    return sim;
}

bool finishGt3sim(QProcess& sim, std::chrono::milliseconds timeout)
{
    if (sim.state() != QProcess::NotRunning && !sim.waitForFinished(static_cast<int>(timeout.count()))) {
        sim.kill();
        sim.waitForFinished(3000);
        return false;
    }
    return sim.exitStatus() == QProcess::NormalExit;
}

std::map<QString, long long> gt3simSummary(const QString& output, const QString& prefix)
{
    std::map<QString, long long> values;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (!line.startsWith(prefix)) continue;
        for (const QString& pair : line.mid(prefix.size()).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            if (eq > 0) values[pair.left(eq)] = pair.mid(eq + 1).toLongLong();
        }
    }
    return values;
}

}  // namespace tandrel::testing
