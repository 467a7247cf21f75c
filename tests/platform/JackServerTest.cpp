// SPDX-License-Identifier: GPL-3.0-or-later
// The private JACK server that the MIDI tests run on: it answers, and whether it
// ends cleanly or is killed, it leaves nothing behind in /dev/shm.
#include "support/JackServer.h"

#include <QDir>

#include <gtest/gtest.h>

using tandrel::testing::JackServer;

namespace {

QStringList shmFiles()
{
    return QDir(QStringLiteral("/dev/shm")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
}

TEST(JackServerTest, StartsPointsTheProcessAtItAndCleansUpHoweverItEnds)
{
    if (!JackServer::installed()) GTEST_SKIP() << "jackd2 tools (jackd, jack_lsp, jack_connect) are not installed";
    for (const bool crash : {false, true}) {
        SCOPED_TRACE(crash ? "killed" : "stopped");
        QStringList own;
        {
            JackServer jack;
            ASSERT_TRUE(jack.ok()) << jack.error().toStdString();
            EXPECT_EQ(qEnvironmentVariable("JACK_DEFAULT_SERVER"), jack.name());
            EXPECT_EQ(qEnvironmentVariable("TANDREL_MIDI_API"), QStringLiteral("jack"));
            EXPECT_TRUE(jack.ports().contains(QStringLiteral("system:capture_1")));
            EXPECT_TRUE(jack.connect(QStringLiteral("system:capture_1"), QStringLiteral("system:playback_1")));
            EXPECT_FALSE(jack.connect(QStringLiteral("system:capture_1"), QStringLiteral("nobody:in")));
            own = shmFiles().filter(jack.name());
            EXPECT_FALSE(own.isEmpty()) << "the server's socket and semaphores live in /dev/shm";
            EXPECT_FALSE(jack.sharedMemory().isEmpty());
            own += jack.sharedMemory();
            if (crash) {
                jack.kill();
                EXPECT_FALSE(jack.running());
                EXPECT_FALSE(jack.waitForPort(QStringLiteral("system:capture_1"), std::chrono::milliseconds(100)));
            }
        }
        const QStringList after = shmFiles();
        for (const QString& file : own) EXPECT_FALSE(after.contains(file)) << "left behind: " << file.toStdString();
        EXPECT_FALSE(qEnvironmentVariableIsSet("JACK_DEFAULT_SERVER"));
    }
}

}  // namespace
