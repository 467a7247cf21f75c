// SPDX-License-Identifier: GPL-3.0-or-later
// Cutting a dump into messages for sending, through the main window's real Send
// command over doubled ports, against a model: every piece up to and including
// an F7 goes out whole and in order, nothing after the last F7 goes out, and a
// dump emptied during a yield ends the send after the message in flight.
//
// Input: one control byte (after how many messages a yield empties the dump;
// 0 = never), then the dump itself.
#include "fuzz/ModelCheck.h"
#include "app/frmMain.h"
#include "dump/DumpVerifier.h"
#include "dump/MessageCutter.h"
#include "platform/testing/FakeServices.h"

#include <QApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

std::vector<ByteString> modelPieces(const ByteString& dump)
{
    std::vector<ByteString> pieces;
    ByteString piece;
    for (const char c : dump) {
        piece.push_back(c);
        if (static_cast<unsigned char>(c) == 0xF7) {
            pieces.push_back(piece);
            piece.clear();
        }
    }
    return pieces;
}

std::size_t modelNextLength(const ByteString& dump, std::size_t from)
{
    for (std::size_t i = from; i < dump.size(); ++i)
        if (static_cast<unsigned char>(dump[i]) == 0xF7)
            return i - from + 1;
    return 0;
}

using fuzz::check;

struct Harness {
    FakeServices fake;
    DumpState MAIN;
    frmMain window{fake.services, MAIN};
};

Harness* harness = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The fuzzer ends the process with exit(): tear the window and the
    // application down then, as the program itself does on its way out.
    static QApplication* app = new QApplication(*argc, *argv);
    harness = new Harness;
    std::atexit([] {
        delete harness;
        delete app;
    });
    harness->fake.settings.values[QStringLiteral("User Setup?")] = QStringLiteral("1");
    harness->window.Form_Load();
    // Fonts and styles load lazily on first use and keep what they load for the
    // life of the process; load them here so that no single input is charged.
    harness->MAIN.sSysexData = "\xF0\x41\xF7";
    harness->window.cmdSend_Click();
    harness->window.cmdSend_Click();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const unsigned emptyAfter = data[0];
    const ByteString dump(reinterpret_cast<const char*>(data) + 1, size - 1);

    // The cutter on its own, from every start that matters and from past the end.
    for (std::size_t from = 0; from <= dump.size() + 1; from += 1 + from / 8)
        check(NextMessageLength(dump, from) == modelNextLength(dump, from), "NextMessageLength");

    Harness& h = *harness;
    h.fake.out.sent.clear();
    h.fake.boxes.boxes.clear();
    // A dump with damaged messages asks first; the answer is to send it anyway.
    h.fake.boxes.answers = {MessageBoxes::vbYes};
    h.fake.log.clear();
    const int beepsBefore = h.fake.beeper.beeps;
    unsigned yields = 0;
    h.fake.loop.onDoEvents = [&] {
        if (++yields == emptyAfter)
            h.MAIN.sSysexData.clear();
    };

    h.MAIN.sSysexData = dump;
    h.window.cmdSend_Click();

    if (dump.empty()) {
        check(h.fake.out.sent.empty(), "an empty dump sends nothing");
        check(h.fake.boxes.boxes.size() == 1, "an empty dump is refused with one box");
        check(h.fake.beeper.beeps == beepsBefore, "an empty dump does not beep");
        return 0;
    }
    std::vector<ByteString> expected = modelPieces(dump);
    if (emptyAfter != 0 && expected.size() > emptyAfter)
        expected.resize(emptyAfter);
    check(h.fake.out.sent == expected, "the messages handed to the output port");
    check(h.fake.boxes.boxes.size() == (VerifyDump(dump).damaged > 0 ? 1u : 0u), "a send asks only about damage");
    check(h.MAIN.sSysexData.empty(), "the dump is empty after a send");
    check(h.fake.beeper.beeps == beepsBefore + 1, "one beep per send");
    check(h.window.statusText() == QStringLiteral("Sent sysex to GT-3--ready to Receive or Open"), "final status");
    check(!h.window.proSend->Visible(), "the progress bar is hidden after a send");
    return 0;
}
