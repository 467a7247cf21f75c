// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace tandrel::bench {

//! One harness, baseline or tool run by the suite. It reads the child's key=value
//! lines as they come, keeps the child's error output for the report of a failed
//! run, and kills the child when it is dropped.
class BenchProcess {
public:
    BenchProcess(const QString& program, const QStringList& args, const QProcessEnvironment& env);
    ~BenchProcess();
    BenchProcess(const BenchProcess&) = delete;
    BenchProcess& operator=(const BenchProcess&) = delete;

    //! The monotonic time just before the child was spawned.
    std::int64_t spawnNs() const { return spawnNs_; }
    bool started() const { return started_; }

    //! Waits until the child has printed `key`; false when it ended or the time ran out.
    bool waitFor(const QString& key, int timeoutMs);
    //! Waits for the child to end; kills it after `timeoutMs`. True for a normal exit
    //! with status 0.
    bool finish(int timeoutMs);
    //! Closes the child's standard input (ends `bench_rtmidi device`).
    void closeInput();

    bool has(const QString& key) const { return values_.contains(key); }
    QString value(const QString& key) const { return values_.value(key); }
    double number(const QString& key) const { return values_.value(key).toDouble(); }
    std::int64_t integer(const QString& key) const { return values_.value(key).toLongLong(); }
    //! Everything the child printed on stdout.
    QString output() const { return output_; }
    //! The end of its error output, and how it ended, for a failure report.
    QString failure() const;

private:
    void readLines();

    std::unique_ptr<QProcess> process_;
    QString program_;
    std::int64_t spawnNs_ = 0;
    bool started_ = false;
    QByteArray pending_;
    QByteArray errors_;
    QString output_;
    QMap<QString, QString> values_;
};

}  // namespace tandrel::bench
