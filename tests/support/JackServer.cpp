// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/JackServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <atomic>
#include <cerrno>

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
    bool done = p.waitForFinished(5000);
    if (!done) {
        p.kill();
        p.waitForFinished(1000);
    }
    if (exitCode) *exitCode = done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromLocal8Bit(p.readAllStandardOutput());
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
    static std::atomic<int> serial{0};
    name_ = kPrefix + QString::number(::getpid()) + QLatin1Char('-') + QString::number(serial++);

    if (!installed()) {
        error_ = QStringLiteral("jackd, jack_lsp or jack_connect is not installed (package jackd2)");
        return;
    }

    const QByteArray lockPath = QFile::encodeName(QDir::tempPath() + QStringLiteral("/tandrel-jackd.lock"));
    lockFd_ = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    QDeadlineTimer turnOver(turn);
    while (lockFd_ >= 0 && !(locked_ = ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0) && !turnOver.hasExpired())
        QThread::msleep(50);
    if (!locked_) {
        error_ = QStringLiteral("another test's JACK server did not end in time");
        return;
    }

    removeLeftovers();
    shmBefore_ = shmEntries();

    envSet_ = true;
    hadServer_ = qEnvironmentVariableIsSet("JACK_DEFAULT_SERVER");
    oldServer_ = qgetenv("JACK_DEFAULT_SERVER");
    hadApi_ = qEnvironmentVariableIsSet("TANDREL_MIDI_API");
    oldApi_ = qgetenv("TANDREL_MIDI_API");
    qputenv("JACK_DEFAULT_SERVER", name_.toLocal8Bit());
    qputenv("TANDREL_MIDI_API", "jack");

    jackd_ = std::make_unique<QProcess>();
    jackd_->setProcessChannelMode(QProcess::MergedChannels);
    dieWithParent(*jackd_);
    jackd_->start(QStringLiteral("jackd"),
                  {QStringLiteral("-r"), QStringLiteral("-p"), QStringLiteral("64"), QStringLiteral("-n"), name_,
                   QStringLiteral("-d"), QStringLiteral("dummy"), QStringLiteral("-r"), QString::number(sampleRate),
                   QStringLiteral("-p"), QString::number(period)});
    if (!jackd_->waitForStarted(5000)) {
        error_ = QStringLiteral("jackd did not start: ") + jackd_->errorString();
        return;
    }
    QDeadlineTimer ready(std::chrono::seconds(10));
    while (!ready.hasExpired() && running()) {
        int code = -1;
        runTool(QStringLiteral("jack_lsp"), {QStringLiteral("-s"), name_}, &code);
        if (code == 0) return;
        QThread::msleep(30);
    }
    error_ = QStringLiteral("jackd did not become ready: ")
        + QString::fromLocal8Bit(jackd_->readAll()).right(2000);
    stop();
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
    jackd_->kill();
    jackd_->waitForFinished(5000);
}

void JackServer::stop()
{
    if (running()) {
        jackd_->terminate();  // a clean exit removes the server's own files
        if (!jackd_->waitForFinished(3000)) {
            jackd_->kill();
            jackd_->waitForFinished(3000);
        }
    }
    jackd_.reset();
    if (!locked_) return;
    // JACK files that appeared while the server ran are its own (other servers
    // wait for the lock), except the registry that every JACK process shares.
    for (const QString& entry : shmEntries()) {
        if (!entry.startsWith(QLatin1String("jack")) || shmBefore_.contains(entry)
            || entry == QLatin1String("jack-shm-registry"))
            continue;
        removeEntry(entry);
    }
}

void JackServer::removeLeftovers()
{
    // Sockets and semaphores of servers whose test program died: the name holds the pid.
    for (const QString& entry : shmEntries()) {
        const int at = entry.indexOf(kPrefix);
        if (at < 0) continue;
        const qint64 pid = entry.mid(at + kPrefix.size()).section(QLatin1Char('-'), 0, 0).toLongLong();
        if (pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            removeEntry(entry);
    }
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
