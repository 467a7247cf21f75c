// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Helpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tandrel::testing {

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QString missingTool(std::initializer_list<const char*> tools)
{
    for (const char* tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return QString::fromLatin1(tool);
    return {};
}

Tmpfs::Tmpfs(const QString& path, const char* options) : where(QFile::encodeName(path))
{
    QDir().mkpath(path);
    mounted = ::mount("tmpfs", where.constData(), "tmpfs", 0, options) == 0;
    if (!mounted)
        std::printf("[ fault    ] no tmpfs on %s (%s): a stand-in is used\n", where.constData(), std::strerror(errno));
}

Tmpfs::~Tmpfs()
{
    if (mounted)
        ::umount2(where.constData(), MNT_DETACH);
}

bool Tmpfs::makeReadOnly() const
{
    return ::mount(nullptr, where.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

QByteArray generateDump(const QString& path, int size, int seed)
{
    auto gen = startGt3sim({"generate", path, "--size", QString::number(size), "--seed", QString::number(seed)});
    return finishGt3sim(*gen, std::chrono::seconds(30)) && gen->exitCode() == 0 ? readBytes(path) : QByteArray();
}

}  // namespace tandrel::testing
