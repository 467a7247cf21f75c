// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated GT-3's panel: what it says of a bulk load (a clean dump passes, each kind
// of damage is named with the count of where it happened), and on ports that stand in
// for MIDI, what a Bulk Load does to its memory, seen through the next Bulk Dump.
#include "Gt3Panel.h"
#include "LoadCheck.h"
#include "gt3sim/Dt1.h"
#include "support/Helpers.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace gt3sim;
using tandrel::testing::runEventsUntil;
using namespace std::chrono_literals;

namespace {

using Messages = std::vector<Bytes>;

Bytes dump(std::size_t size, unsigned seed)
{
    std::string error;
    return generateDump(size, 0, 0x10, seed, &error);
}

Messages messagesOf(const Bytes& dump)
{
    Messages out;
    for (auto at = dump.begin(); at != dump.end();) {
        const auto end = std::find(at, dump.end(), 0xF7) + 1;
        out.emplace_back(at, end);
        at = end;
    }
    return out;
}

// One event per message, stamped as a cable would deliver them `pauseUs` apart.
LoadCheck load(const Messages& messages, std::int64_t pauseUs)
{
    LoadCheck check(20ms);
    std::int64_t t = 0;
    for (const Bytes& m : messages) {
        check.feed(m.data(), m.size(), t);
        t += static_cast<std::int64_t>(m.size()) * 320 + pauseUs;
    }
    check.finish();
    return check;
}

std::string text(std::size_t messages, std::size_t bytes, const std::string& rest)
{
    return std::to_string(messages) + " messages, " + std::to_string(bytes) + " bytes" + rest;
}

TEST(LoadCheck, NamesWhatIsWrongWithALoad)
{
    const Messages dump = messagesOf(::dump(3000, 1));
    ASSERT_GT(dump.size(), 4u);
    const std::size_t n = dump.size(), size = 3000;

    const struct {
        const char* name;
        std::function<void(Messages&)> damage;
        std::int64_t pauseUs;
        std::string report;
        std::size_t addressErrors;
    } cases[] = {
        {"whole, paced as the unit asks", [](Messages&) {}, 20000, text(n, size, ", checksums OK"), 0},
        {"a data byte changed", [](Messages& m) { m[2][20] ^= 0x01; }, 20000, text(n, size, ": 1 bad checksum"), 0},
        {"two blocks swapped", [](Messages& m) { std::swap(m[1], m[2]); }, 20000,
         text(n, size, ": 1 address out of order"), 1},
        {"the dump sent twice", [&](Messages& m) { m.insert(m.end(), dump.begin(), dump.end()); }, 20000,
         text(2 * n, 2 * size, ": 1 address out of order"), 1},
        {"a message without its end", [](Messages& m) { m[1].pop_back(); }, 20000,
         // The next message's start cuts it off, with no pause in between.
         text(n - 1, size - 1, ": 1 framing error, 1 pause under 20 ms (shortest 0.0 ms)"), 0},
        {"clock bytes inside the messages", [](Messages& m) { for (Bytes& b : m) b.insert(b.begin() + 9, 0xF8); },
         20000, text(n, size + n, ", checksums OK"), 0},
        {"pauses of 5 ms", [](Messages&) {}, 5000,
         text(n, size, ": " + std::to_string(n - 1) + " pauses under 20 ms (shortest 5.0 ms)"), 0},
        {"nothing", [](Messages& m) { m.clear(); }, 20000, "nothing received", 0},
    };
    for (const auto& c : cases) {
        Messages messages = dump;
        c.damage(messages);
        const LoadCheck check = load(messages, c.pauseUs);
        EXPECT_EQ(check.report(), c.report) << c.name;
        EXPECT_EQ(check.addressErrors(), c.addressErrors) << c.name;
        EXPECT_EQ(check.accepted(), c.report.ends_with("checksums OK")) << c.name;
        EXPECT_NE(check.summary().find(check.accepted() ? "ok=1" : "ok=0"), std::string::npos) << c.name;
    }
}

// Hands over what the test queued, a cable's pace apart, and keeps what is sent.
class FakePeer : public Peer {
public:
    bool connect(const std::string&, std::chrono::milliseconds, std::string*) override { return true; }
    bool waitForListener(std::chrono::milliseconds, std::string*) override { return true; }
    bool transmit(const TransmitPlan& plan, const Options&, std::string*) override
    {
        for (const TransmitPlan::Event& e : plan.events()) sent.insert(sent.end(), e.bytes.begin(), e.bytes.end());
        return true;
    }
    bool drainInto(StreamCheck& check) override
    {
        for (std::size_t at = 0; at < arriving.size();) {
            const std::size_t end = std::find(arriving.begin() + at, arriving.end(), 0xF7) - arriving.begin() + 1;
            check.feed(arriving.data() + at, end - at, clockUs_);
            clockUs_ += static_cast<std::int64_t>(end - at) * 320 + 20000;
            at = end;
        }
        arriving.clear();
        return true;
    }
    std::size_t lost() const override { return 0; }

    Bytes arriving, sent;

private:
    std::int64_t clockUs_ = 0;
};

TEST(Gt3Panel, KeepsAWholeLoadAndNothingElse)
{
    const Bytes original = dump(2000, 1), incoming = dump(3000, 2);
    Bytes damaged = incoming;
    damaged[40] ^= 0x01;
    const QString n = QString::number(std::count(incoming.begin(), incoming.end(), 0xF0));
    const struct {
        const char* name;
        bool loading;
        Bytes arriving;
        QString says;
        const Bytes& kept;
    } cases[] = {
        {"a whole load", true, incoming, n + " messages, 3000 bytes, checksums OK", incoming},
        {"a load with a bad checksum", true, damaged, n + " messages, 3000 bytes: 1 bad checksum; memory unchanged",
         original},
        {"data while Bulk Load is off", false, incoming, "Ready", original},
    };
    for (const auto& c : cases) {
        FakePeer out, in;
        Gt3Panel panel(out, in, "test", original);
        auto* load = panel.findChild<QPushButton*>("bulkLoad");
        auto* display = panel.findChild<QLabel*>("display");
        ASSERT_TRUE(load && display);
        load->setChecked(c.loading);
        in.arriving = c.arriving;
        // A load ends once the wire has been quiet for a second.
        runEventsUntil([&] { return c.loading ? !load->isChecked() : false; }, 1500ms);
        EXPECT_EQ(display->text(), c.says) << c.name;
        EXPECT_FALSE(load->isChecked()) << c.name;

        panel.findChild<QPushButton*>("bulkDump")->click();
        ASSERT_TRUE(runEventsUntil([&] { return display->text().contains("sent"); }, 5000ms)) << c.name;
        EXPECT_EQ(out.sent, c.kept) << c.name << ": Bulk Dump sent the wrong memory";
    }
}

}  // namespace
