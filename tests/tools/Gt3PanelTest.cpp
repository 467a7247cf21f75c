// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated GT-3's panel on ports that stand in for MIDI: what a Bulk Load
// does to its memory, seen through the next Bulk Dump and the panel's own words.
#include "Gt3Panel.h"
#include "gt3sim/Dt1.h"
#include "support/Helpers.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace gt3sim;
using tandrel::testing::runEventsUntil;
using namespace std::chrono_literals;

namespace {

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

Bytes dump(std::size_t size, unsigned seed)
{
    std::string error;
    return generateDump(size, 0, 0x10, seed, &error);
}

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
