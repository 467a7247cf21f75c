// SPDX-License-Identifier: GPL-3.0-or-later
// Installs the built program into a scratch prefix and checks what lands there:
// the exact list of files, that the desktop entry and the AppStream metainfo pass
// their validators, and that the names the files use for each other agree.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

const QString kAppId = QStringLiteral("org.example.Tandrel");

struct Result {
    int exitCode = -1;
    QString output;
};

Result run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000) || !p.waitForFinished(120000))
        return {-1, QStringLiteral("could not run ") + program};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAll())};
}

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

class Install : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        prefix_ = new QTemporaryDir;
        const QString build = qEnvironmentVariable("TANDREL_BUILD_DIR");
        ASSERT_FALSE(build.isEmpty()) << "TANDREL_BUILD_DIR is not set";
        const Result r = run(QStringLiteral(TANDREL_CMAKE_COMMAND),
                             {QStringLiteral("--install"), build, QStringLiteral("--prefix"), prefix_->path()});
        ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    }
    static void TearDownTestSuite() { delete prefix_; }
    static QString installed(const QString& relative) { return prefix_->filePath(relative); }

    static inline QTemporaryDir* prefix_ = nullptr;
};

TEST_F(Install, PlacesExactlyTheProgramAndItsDesktopFiles)
{
    QStringList files;
    QDirIterator it(prefix_->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(prefix_->path()).relativeFilePath(it.next());
    files.sort();
    EXPECT_EQ(files, QStringList({"bin/tandrel", "share/applications/org.example.Tandrel.desktop",
                                  "share/icons/hicolor/scalable/apps/org.example.Tandrel.svg",
                                  "share/metainfo/org.example.Tandrel.metainfo.xml"}))
        << files.join(u' ').toStdString();
    EXPECT_TRUE(QFileInfo(installed("bin/tandrel")).isExecutable());
}

TEST_F(Install, DesktopEntryPassesItsValidator)
{
    const QString tool = QStandardPaths::findExecutable("desktop-file-validate");
    if (tool.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
    const Result r = run(tool, {installed("share/applications/org.example.Tandrel.desktop")});
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_EQ(r.output.trimmed(), QString()) << "no warnings or hints either";
}

TEST_F(Install, MetainfoPassesItsValidator)
{
    const QString tool = QStandardPaths::findExecutable("appstreamcli");
    if (tool.isEmpty())
        GTEST_SKIP() << "appstreamcli is not installed (package appstream)";
    const Result r = run(tool, {"validate", "--no-net", installed("share/metainfo/org.example.Tandrel.metainfo.xml")});
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
}

TEST_F(Install, FilesNameEachOtherConsistently)
{
    const QStringList lines = readText(installed("share/applications/org.example.Tandrel.desktop")).split(u'\n');
    EXPECT_TRUE(lines.contains(QStringLiteral("Icon=") + kAppId)) << "the icon is found by the installed name";
    EXPECT_TRUE(lines.contains(QStringLiteral("Exec=tandrel")));

    // The metainfo launches the installed desktop entry, carries a screenshot with
    // a caption, and describes at least one release.
    QXmlStreamReader meta(readText(installed("share/metainfo/org.example.Tandrel.metainfo.xml")));
    QString id, launchable, caption;
    bool releaseNotes = false;
    while (!meta.atEnd()) {
        if (meta.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = meta.name();
        if (name == QLatin1String("id"))
            id = meta.readElementText();
        else if (name == QLatin1String("launchable"))
            launchable = meta.readElementText();
        else if (name == QLatin1String("caption"))
            caption = meta.readElementText();
        else if (name == QLatin1String("release"))
            releaseNotes = true;
    }
    EXPECT_FALSE(meta.hasError()) << meta.errorString().toStdString();
    EXPECT_EQ(id, kAppId);
    EXPECT_EQ(launchable, kAppId + QStringLiteral(".desktop"));
    EXPECT_FALSE(caption.trimmed().isEmpty());
    EXPECT_TRUE(releaseNotes);
}

}  // namespace
