// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/SyxFile.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <new>
#include <stdexcept>

namespace tandrel {

bool WriteSyxFile(const QString& path, const ByteString& dump)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(dump.data(), static_cast<qint64>(dump.size())) != static_cast<qint64>(dump.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool ReadSyxFile(const QString& path, ByteString& dump)
{
    dump.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return ReadSyxFile(file, dump);
}

bool ReadSyxFile(QIODevice& file, ByteString& dump)
{
    dump.clear();
    const qint64 size = file.size();
    if (size < 0 || size > kMaxSyxFileSize)
        return false;
    try {
        dump.assign(static_cast<std::size_t>(size), ' ');
    } catch (const std::bad_alloc&) {
        dump.clear();
        return false;
    } catch (const std::length_error&) {
        dump.clear();
        return false;
    }
    qint64 done = 0;
    while (done < size) {
        const qint64 n = file.read(dump.data() + done, size - done);
        if (n <= 0)
            break;
        done += n;
    }
    if (done != size) {
        // A read that fails part-way leaves nothing of the file: only the blanks.
        std::fill(dump.begin(), dump.end(), ' ');
        return false;
    }
    return true;
}

}  // namespace tandrel
