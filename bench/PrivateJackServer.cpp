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
#include <sys/statvfs.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
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

}  // namespace

bool PrivateJackServer::installed()
{
    return !QStandardPaths::findExecutable(QStringLiteral("jackd")).isEmpty()
           && !QStandardPaths::findExecutable(QStringLiteral("jack_lsp")).isEmpty();
}

PrivateJackServer::PrivateJackServer()
{
    if (!installed()) {
        error_ = QStringLiteral("jackd or jack_lsp is not installed (package jackd2)");
        return;
    }
    // The tests' servers share out slotCount through these locks, one name per slot, so
    // that JACK's table of eight servers never fills with dead ones; the suite takes
    // a slot like any test, waiting for one to come free.
    struct statvfs shm {};
    const unsigned long long room = ::statvfs("/dev/shm", &shm) == 0 ? 1ull * shm.f_bavail * shm.f_frsize : 0;
    const int slotCount = static_cast<int>(std::clamp<unsigned long long>(room / (64ull << 20), 1, 4));
    QDeadlineTimer turn(std::chrono::minutes(5));
    int slot = 0;
    bool locked = false;
    for (;; slot = (slot + 1) % slotCount) {
        if (lockFd_ >= 0)
            ::close(lockFd_);
        const QString lockPath = QDir::tempPath() + QStringLiteral("/tandrel-jackd-%1.lock").arg(slot);
        lockFd_ = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        locked = lockFd_ >= 0 && ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0;
        if (locked || (slot + 1 == slotCount && turn.hasExpired()))
            break;
        if (slot + 1 == slotCount)
            QThread::msleep(100);
    }
    if (!locked) {
        error_ = QStringLiteral("the tests' JACK servers did not leave a slot free in time");
        return;
    }
    name_ = QStringLiteral("tandrel-test-%1").arg(slot);
    removeOwnFiles();  // a killed server of this name left them
    qputenv("JACK_DEFAULT_SERVER", name_.toLocal8Bit());
    qputenv("JACK_NO_START_SERVER", "1");

    realtime_ = realtimeAllowed();
    if (start(realtime_))
        return;
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
    // -S: a cycle waits for every client, so a late one slows the server down
    // instead of losing its MIDI.
    QStringList args{QStringLiteral("-S"), realtime ? QStringLiteral("-R") : QStringLiteral("-r")};
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
    removeOwnFiles();
}

void PrivateJackServer::removeOwnFiles()
{
    // Only what bears the server's name: other servers run beside this one.
    for (const QString& entry : shmEntries())
        if (entry.contains(QLatin1Char('_') + name_ + QLatin1Char('_')))
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
