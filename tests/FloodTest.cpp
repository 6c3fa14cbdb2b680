// A flood of small datagrams, valid presses mixed with malformed ones, sent as
// fast as the test can to a running velto on both listen ports. Velto must
// stay up, keep its memory bounded (the listeners drop what waits beyond their
// hand-off bound rather than queueing without end), answer a press sent after
// the flood, and end cleanly (under AddressSanitizer that end runs the leak
// check).
//
// The CI form sends 200,000 datagrams; velto-latency's flood mode sends the
// full million and measures the rates and the answer time (bench/README.md).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Bytes.h"
#include "support/Sanitizers.h"
#include "support/VeltoProcess.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::Recording;
using test::VeltoProcess;

constexpr std::size_t kFloodDatagrams = 200'000;  // in all, over the rounds
constexpr std::int32_t kRounds = 2;
constexpr auto kLimit = 5000ms;
// What a flood may add to velto's peak memory. The listeners hold at most
// 4096 datagrams each for the main thread, which handles such a batch in one
// pass before its next flush: the answers to a few thousand presses (nine
// messages each) are pending at once, about 14 MB in a debug build. Without
// the bound the batch, and the memory, would grow with the flood. Sanitizer
// builds pay several times as much per allocation; ThreadSanitizer's memory
// says nothing about velto's, so its build checks everything but memory. A
// second flood must find that memory already there.
constexpr std::int64_t kAllowedGrowthKiB =
    test::kAddressSanitizer ? std::int64_t{64} * 1024 : std::int64_t{24} * 1024;
constexpr std::int64_t kAllowedRegrowthKiB = std::int64_t{8} * 1024;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Datagrams that the decoder must throw away, each at a different edge.
std::vector<Bytes> malformedDatagrams() {
    Bytes press = test::pressDatagram(1, 3, 1);
    std::vector<Bytes> junk;
    junk.push_back(Bytes(press.begin(), press.begin() + 30));             // an int cut short
    junk.push_back(Bytes{});                                              // empty
    junk.push_back(bytesOf("garbage that is not OSC at all"));            // no leading '/'
    junk.push_back(bytesOf(std::string("/monome/press\0\0\0,iii", 20)));  // arguments missing
    junk.push_back(
        bytesOf(std::string("#bundle\0\0\0\0\0\0\0\0\1\0\0\0\x40", 20)));  // element past the end
    junk.push_back(bytesOf(std::string("/b\0\0,b\0\0\0\0\0\x64\0\0\0\0", 16)));  // blob size lies
    junk.push_back(bytesOf("#bun"));  // a bundle head cut short
    return junk;
}

class FloodTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(velto.waitUntilStarted(kLimit)) << velto.process().transcript();
    }

    // Presses on the slider of layer 1 (the grid's row 3) and reports from the
    // video app, among the junk.
    std::vector<Bytes> floodMix() const {
        std::vector<Bytes> mix;
        const auto junk = malformedDatagrams();
        for (std::int32_t column = 0; column < 7; ++column) {
            mix.push_back(test::pressDatagram(column, 3, 1));
            mix.push_back(junk[static_cast<std::size_t>(column) % junk.size()]);
        }
        return mix;
    }

    // As fast as the test can send: one in eight to the video app's port, the
    // rest to the grid's. A full socket drops what does not fit.
    void flood(std::size_t count) {
        const auto mix = floodMix();
        const Bytes report = test::floatDatagram("/stagevue/layer/media/time/2", 0.25f);
        for (std::size_t i = 0; i < count; ++i) {
            if (i % 8 == 7) {
                velto.sendToStagevue(i % 16 == 15 ? mix[1] : report);
            } else {
                velto.sendToMonome(mix[i % mix.size()]);
            }
        }
    }

    // A press that the flood did not contain, on layer 4's slider. Right after
    // the flood velto's socket may still be full, and UDP drops what does not
    // fit; so the press is repeated until it is answered.
    bool answersPressAfterFlood(std::int32_t column) {
        const Bytes press = test::pressDatagram(column, 0, 1);
        const float expected = static_cast<float>(column) / 8.0f;
        const auto isAnswered = [expected](const Recording& r) {
            // The answer comes after every answer to the flood: look at the last few.
            int looked = 0;
            for (auto it = r.values.rbegin(); it != r.values.rend() && looked < 1024;
                 ++it, ++looked) {
                if (it->address == "/stagevue/layer/media/time/4") return it->value == expected;
            }
            return false;
        };
        for (int attempt = 0; attempt < 250; ++attempt) {
            velto.sendToMonome(press);
            if (velto.video().waitFor(isAnswered, 20ms)) return true;
        }
        return false;
    }

    VeltoProcess velto{VELTO_EXECUTABLE, VeltoProcess::Options{.countOnlyGrid = true}};
};

TEST_F(FloodTest, VeltoStaysUpKeepsItsMemoryAndAnswersAPressAfterEachFlood) {
    if (!test::canReadProcessStats()) GTEST_SKIP() << "this system gives no process statistics";
    // Warm up, so that "before" includes what any first use allocates.
    ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(0, 3, 1)));
    ASSERT_TRUE(
        velto.video().waitFor([](const Recording& r) { return !r.values.empty(); }, kLimit));
    const auto before = velto.stats();
    ASSERT_TRUE(before.has_value());

    std::vector<test::ProcessStats> afterRounds;
    for (std::int32_t round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round + 1));
        flood(kFloodDatagrams / kRounds);
        // Each round ends with a press on a cell of its own of layer 4's slider.
        EXPECT_TRUE(answersPressAfterFlood(5 + round))
            << "no answer to a press sent after the flood";
        const auto status = velto.process().waitForExit(0ms);
        ASSERT_FALSE(status.has_value()) << "velto ended during the flood: " << *status << "\n"
                                         << velto.process().transcript();
        const auto stats = velto.stats();
        ASSERT_TRUE(stats.has_value());
        afterRounds.push_back(*stats);
        EXPECT_LE(stats->openDescriptors, before->openDescriptors);
    }

    // What the hand-off bound lets a flood hold, and then no more: a second
    // flood as large as the first finds its memory already there.
    if (!test::kThreadSanitizer) {
        EXPECT_LE(afterRounds.front().peakResidentKiB - before->residentKiB, kAllowedGrowthKiB)
            << "resident before the flood " << before->residentKiB << " KiB, peak after it "
            << afterRounds.front().peakResidentKiB << " KiB";
        EXPECT_LE(afterRounds.back().peakResidentKiB - afterRounds.front().peakResidentKiB,
                  kAllowedRegrowthKiB)
            << "peak resident after the first flood " << afterRounds.front().peakResidentKiB
            << " KiB, after the second " << afterRounds.back().peakResidentKiB << " KiB";
    }

    const auto exit = velto.terminate(kLimit);
    ASSERT_TRUE(exit.has_value()) << "velto did not end on SIGTERM";
    EXPECT_EQ(*exit, test::ExitStatus::exitedWith(0)) << velto.process().transcript();
}

}  // namespace
}  // namespace velto
