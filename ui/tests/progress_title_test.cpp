#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ui/progress_title.h"

namespace {

constexpr VelkProgressStage kCrc = VelkProgressStage::kCrc;
constexpr VelkProgressStage kRecords = VelkProgressStage::kRecords;
const char16_t* const kCaption = u"DRAV补丁程序 3.0.2010.11250";

TEST(ProgressTitle, ReportsBecomeWholePercentages)
{
    struct Case {
        int64_t done, total;
        int percent;
    } const cases[] = {
        {0, 100, 0},
        {42, 100, 42},
        {999, 1000, 99},  // not rounded up: 100% only when done
        {1000, 1000, 100},
        {1500, 1000, 100},
        {-5, 1000, 0},
        {5, 0, -1},  // total unknown
        {5, -1, -1},
        {int64_t{3} << 40, int64_t{4} << 40, 75},
        {INT64_MAX / 2, INT64_MAX, 49},  // no overflow for the largest sizes
        {INT64_MAX - 1, INT64_MAX, 99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.done << " of " << c.total);
        EXPECT_EQ(ShownProgress(kRecords, c.done, c.total), (VelkShownProgress{kRecords, c.percent}));
    }
}

TEST(ProgressTitle, StageAndPercentageFollowTheCaption)
{
    EXPECT_EQ(ProgressTitle(kCaption, {kCrc, 42}), u"DRAV补丁程序 3.0.2010.11250 - 校验 42%");
    EXPECT_EQ(ProgressTitle(kCaption, {kRecords, 73}), u"DRAV补丁程序 3.0.2010.11250 - 打补丁 73%");
    EXPECT_EQ(ProgressTitle(kCaption, {kCrc, 0}), u"DRAV补丁程序 3.0.2010.11250 - 校验 0%");
    EXPECT_EQ(ProgressTitle(kCaption, {kRecords, 100}), u"DRAV补丁程序 3.0.2010.11250 - 打补丁 100%");
    EXPECT_EQ(ProgressTitle(kCaption, {kRecords, 7}), u"DRAV补丁程序 3.0.2010.11250 - 打补丁 7%");
    EXPECT_EQ(ProgressTitle(kCaption, {kCrc, -1}), u"DRAV补丁程序 3.0.2010.11250 - 校验");
}

// A walk through one application's reports: what reaches the window and when.
TEST(ProgressTitle, PacerShowsAChangedTextAtMostOncePerInterval)
{
    struct Step {
        VelkProgressStage stage;
        int percent;
        uint64_t atMs;
        bool shown;
    } const steps[] = {
        {kCrc, 0, 1000, true},        // the first report at once
        {kCrc, 1, 1010, false},       // too soon
        {kCrc, 2, 1249, false},       // still too soon
        {kCrc, 3, 1250, true},        // an interval after the last shown
        {kCrc, 3, 1600, false},       // the same text again
        {kCrc, 4, 1601, true},        // changed, and the interval has long passed
        {kRecords, 0, 1700, false},   // a new stage waits its turn too
        {kRecords, 10, 1851, true},
        {kRecords, 10, 5000, false},
        {kRecords, 100, 5001, true},
    };
    CVELKProgressPacer pacer(250);
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << "at " << step.atMs << " ms");
        EXPECT_EQ(pacer.Note({step.stage, step.percent}, step.atMs), step.shown);
        EXPECT_EQ(pacer.Latest(), (VelkShownProgress{step.stage, step.percent}));
    }
}

// A change the interval held back is due once the interval has passed, with no report after
// it: the title does not stay behind while the work reports nothing (a long flush).
TEST(ProgressTitle, HeldBackChangeIsDueOnceTheIntervalHasPassed)
{
    CVELKProgressPacer pacer(250);
    EXPECT_FALSE(pacer.Due(0)) << "nothing reported yet";
    EXPECT_TRUE(pacer.Note({kCrc, 67}, 1000));
    EXPECT_FALSE(pacer.Due(1400)) << "nothing held back";
    EXPECT_FALSE(pacer.Note({kRecords, 0}, 1100));
    EXPECT_FALSE(pacer.Due(1249));
    EXPECT_TRUE(pacer.Due(1250));
    EXPECT_EQ(pacer.Latest(), (VelkShownProgress{kRecords, 0}));
    EXPECT_FALSE(pacer.Due(1600)) << "shown once is enough";
    EXPECT_FALSE(pacer.Note({kRecords, 0}, 1700)) << "already shown";
    EXPECT_FALSE(pacer.Note({kRecords, 1}, 1300)) << "within the interval after 1250";
    EXPECT_FALSE(pacer.Due(1499));
    EXPECT_TRUE(pacer.Due(1500));
}

TEST(ProgressTitle, CatchUpBringsOutWhatThePacingHeldBack)
{
    CVELKProgressPacer pacer(250);
    EXPECT_FALSE(pacer.CatchUp()) << "nothing reported yet";
    EXPECT_TRUE(pacer.Note({kCrc, 10}, 0));
    EXPECT_FALSE(pacer.CatchUp()) << "the latest is on screen";
    EXPECT_FALSE(pacer.Note({kCrc, 100}, 10));
    EXPECT_TRUE(pacer.CatchUp());
    EXPECT_EQ(pacer.Latest(), (VelkShownProgress{kCrc, 100}));
    EXPECT_FALSE(pacer.CatchUp()) << "caught up once is enough";
    EXPECT_FALSE(pacer.Note({kCrc, 100}, 1000)) << "already shown by the catch-up";
}

}  // namespace
