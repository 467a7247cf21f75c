// SPDX-License-Identifier: GPL-3.0-or-later
// Installs the built program into a scratch prefix and checks what lands there: the
// exact list of files, their validators, and the names they use for each other.
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <iostream>

#include <gtest/gtest.h>

namespace {

//! The exit code (-1 when it did not run or crashed) and the merged output.
std::pair<int, std::string> run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000) || !p.waitForFinished(120000))
        return {-1, "could not run " + program.toStdString()};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll().toStdString()};
}

TEST(Install, PlacesTheProgramAndItsDesktopFilesWhichValidateAndNameEachOther)
{
    QTemporaryDir prefix;
    const auto [installed, log] = run(TANDREL_CMAKE_COMMAND, {"--install", qEnvironmentVariable("TANDREL_BUILD_DIR"),
                                                              "--prefix", prefix.path()});
    ASSERT_EQ(installed, 0) << log;
    const QString desktop = "share/applications/org.example.Tandrel.desktop";
    const QString metainfo = "share/metainfo/org.example.Tandrel.metainfo.xml";
    QStringList files;
    for (QDirIterator it(prefix.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        files << QDir(prefix.path()).relativeFilePath(it.next());
    files.sort();
    EXPECT_EQ(files, QStringList({"bin/tandrel", "bin/tandrel-cli", "bin/tandrel-gt3sim", desktop,
                                  "share/doc/tandrel/changelog.gz", "share/doc/tandrel/copyright",
                                  "share/icons/hicolor/scalable/apps/org.example.Tandrel.svg",
                                  "share/man/man1/tandrel-cli.1.gz", metainfo}))
        << files.join(u' ').toStdString();
    EXPECT_TRUE(QFileInfo(prefix.filePath("bin/tandrel")).isExecutable());
    const auto text = [&](const QString& file) {
        QFile f(prefix.filePath(file));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    const QStringList entry = text(desktop).split(u'\n');
    EXPECT_TRUE(entry.contains("Icon=org.example.Tandrel") && entry.contains("Exec=tandrel"));
    // The metainfo launches the installed entry and has a captioned screenshot and a release.
    for (const char* pattern : {"<id>org\\.example\\.Tandrel</id>", ">org\\.example\\.Tandrel\\.desktop</launchable>",
                                "<caption>\\s*\\S", "<release\\s"})
        EXPECT_TRUE(text(metainfo).contains(QRegularExpression(pattern))) << pattern;

    // Both validators pass the installed files; the desktop entry gets not even a hint.
    const struct { const char* tool; const char* package; QStringList args; bool quiet; } validators[] = {
        {"desktop-file-validate", "desktop-file-utils", {prefix.filePath(desktop)}, true},
        {"appstreamcli", "appstream", {"validate", "--no-net", prefix.filePath(metainfo)}, false}};
    for (const auto& v : validators) {
        const QString tool = QStandardPaths::findExecutable(v.tool);
        if (tool.isEmpty()) {
            std::cout << "not validating with " << v.tool << ": it is not installed (package " << v.package << ")\n";
            continue;
        }
        const auto [code, output] = run(tool, v.args);
        EXPECT_EQ(code, 0) << output;
        EXPECT_TRUE(!v.quiet || QString::fromStdString(output).trimmed().isEmpty()) << output;
    }
}

}  // namespace
