// SPDX-License-Identifier: GPL-3.0-or-later
// Send on the real main window with doubled ports: what goes out, what the user
// sees at every yield, and what other commands do when they run inside one.
#include "app/frmMain.h"
#include "platform/testing/FakeServices.h"
#include "setup/SettingsKeys.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

using namespace tandrel;
using namespace tandrel::testing;
using Log = std::vector<std::string>;
using Messages = std::vector<ByteString>;

namespace {

const QString kSentText = QStringLiteral("Sent sysex to GT-3--ready to Receive or Open");

//! An output port that reads back more than it was given, or fails one transmission.
class OddOutput : public FakeMIDIOutput {
public:
    using FakeMIDIOutput::FakeMIDIOutput;
    ByteString MessageData() const override { return FakeMIDIOutput::MessageData() + padding; }
    void setCommand(std::int16_t code) override
    {
        if (code == Transmit && ++transmits == failingTransmit)
            throw std::runtime_error("port failure");
        FakeMIDIOutput::setCommand(code);
    }
    ByteString padding;
    int failingTransmit = 0;
    int transmits = 0;
};

struct Fixture {
    FakeServices fake;
    OddOutput out{fake.log};
    Services services{fake.in, out, fake.dialog, fake.boxes, fake.settings, fake.folders, fake.beeper, fake.loop};
    DumpState MAIN;
    std::unique_ptr<frmMain> w;

    struct Seen {
        float value;
        QString text;
        unsigned colour;
        bool barVisible;
    };
    std::vector<Seen> seen;  // at every yield of the send

    Fixture()
    {
        fake.settings.values[settings::kUserSetup] = QStringLiteral("1");
        w = std::make_unique<frmMain>(services, MAIN);
        w->Form_Load();
        fake.log.clear();
        fake.loop.onDoEvents = [this] {
            seen.push_back({w->proSend->Value(), w->statusText(), w->statusColour(), w->proSend->Visible()});
        };
    }
};

ByteString message(std::size_t length, char fill)
{
    ByteString m(length, fill);
    m.front() = '\xF0';
    m.back() = '\xF7';
    return m;
}

ByteString join(const Messages& parts)
{
    ByteString all;
    for (const auto& p : parts)
        all += p;
    return all;
}

}  // namespace

TEST(SendCommand, SendsEveryWholeMessageInOrderAndEndsReady)
{
    const struct {
        const char* name;
        ByteString dump;
        Messages sent;
        float max;
        std::vector<float> values;
    } cases[] = {
        {"three messages", join({message(10, 'a'), message(20, 'b'), message(30, 'c')}),
         {message(10, 'a'), message(20, 'b'), message(30, 'c')}, 15, {2.5, 7.5, 15}},
        {"one message, fraction kept", message(1001, 'a'), {message(1001, 'a')}, 250.25, {250.25}},
        {"a cut-off last message", message(10, 'a') + "\xF0\x41\x10", {message(10, 'a')}, 3.25, {2.5}},
        {"no F7 at all", "\xF0\x41\x10\x12", {}, 1, {}},
        {"pieces without F0", ByteString("\x41\xF7\xF7\x00\x7F\xF7", 6), {"\x41\xF7", "\xF7", ByteString("\x00\x7F\xF7", 3)}, 1.5,
         {0.5, 0.75, 1.5}},
    };
    for (const bool unsaved : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            Fixture f;
            f.MAIN.sSysexData = c.dump;
            f.MAIN.lByteCount = 99;
            f.w->bDumpUnsaved = unsaved;
            f.w->cmdSend->click();

            EXPECT_EQ(f.out.sent, c.sent);
            Log expectedPorts{"in.Command=5"};
            for (const auto& m : c.sent)
                for (const std::string& e : {std::string("out.MessageStatus=240"),
                                             "out.MessageData=" + std::to_string(m.size()) + " bytes",
                                             std::string("out.Command=7"), std::string("out.MessageData=0 bytes")})
                    expectedPorts.push_back(e);
            // The search for a further F7 writes the status once more before it gives up.
            if (join(c.sent).size() < c.dump.size())
                expectedPorts.push_back("out.MessageStatus=240");
            expectedPorts.push_back("in.Command=4");
            Log ports;
            for (const auto& e : f.fake.log.entries())
                if (e.rfind("in.", 0) == 0 || e.rfind("out.", 0) == 0)
                    ports.push_back(e);
            EXPECT_EQ(ports, expectedPorts);

            ASSERT_EQ(f.seen.size(), c.values.size());
            std::size_t total = 0;
            for (std::size_t i = 0; i < c.values.size(); ++i) {
                total += c.sent[i].size();
                EXPECT_FLOAT_EQ(f.seen[i].value, c.values[i]);
                EXPECT_EQ(f.seen[i].text, QStringLiteral(" %1 bytes sent to GT-3").arg(total));
                EXPECT_EQ(f.seen[i].colour, frmMain::kYellow);
                EXPECT_TRUE(f.seen[i].barVisible);
            }
            EXPECT_FLOAT_EQ(f.w->proSend->Max(), c.max);
            EXPECT_FALSE(f.w->proSend->Visible());
            EXPECT_EQ(f.w->proSend->Value(), f.w->proSend->Min());
            EXPECT_EQ(f.w->statusText(), kSentText);
            EXPECT_EQ(f.w->statusColour(), frmMain::kGreen);
            EXPECT_EQ(f.fake.beeper.beeps, 1);
            EXPECT_TRUE(f.MAIN.sSysexData.empty());
            EXPECT_EQ(f.MAIN.lByteCount, 0);
            EXPECT_EQ(f.w->bDumpUnsaved, unsaved);
            EXPECT_EQ(f.w->focusWidget(), f.w->cmdFocus);
            EXPECT_FALSE(f.w->sending());
        }
    }
}

