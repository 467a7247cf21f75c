// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What many tests need: Qt's events run until something happens, files read and
// written whole, a scratch file system, and the programs a test drives.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>

namespace tandrel::testing {

//! Runs Qt's events until `done`; false when `limit` passes first.
bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
inline void runEventsFor(std::chrono::milliseconds t) { runEventsUntil([] { return false; }, t); }
QByteArray readBytes(const QString& path);  //!< empty when it cannot be read
//! Writes `bytes` as the whole of `path`, making its folder if need be.
bool writeBytes(const QString& path, const QByteArray& bytes);
//! The first of `tools` that is not on the PATH; empty when all are.
QString missingTool(std::initializer_list<const char*> tools);

//! A tmpfs mounted over `path` for the life of the object, where the test may mount.
struct Tmpfs {
    Tmpfs(const QString& path, const char* options);
    ~Tmpfs();
    bool makeReadOnly() const;
    QByteArray where;
    bool mounted;
};

// From here on defined beside the JACK server (bench/ builds that file alone).
//! Has `p`'s child killed when the test program dies, so a crashed test leaves nothing behind.
void dieWithParent(QProcess& p);
//! gt3sim in TANDREL_BUILD_DIR; empty when it is not built.
QString gt3simPath();
//! Starts gt3sim with `args`; it is killed when the pointer goes or the test program dies.
std::unique_ptr<QProcess> startGt3sim(const QStringList& args);
//! Starts any program the same way.
std::unique_ptr<QProcess> startProgram(const QString& program, const QStringList& args);
//! Waits for gt3sim to end; false (and the process killed) on a timeout or a crash.
bool finishGt3sim(QProcess& sim, std::chrono::milliseconds timeout);
//! Has gt3sim write a GT-3 dump of `size` bytes into `path`; the dump, empty if it failed.
QByteArray generateDump(const QString& path, int size, int seed = 1);
//! The `key=value` pairs of gt3sim's summary line that starts with `prefix`.
std::map<QString, long long> gt3simSummary(const QString& output, const QString& prefix);

}  // namespace tandrel::testing
