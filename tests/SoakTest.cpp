// Soaks: faders and sliders pressed and released at random, with reports and
// layer counts from the video app, then a last press and release on every
// fader. Every fade that ends must end exactly on its target, and afterwards
// nothing may be left pending. Under AddressSanitizer the runner's and
// velto's leak checks at exit show that nothing leaked.
//
// Two forms: the whole bridge in process on a manual clock, so that every fade
// is watched from start to end and the run is the same each time (seeded); and
// the real executable for a few seconds of loopback traffic, watched on the
// wire and in /proc. velto-latency's soak mode runs the second for minutes.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/BridgeFixture.h"
#include "support/Sanitizers.h"
#include "support/VeltoProcess.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

constexpr std::array<const char*, 8> kFaderAddresses{
    "/stagevue/layer/opacity/4",     "/stagevue/layer/opacity/3",
    "/stagevue/layer/opacity/2",     "/stagevue/layer/opacity/1",
    "/stagevue/layer/media/speed/4", "/stagevue/layer/media/speed/3",
    "/stagevue/layer/media/speed/2", "/stagevue/layer/media/speed/1"};  // columns 0 to 7
constexpr std::array<const char*, 4> kSliderAddresses{
    "/stagevue/layer/media/time/4", "/stagevue/layer/media/time/3", "/stagevue/layer/media/time/2",
    "/stagevue/layer/media/time/1"};  // the grid's rows 0 to 3, counted from the top

// A fader's rows are the grid's rows 4 to 6 counted from the top; row 6 is its
// bottom (level 0), row 4 its top (level 100).
float faderLevelAtMonomeRow(std::int32_t monomeRow) {
    return static_cast<float>(6 - monomeRow) * 50.0f;
}

// --- In process, on a manual clock ------------------------------------------------

constexpr Duration kStep = 5ms;
constexpr int kSoakSteps = 4000;  // 20 s of the bridge's time

class InProcessSoakTest : public test::BridgeFixture,
                          public ::testing::WithParamInterface<std::uint32_t> {
protected:
    struct Fader {
        VTVerticalFader* control = nullptr;
        std::optional<float> target;  // the level of the last press or release it took
        bool wasFading = false;
    };

    void SetUp() override {
        BridgeFixture::SetUp();
        for (std::size_t column = 0; column < kFaderAddresses.size(); ++column) {
            faders[column].control = faderWithAddress(kFaderAddresses[column]);
            ASSERT_NE(faders[column].control, nullptr);
        }
    }

    std::uint32_t random(std::uint32_t below) { return static_cast<std::uint32_t>(rng() % below); }

    // A press or release on a fader cell; the fader takes it only while enabled.
    void touchFader(std::int32_t column, std::int32_t monomeRow, std::int32_t state) {
        Fader& fader = faders[static_cast<std::size_t>(column)];
        if (fader.control->enabled()) fader.target = faderLevelAtMonomeRow(monomeRow);
        deliver(test::pressBytes(column, monomeRow, state));
    }

    void randomEvent() {
        const std::uint32_t kind = random(100);
        const auto column = static_cast<std::int32_t>(random(8));
        if (kind < 35) {
            touchFader(column, 4 + static_cast<std::int32_t>(random(3)), 1);
        } else if (kind < 60) {
            touchFader(column, 4 + static_cast<std::int32_t>(random(3)), 0);
        } else if (kind < 75) {
            deliver(test::pressBytes(column, static_cast<std::int32_t>(random(4)),
                                     static_cast<std::int32_t>(random(2))));
        } else if (kind < 90) {
            const bool toFader = random(2) == 0;
            const std::string address =
                toFader ? kFaderAddresses[random(8)] : kSliderAddresses[random(4)];
            const float value = static_cast<float>(random(1001)) / (toFader ? 10.0f : 1000.0f);
            deliver(test::messageBytes(address, {test::floatArg(value)}));
        } else if (kind < 95) {
            deliver(test::messageBytes("/stagevue/layerNumber",
                                       {test::intArg(static_cast<std::int32_t>(random(6)))}));
        }
    }

    // One step of the bridge's time; checks every fade that ended in it.
    void step() {
        for (auto& fader : faders) fader.wasFading = fader.control->isFading();
        clock.advance(kStep);
        loop.runOnce();
        for (std::size_t column = 0; column < faders.size(); ++column) {
            const Fader& fader = faders[column];
            if (fader.wasFading && !fader.control->isFading()) {
                ASSERT_TRUE(fader.target.has_value());
                EXPECT_EQ(fader.control->currentValue(), *fader.target)
                    << kFaderAddresses[column] << " ended a fade off its target";
                ++fadesEnded;
            }
        }
        for (const auto& value : collect().values) lastSent[value.address] = value.value;
    }

    std::mt19937 rng{GetParam()};
    std::array<Fader, 8> faders{};
    std::map<std::string, float> lastSent;
    int fadesEnded = 0;
};

