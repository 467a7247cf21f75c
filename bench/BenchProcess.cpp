// SPDX-License-Identifier: GPL-3.0-or-later
#include "BenchProcess.h"

#include "ProcessStats.h"

#include <QDeadlineTimer>
#include <QFileInfo>

#include <signal.h>
#include <sys/prctl.h>

namespace tandrel::bench {

BenchProcess::BenchProcess(const QString& program, const QStringList& args, const QProcessEnvironment& env)
    : process_(std::make_unique<QProcess>()), program_(QFileInfo(program).fileName())
{
    process_->setProcessEnvironment(env);
    process_->setProcessChannelMode(QProcess::SeparateChannels);
    // A suite that dies must not leave children holding the JACK server.
    process_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    spawnNs_ = MonotonicNs();
    process_->start(program, args);
    started_ = process_->waitForStarted(10000);
}

BenchProcess::~BenchProcess()
{
    if (process_->state() != QProcess::NotRunning) {
        process_->kill();
        process_->waitForFinished(3000);
    }
}

void BenchProcess::readLines()
{
    pending_ += process_->readAllStandardOutput();
    // Drained as it comes too, so a chatty child never blocks on a full pipe.
    errors_ += process_->readAllStandardError();
    if (errors_.size() > 64 * 1024)
        errors_ = errors_.right(16 * 1024);
    for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
        const QString line = QString::fromLocal8Bit(pending_.left(end));
        pending_.remove(0, end + 1);
        output_ += line + QLatin1Char('\n');
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && !line.left(eq).contains(QLatin1Char(' ')))
            values_.insert(line.left(eq), line.mid(eq + 1));
    }
}

bool BenchProcess::waitFor(const QString& key, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    readLines();
    while (!values_.contains(key) && started_ && process_->state() != QProcess::NotRunning
           && !deadline.hasExpired()) {
        process_->waitForReadyRead(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 100)));
        readLines();
    }
    return values_.contains(key);
}

bool BenchProcess::finish(int timeoutMs)
{
    if (!started_)
        return false;
    bool ended = process_->state() == QProcess::NotRunning || process_->waitForFinished(timeoutMs);
    if (!ended) {
        process_->kill();
        process_->waitForFinished(3000);
    }
    readLines();
    if (!pending_.isEmpty()) {
        pending_ += '\n';
        readLines();
    }
    return ended && process_->exitStatus() == QProcess::NormalExit && process_->exitCode() == 0;
}

void BenchProcess::closeInput()
{
    process_->closeWriteChannel();
}

QString BenchProcess::failure() const
{
    QString how = !started_ ? QStringLiteral("did not start")
                  : process_->state() != QProcess::NotRunning ? QStringLiteral("still running")
                  : process_->exitStatus() == QProcess::CrashExit ? QStringLiteral("crashed")
                                                                  : QStringLiteral("exit %1").arg(process_->exitCode());
    const QString errors = QString::fromLocal8Bit(errors_ + process_->readAllStandardError()).trimmed().right(600);
    return program_ + QStringLiteral(" ") + how + (errors.isEmpty() ? QString() : QStringLiteral(": ") + errors);
}

}  // namespace tandrel::bench
