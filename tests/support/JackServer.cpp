// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/JackServer.h"

#include <QCoreApplication>
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

namespace tandrel::testing {
namespace {

const QString kShm = QStringLiteral("/dev/shm");

QString runTool(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    const bool done = p.waitForFinished(20000);  // slow on a busy machine, but not to be cut short
    if (!done) p.kill();
    if (exitCode) *exitCode = done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// The JACK memory, less the registry all JACK processes share, that the processes `pids` map.
QStringList mappedSharedMemory(const QStringList& pids)
{
    QStringList found;
    for (const QString& pid : pids) {
        QFile f("/proc/" + pid + "/maps");
        if (!pid.front().isDigit() || !f.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const qsizetype at = line.indexOf("/dev/shm/jack");
            if (at < 0) continue;
            const QString entry = QString::fromLocal8Bit(line.mid(at + 9)).trimmed().remove(" (deleted)");
            if (entry != "jack-shm-registry" && !found.contains(entry)) found << entry;
        }
    }
    return found;
}

// A server's socket and semaphores carry its name.
QStringList entriesOf(const QString& server)
{
    return QDir(kShm).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
        .filter('_' + server + '_');
}

void removeEntry(const QString& entry)
{
    QFileInfo info(kShm + '/' + entry);
    if (info.isDir() && !info.isSymLink()) QDir(info.filePath()).removeRecursively();
    else QFile::remove(info.filePath());
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

bool JackServer::installed()
{
    for (const char* tool : {"jackd", "jack_lsp", "jack_connect"})
        if (QStandardPaths::findExecutable(tool).isEmpty()) return false;
    return true;
}

JackServer::JackServer(std::chrono::milliseconds turn)
{
    if (!installed()) {
        error_ = "jackd, jack_lsp or jack_connect is not installed (package jackd2)";
        return;
    }
    // Servers take turns: those of one user share JACK's registry and metadata
    // database, and each needs about 40 MB of /dev/shm, which CI may have once only.
    lockFd_ = ::open(QFile::encodeName(QDir::tempPath() + "/tandrel-jackd-0.lock").constData(),
                     O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    QDeadlineTimer turnOver(turn);
    while (lockFd_ >= 0 && !(locked_ = ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0) && !turnOver.hasExpired())
        QThread::msleep(50);
    if (!locked_) {
        error_ = "other tests' JACK servers did not end in time";
        return;
    }
    // One name for all: JACK's table has room for eight servers, and only a server of
    // its name takes back the entry a killed one left.
    name_ = "tandrel-test-0";
    for (const QString& entry : entriesOf(name_)) removeEntry(entry);
    for (const auto& [var, value] : {std::pair{"JACK_DEFAULT_SERVER", name_.toLocal8Bit()},
                                     std::pair{"TANDREL_MIDI_API", QByteArray("jack")}}) {
        savedEnv_.emplace_back(var, qEnvironmentVariableIsSet(var) ? std::optional(qgetenv(var)) : std::nullopt);
        qputenv(var, value);
    }

    jackd_ = std::make_unique<QProcess>();
    jackd_->setProcessChannelMode(QProcess::MergedChannels);
    dieWithParent(*jackd_);
    // -S: each cycle waits for every client, so a busy machine slows the server
    // instead of dropping a late client's MIDI; -R: realtime where allowed.
    jackd_->start("jackd", {"-S", "-R", "-p", "64", "-n", name_, "-d", "dummy", "-r", "48000", "-p", "256"});
    QDeadlineTimer ready(std::chrono::seconds(20));
    // No client may knock before the socket is there: one half-registered while
    // the server starts spoils it for every client after it.
    const QString socket = kShm + QStringLiteral("/jack_%1_%2_0").arg(name_).arg(::getuid());
    while (!QFileInfo::exists(socket) && !ready.hasExpired() && jackd_->waitForStarted(5000) && running())
        QThread::msleep(10);
    for (int code = -1; !ready.hasExpired() && running(); QThread::msleep(30)) {
        runTool("jack_lsp", {"-s", name_}, &code);
        if (code == 0) {
            noteSharedMemory();
            realtime_ = realtimeAllowed();
            return;
        }
    }
    jackd_->kill();
    jackd_->waitForFinished(3000);
    error_ = "jackd did not become ready: " + QString::fromLocal8Bit(jackd_->readAll()).right(2000);
    stop();
}

JackServer::~JackServer()
{
    stop();
    for (const auto& [var, old] : savedEnv_) old ? qputenv(var, *old) : qunsetenv(var);
    if (lockFd_ >= 0) ::close(lockFd_);
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
        if (!jackd_->waitForFinished(3000)) kill();
    }
    jackd_.reset();
    if (!locked_) return;
    // What a killed server leaves: its named files, and the memory it had mapped
    // unless another server maps it now.
    const QStringList mapped = mappedSharedMemory(QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot));
    for (const QString& entry : shm_ + entriesOf(name_))
        if (!mapped.contains(entry)) removeEntry(entry);
}

void JackServer::noteSharedMemory()
{
    if (!running()) return;
    for (const QString& entry : mappedSharedMemory({QString::number(jackd_->processId())}))
        if (!shm_.contains(entry)) shm_ << entry;
}

int JackServer::xruns()
{
    // What jackd wrote waits in the pipe until something reads it: a test that runs no
    // event loop would otherwise count nothing.
    if (jackd_) {
        do log_ += jackd_->readAll();
        while (jackd_->waitForReadyRead(0));
    }
    return static_cast<int>(log_.count("XRun"));
}

QStringList JackServer::ports() const
{
    return runTool("jack_lsp", {"-s", name_}).split('\n', Qt::SkipEmptyParts);
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

// The helpers below are declared in Helpers.h; they live here because bench/ builds
// this file alone.

void dieWithParent(QProcess& p)
{
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    QDeadlineTimer deadline(limit);
    for (; !done(); QThread::msleep(1)) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString gt3simPath()
{
    const QString path = qEnvironmentVariable("TANDREL_BUILD_DIR") + "/tools/gt3sim/gt3sim";
    return QFileInfo(path).isExecutable() ? path : QString();
}

std::unique_ptr<QProcess> startGt3sim(const QStringList& args)
{
    return startProgram(gt3simPath(), args);
}

std::unique_ptr<QProcess> startProgram(const QString& program, const QStringList& args)
{
    auto process = std::make_unique<QProcess>();
    dieWithParent(*process);
    process->start(program, args);
    process->waitForStarted(5000);
    return process;
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
    for (const QString& line : output.split('\n'))
        if (line.startsWith(prefix))
            for (const QString& pair : line.mid(prefix.size()).split(' ', Qt::SkipEmptyParts))
                if (const qsizetype eq = pair.indexOf('='); eq > 0) values[pair.left(eq)] = pair.mid(eq + 1).toLongLong();
    return values;
}

}  // namespace tandrel::testing
