// SPDX-License-Identifier: GPL-3.0-or-later
// Send on the real main window with doubled ports: what goes out, what the user
// sees at every yield, and what other commands do when they run inside one.
#include "dump/DumpWindow.h"

#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace tandrel;
using namespace tandrel::testing;
using Messages = std::vector<ByteString>;

namespace {

//! Records the bar and the status at every yield of the send.
struct Fixture : DumpWindow {
    std::vector<float> values;
    QStringList texts;
    std::function<void()> atFirstYield = [] {};
    Fixture()
    {
        fake.loop.onDoEvents = [this] {
            values.push_back(w->proSend->Value());
            texts.push_back(w->statusText());
            EXPECT_TRUE(w->statusColour() == frmMain::kYellow && w->proSend->Visible());
            if (fake.loop.yields == 1)
                atFirstYield();
        };
    }
    void expectFinished() const
    {
        EXPECT_EQ(w->statusText(), "Sent sysex to GT-3--ready to Receive or Open");
        EXPECT_EQ(w->statusColour(), frmMain::kGreen);
        EXPECT_EQ(fake.beeper.beeps, 1);
        EXPECT_FALSE(w->proSend->Visible());
        EXPECT_EQ(w->proSend->Value(), w->proSend->Min());
        EXPECT_TRUE(MAIN.sSysexData.empty() && MAIN.lByteCount == 0);
        EXPECT_EQ(fake.log.only("in.").front(), "in.Command=5");
        EXPECT_EQ(fake.log.only("in.").back(), "in.Command=4");
    }
};

const ByteString a = message(10, 'a'), b = message(20, 'b'), c = message(30, 'c');

}  // namespace

TEST(SendCommand, SendsEveryWholeMessageInOrderAndEndsReady)
{
    const struct {
        const char* name; ByteString dump; Messages sent; float max; std::vector<float> values; QStringList texts;
    } cases[] = {
        {"three messages", a + b + c, {a, b, c}, 15, {2.5, 7.5, 15},
         {" 10 bytes sent to GT-3", " 30 bytes sent to GT-3", " 60 bytes sent to GT-3"}},
        {"a cut-off last message", a + "\xF0\x41\x10", {a}, 3.25, {2.5}, {" 10 bytes sent to GT-3"}},
        {"no F7 at all", "\xF0\x41\x10\x12", {}, 1, {}, {}},
        {"pieces without F0", ByteString("\x41\xF7\xF7\x00\x7F\xF7", 6), {"\x41\xF7", "\xF7", ByteString("\x00\x7F\xF7", 3)},
         1.5, {0.5, 0.75, 1.5}, {" 2 bytes sent to GT-3", " 3 bytes sent to GT-3", " 6 bytes sent to GT-3"}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Fixture f;
        f.MAIN.sSysexData = k.dump;
        f.MAIN.lByteCount = 99;
        f.w->bDumpUnsaved = true;
        f.w->cmdSend->click();
        EXPECT_EQ(f.out.sent, k.sent);
        // The status goes before every transmission, and once more before a search that finds no further F7.
        const std::size_t leftover = k.dump.back() != '\xF7';
        EXPECT_EQ(f.fake.log.only("out.MessageStatus=240").size(), k.sent.size() + leftover);
        EXPECT_EQ(f.fake.log.only("out.MessageData=0 bytes").size(), k.sent.size());
        EXPECT_EQ(f.values, k.values);
        EXPECT_EQ(f.texts, k.texts);
        EXPECT_FLOAT_EQ(f.w->proSend->Max(), k.max);
        f.expectFinished();
        EXPECT_TRUE(f.w->bDumpUnsaved);
        EXPECT_EQ(f.w->focusWidget(), f.w->cmdFocus);
    }
}

TEST(SendCommand, AnEmptyDumpOnlyMovesTheFocusAndSaysSo)
{
    Fixture f;
    f.w->cmdSend->click();
    EXPECT_EQ(f.fake.log.entries(), std::vector<std::string>{"MsgBox:There's no file open to send to the GT-3."});
    EXPECT_EQ(f.w->focusWidget(), f.w->cmdFocus);
}

TEST(SendCommand, AFailingStepIsSkippedAndTheSendGoesOn)
{
    const struct {
        ByteString dump, padding; int failingTransmit; Messages sent; std::vector<float> values;
    } cases[] = {
        {a, "xx", 0, {a}, {0}},  // 12 bytes read back for 10: the bar refuses 3 > 2.5; 12 > 10 ends the loop
        {a + b + c, "", 2, {a, c}, {2.5, 7.5, 15}},  // the second transmission fails
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.failingTransmit);
        Fixture f;
        f.out.padding = k.padding;
        f.out.failingTransmit = k.failingTransmit;
        f.MAIN.sSysexData = k.dump;
        f.w->cmdSend->click();
        EXPECT_EQ(f.out.sent, k.sent);
        EXPECT_EQ(f.values, k.values);
        f.expectFinished();
    }
}

TEST(SendCommand, OtherCommandsDuringAYield)
{
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("saved.syx"));
    const struct {
        const char* name; std::function<void(Fixture&)> atFirstYield; std::size_t transmitted; bool finished;
    } cases[] = {
        {"second Send", [](Fixture& f) { f.w->cmdSend->click(); }, 3, true},
        {"Receive", [](Fixture& f) { f.w->cmdReceive->click(); }, 1, true},
        {"completed Save", [&](Fixture& f) { f.fake.dialog.willChoose(saved); f.w->cmdSave->click(); }, 1, true},
        {"cancelled Save", [](Fixture& f) { f.fake.dialog.willCancel(); f.w->cmdSave->click(); }, 3, true},
        {"Quit", [](Fixture& f) { f.w->cmdQuit->click(); }, 1, false},
        {"window closed", [](Fixture& f) { f.w->close(); }, 1, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Fixture f;
        f.atFirstYield = [&] { k.atFirstYield(f); };
        f.MAIN.sSysexData = a + b + c;
        f.w->cmdSend->click();
        EXPECT_EQ(f.out.sent.size(), k.transmitted);
        EXPECT_EQ(f.w->unloaded(), !k.finished);
        EXPECT_FALSE(f.w->sending());
        if (k.finished)
            f.expectFinished();
        else  // nothing touches the ports once the window has unloaded
            EXPECT_TRUE(f.fake.log.entries().back() == "End" && f.fake.beeper.beeps == 0);
    }
    EXPECT_EQ(fileBytes(saved), a + b + c);
}
