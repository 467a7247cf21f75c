// SPDX-License-Identifier: GPL-3.0-or-later
#include "PrivateJackServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <thread>

namespace tandrel::bench {

namespace {

const QString kShm = QStringLiteral("/dev/shm");

QStringList shmEntries()
{
    return QDir(kShm).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
}

void removeEntry(const QString& entry)
{
    const QFileInfo info(kShm + QLatin1Char('/') + entry);
    if (info.isDir() && !info.isSymLink())
        QDir(info.filePath()).removeRecursively();
    else
        QFile::remove(info.filePath());
}

// Whether a thread of ours may take realtime scheduling, as the server's would.
bool realtimeAllowed()
{
    bool allowed = false;
    std::thread probe([&] {
        sched_param p{};
        p.sched_priority = sched_get_priority_min(SCHED_FIFO);
        allowed = pthread_setschedparam(pthread_self(), SCHED_FIFO, &p) == 0;
    });
    probe.join();
    return allowed;
}

bool anyServerRunning()
{
    QProcess ps;
    ps.start(QStringLiteral("pgrep"), {QStringLiteral("-x"), QStringLiteral("jackd")});
    ps.waitForFinished(5000);
    // pgrep also lists servers that have ended but not been reaped; those are harmless.
    for (const QByteArray& pid : ps.readAllStandardOutput().split('\n')) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid.trimmed())));
        if (!pid.trimmed().isEmpty() && stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z "))
            return true;
    }
    return false;
}

}  // namespace

bool PrivateJackServer::installed()
{
    return !QStandardPaths::findExecutable(QStringLiteral("jackd")).isEmpty()
           && !QStandardPaths::findExecutable(QStringLiteral("jack_lsp")).isEmpty();
}

PrivateJackServer::PrivateJackServer() : name_(QStringLiteral("tandrel-bench-%1").arg(::getpid()))
{
    if (!installed()) {
        error_ = QStringLiteral("jackd or jack_lsp is not installed (package jackd2)");
        return;
    }
    // The tests' servers take turns through this lock, because each needs room in
    // /dev/shm; the benchmarks wait their turn too, but not for ever.
    const QByteArray lockPath = QFile::encodeName(QDir::tempPath() + QStringLiteral("/tandrel-jackd.lock"));
    lockFd_ = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    QDeadlineTimer turn(std::chrono::minutes(3));
    while (lockFd_ >= 0 && !(locked_ = ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0) && !turn.hasExpired())
        QThread::msleep(100);
    shmBefore_ = shmEntries();
    qputenv("JACK_DEFAULT_SERVER", name_.toLocal8Bit());
    qputenv("JACK_NO_START_SERVER", "1");

    realtime_ = realtimeAllowed();
    if (start(realtime_))
        return;
    // Servers killed outright stay in JACK's registry, and once it is full no server
    // starts. With no server left running, the registry can go; JACK makes a new one.
    if (log_.contains("Too many servers") && !anyServerRunning()) {
        QFile::remove(kShm + QStringLiteral("/jack-shm-registry"));
        if (start(realtime_))
            return;
    }
    error_ = QStringLiteral("jackd did not become ready: ") + QString::fromLocal8Bit(log_).trimmed().right(600);
}

PrivateJackServer::~PrivateJackServer()
{
    stop();
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

bool PrivateJackServer::start(bool realtime)
{
    stop();
    log_.clear();
    jackd_ = std::make_unique<QProcess>();
    jackd_->setProcessChannelMode(QProcess::MergedChannels);
    jackd_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    QStringList args{realtime ? QStringLiteral("-R") : QStringLiteral("-r")};
    if (realtime)
        args << QStringLiteral("-P") << QStringLiteral("70");
    args << QStringLiteral("-p") << QStringLiteral("64") << QStringLiteral("-n") << name_ << QStringLiteral("-d")
         << QStringLiteral("dummy") << QStringLiteral("-r") << QStringLiteral("48000") << QStringLiteral("-p")
         << QStringLiteral("256");
    jackd_->start(QStringLiteral("jackd"), args);
    if (!jackd_->waitForStarted(5000))
        return false;
    QDeadlineTimer ready(std::chrono::seconds(10));
    while (!ready.hasExpired() && jackd_->state() == QProcess::Running) {
        QProcess lsp;
        lsp.start(QStringLiteral("jack_lsp"), {QStringLiteral("-s"), name_});
        if (lsp.waitForFinished(5000) && lsp.exitStatus() == QProcess::NormalExit && lsp.exitCode() == 0)
            return true;
        QThread::msleep(30);
    }
    jackd_->waitForFinished(1000);
    log_ += jackd_->readAll();
    return false;
}

void PrivateJackServer::stop()
{
    if (!jackd_)
        return;
    if (jackd_->state() != QProcess::NotRunning) {
        jackd_->terminate();
        if (!jackd_->waitForFinished(3000)) {
            jackd_->kill();
            jackd_->waitForFinished(3000);
        }
    }
    jackd_.reset();
    // Holding the lock, what appeared in /dev/shm while the server ran is its own,
    // but for the registry that every server shares; without it, only what bears
    // the server's name.
    for (const QString& entry : shmEntries())
        if (entry.startsWith(QLatin1String("jack")) && !shmBefore_.contains(entry)
            && entry != QLatin1String("jack-shm-registry") && (locked_ || entry.contains(name_)))
            removeEntry(entry);
}

QStringList PrivateJackServer::ports() const
{
    QProcess lsp;
    lsp.start(QStringLiteral("jack_lsp"), {QStringLiteral("-s"), name_});
    lsp.waitForFinished(5000);
    return QString::fromLocal8Bit(lsp.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool PrivateJackServer::waitForPort(const QString& port, std::chrono::milliseconds timeout) const
{
    QDeadlineTimer deadline(timeout);
    do {
        if (ports().contains(port))
            return true;
        QThread::msleep(20);
    } while (!deadline.hasExpired() && jackd_ && jackd_->state() == QProcess::Running);
    return false;
}

int PrivateJackServer::xruns()
{
    if (jackd_)
        log_ += jackd_->readAll();
    return static_cast<int>(log_.count("XRun"));
}

}  // namespace tandrel::bench