TEST(SendCommand, AnEmptyDumpOnlyMovesTheFocusAndSaysSo)
{
    Fixture f;
    f.MAIN.sSysexData = message(10, 'a');
    f.w->cmdSend->click();  // a send empties the dump: the next one has nothing
    f.fake.log.clear();
    f.w->cmdSend->click();
    EXPECT_EQ(f.fake.log.entries(), Log{"MsgBox:There's no file open to send to the GT-3."});
    EXPECT_EQ(f.fake.boxes.boxes.back().style, MessageBoxes::vbOKOnly);
    EXPECT_EQ(f.fake.boxes.boxes.back().title, "Tandrel");
    EXPECT_FALSE(f.w->proSend->Visible());
    EXPECT_EQ(f.fake.beeper.beeps, 1);
}

TEST(SendCommand, AFailingStepIsSkippedAndTheSendGoesOn)
{
    const struct {
        const char* name;
        ByteString padding;
        int failingTransmit;
        Messages sent;
        std::vector<float> values;
    } cases[] = {
        // The port reports 12 bytes for a 10-byte dump: the bar refuses 3 > 2.5 and
        // the count passing the dump's length ends the loop.
        {"read-back beyond the bar", "xx", 0, {message(10, 'a')}, {0}},
        {"second transmission fails", "", 2, {message(10, 'a'), message(30, 'c')}, {2.5, 7.5, 15}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.out.padding = c.padding;
        f.out.failingTransmit = c.failingTransmit;
        f.MAIN.sSysexData = c.padding.empty() ? join({message(10, 'a'), message(20, 'b'), message(30, 'c')})
                                              : message(10, 'a');
        f.w->cmdSend->click();
        EXPECT_EQ(f.out.sent, c.sent);
        ASSERT_EQ(f.seen.size(), c.values.size());
        for (std::size_t i = 0; i < c.values.size(); ++i)
            EXPECT_FLOAT_EQ(f.seen[i].value, c.values[i]);
        EXPECT_EQ(f.w->statusText(), kSentText);
        EXPECT_EQ(f.fake.beeper.beeps, 1);
        EXPECT_FALSE(f.w->proSend->Visible());
    }
}

TEST(SendCommand, OtherCommandsDuringAYield)
{
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("saved.syx"));
    const ByteString dump = join({message(10, 'a'), message(20, 'b'), message(30, 'c')});
    const struct {
        const char* name;
        std::function<void(Fixture&)> atFirstYield;
        std::size_t transmitted;
        bool finished;  // reached the final state with its beep
    } cases[] = {
        {"second Send", [](Fixture& f) { f.w->cmdSend->click(); }, 3, true},
        {"Receive", [](Fixture& f) { f.w->cmdReceive->click(); }, 1, true},
        {"completed Save", [&](Fixture& f) { f.fake.dialog.willChoose(saved); f.w->cmdSave->click(); }, 1, true},
        {"cancelled Save", [](Fixture& f) { f.fake.dialog.willCancel(); f.w->cmdSave->click(); }, 3, true},
        {"Quit", [](Fixture& f) { f.w->cmdQuit->click(); }, 1, false},
        {"window closed", [](Fixture& f) { f.w->close(); }, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.fake.loop.onDoEvents = [&] {
            if (f.fake.loop.yields == 1)
                c.atFirstYield(f);
        };
        f.MAIN.sSysexData = dump;
        f.w->cmdSend->click();
        EXPECT_EQ(f.out.sent.size(), c.transmitted);
        EXPECT_EQ(f.fake.beeper.beeps, c.finished ? 1 : 0);
        EXPECT_EQ(f.w->unloaded(), !c.finished);
        EXPECT_FALSE(f.w->sending());
        if (c.finished) {
            EXPECT_EQ(f.w->statusText(), kSentText);
        } else {
            // Nothing touches the ports once the window has unloaded.
            const Log& log = f.fake.log.entries();
            EXPECT_EQ(log.back(), "End");
            EXPECT_EQ(std::count(log.begin(), log.end(), "out.Command=2"), 1);
        }
    }
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), dump);
}
