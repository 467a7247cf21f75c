// SPDX-License-Identifier: GPL-3.0-or-later
// The .syx write and read round trip against the plainest model of the format:
// the file is the dump, byte for byte. Each input is two dumps, written one over
// the other to a real file whose name has blanks and non-ASCII letters; after
// each write the file, read back both by the program and by the C++ library,
// holds exactly the last dump, and no temporary file is left beside it.
//
// Input: one control byte (where the input splits into the two dumps), then the bytes.
#include "fuzz/ModelCheck.h"
#include "dump/SyxFile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

using namespace tandrel;

namespace {

QTemporaryDir* folder = nullptr;
QString path;

using fuzz::check;

ByteString readByLibrary(const QString& file)
{
    std::ifstream in(QFile::encodeName(file).constData(), std::ios::binary);
    return ByteString(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAndCheck(const ByteString& dump)
{
    check(WriteSyxFile(path, dump), "the write succeeds");
    check(readByLibrary(path) == dump, "the file holds exactly the dump");
    ByteString back(3, 'x');
    check(ReadSyxFile(path, back), "the read succeeds");
    check(back == dump, "the read gives back the dump");
    check(QDir(folder->path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size() == 1,
          "nothing is left beside the file");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A memory file system where there is one: every write ends in a sync to disk.
    const QString shm = QStringLiteral("/dev/shm");
    folder = QFileInfo(shm).isWritable() ? new QTemporaryDir(shm + QStringLiteral("/tandrel-fuzz-XXXXXX"))
                                         : new QTemporaryDir;
    std::atexit([] { delete folder; });
    path = folder->filePath(QStringLiteral("GT-3 Sicherung \u00e4\u00f6\u00fc \u30c0\u30f3\u30d7.syx"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const char* bytes = reinterpret_cast<const char*>(data) + 1;
    const std::size_t n = size - 1;
    const std::size_t split = n * data[0] / 255;
    writeAndCheck(ByteString(bytes, split));
    // Replacing a longer file must leave nothing of its tail, and the reverse.
    writeAndCheck(ByteString(bytes + split, n - split));
    return 0;
}