TEST_P(InProcessSoakTest, EveryFadeEndsOnItsTargetAndNothingIsLeftPending) {
    for (int i = 0; i < kSoakSteps; ++i) {
        randomEvent();
        if (random(4) == 0) randomEvent();
        step();
        if (HasFatalFailure()) return;
    }

    // The end: every layer back, then a last press and release on each fader.
    deliver(test::messageBytes("/stagevue/layerNumber", {test::intArg(4)}));
    for (std::int32_t column = 0; column < 8; ++column) {
        const auto row = 4 + static_cast<std::int32_t>(random(3));
        touchFader(column, row, 1);
        touchFader(column, row, 0);
    }
    for (int i = 0; i < 1000 && std::any_of(faders.begin(), faders.end(),
                                            [](const Fader& f) { return f.control->isFading(); });
         ++i) {
        step();
    }
    for (std::size_t column = 0; column < faders.size(); ++column) {
        SCOPED_TRACE(kFaderAddresses[column]);
        const Fader& fader = faders[column];
        EXPECT_FALSE(fader.control->isFading());
        EXPECT_EQ(fader.control->currentValue(), *fader.target);
        EXPECT_EQ(lastSent[kFaderAddresses[column]], *fader.target);
    }
    EXPECT_GT(fadesEnded, 100);
    EXPECT_TRUE(collect().empty());
}

INSTANTIATE_TEST_SUITE_P(Seeds, InProcessSoakTest, ::testing::Values(1u, 2u, 3u));

// --- The executable, on loopback ----------------------------------------------------

constexpr auto kLimit = 5000ms;
constexpr auto kProcessSoak = 3000ms;
// Room for the allocator's caches; under ASan also its quarantine (4 MB for
// the child) and larger blocks.
constexpr std::int64_t kAllowedGrowthKiB = test::kAddressSanitizer ? 16 * 1024 : 8 * 1024;

TEST(ProcessSoakTest, VeltoKeepsItsMemoryAndEndsEveryFaderOnItsLastTarget) {
    if (!test::canReadProcessStats()) GTEST_SKIP() << "this system gives no process statistics";
    test::VeltoProcess velto(VELTO_EXECUTABLE);
    ASSERT_TRUE(velto.waitUntilStarted(kLimit)) << velto.process().transcript();
    ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(0, 3, 1)));
    ASSERT_TRUE(
        velto.video().waitFor([](const test::Recording& r) { return !r.values.empty(); }, kLimit));
    const auto before = velto.stats();
    ASSERT_TRUE(before.has_value());

    // Presses, releases and reports at random. The layer count stays as it
    // is: it comes through the other port, and velto need not order it
    // against the presses, so a test could not know which presses counted.
    std::mt19937 rng(7);
    const auto deadline = std::chrono::steady_clock::now() + kProcessSoak;
    std::size_t events = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto kind = rng() % 10;
        const auto column = static_cast<std::int32_t>(rng() % 8);
        if (kind < 6) {
            velto.sendToMonome(test::pressDatagram(column, 4 + static_cast<std::int32_t>(rng() % 3),
                                                   static_cast<std::int32_t>(rng() % 2)));
        } else if (kind < 8) {
            velto.sendToMonome(
                test::pressDatagram(column, static_cast<std::int32_t>(rng() % 4), 1));
        } else {
            velto.sendToStagevue(
                test::floatDatagram(kFaderAddresses[rng() % 8], static_cast<float>(rng() % 101)));
        }
        ++events;
        std::this_thread::sleep_for(500us);  // the pace of the traffic, not a wait
    }

    std::array<float, 8> targets{};
    for (std::int32_t column = 0; column < 8; ++column) {
        const auto row = 4 + static_cast<std::int32_t>(rng() % 3);
        targets[static_cast<std::size_t>(column)] = faderLevelAtMonomeRow(row);
        ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(column, row, 1)));
        ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(column, row, 0)));
    }
    const bool settled = velto.video().waitFor(
        [&](const test::Recording& r) {
            std::map<std::string, float> last;
            for (const auto& value : r.values) last[value.address] = value.value;
            for (std::size_t column = 0; column < 8; ++column) {
                const auto it = last.find(kFaderAddresses[column]);
                if (it == last.end() || it->second != targets[column]) return false;
            }
            return true;
        },
        kLimit);
    EXPECT_TRUE(settled) << "not every fader ended on its last target after " << events
                         << " events";

    const auto after = velto.stats();
    ASSERT_TRUE(after.has_value());
    if (!test::kThreadSanitizer) {  // whose own memory would drown velto's
        EXPECT_LE(after->residentKiB - before->residentKiB, kAllowedGrowthKiB)
            << "resident before " << before->residentKiB << " KiB, after " << after->residentKiB
            << " KiB";
    }
    EXPECT_EQ(after->openDescriptors, before->openDescriptors);

    const auto status = velto.terminate(kLimit);
    ASSERT_TRUE(status.has_value()) << "velto did not end on SIGTERM";
    EXPECT_EQ(*status, test::ExitStatus::exitedWith(0)) << velto.process().transcript();
}

}  // namespace
}  // namespace velto
