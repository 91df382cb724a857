#include "core/control_layout.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using core::Rgb;

const core::Colour kHighlight = Rgb(10, 36, 106), kWindow = Rgb(255, 255, 255);
const core::Rect kClient{0, 0, 240, 14};

core::ProgressPicture At(int pos, int lower = 0, int upper = 100) {
    core::ProgressState s;
    s.position = pos;
    s.lower = lower;
    s.upper = upper;
    return core::LayoutProgress(s, kClient, kHighlight, kWindow);
}

TEST(ProgressLayout, PercentagesAreTruncatedProducts) {
    const struct {
        int pos, lower, upper;
        const char* text;
        int barRight;
    } cases[] = {
        {0, 0, 100, "0%", 0},      {50, 0, 100, "50%", 120}, {100, 0, 100, "100%", 240},
        {29, 0, 100, "28%", 69},   {57, 0, 100, "56%", 136}, {58, 0, 100, "57%", 139},
        {1, 0, 3, "33%", 80},      {2, 0, 3, "66%", 160},
        {150, 0, 100, "150%", 360},  // past the range: the bar covers the whole control
        {-10, 0, 100, "-10%", -24},  // before it: the bar is empty (its rectangle inverted)
        {5, 5, 6, "0%", 0},        {2, 1, 3, "50%", 120},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pos << " in " << c.lower << ".." << c.upper);
        const core::ProgressPicture p = At(c.pos, c.lower, c.upper);
        ASSERT_TRUE(p.draw);
        EXPECT_EQ(p.text, c.text);
        EXPECT_EQ(p.bar, (core::Rect{0, 0, c.barRight, 14}));
        EXPECT_EQ(p.track, (core::Rect{c.barRight, 0, 240, 14}));
    }
}

TEST(ProgressLayout, ColoursAndCaption) {
    core::ProgressPicture p = At(0);  // a fresh control: system colours, percentage in the bar colour over the track
    EXPECT_EQ(p.barColour, kHighlight);
    EXPECT_EQ(p.backColour, kWindow);
    EXPECT_EQ(p.textOverTrack, kHighlight);
    EXPECT_EQ(p.textOverBar, kWindow);

    core::ProgressState s;  // the update dialog's set-up
    s.position = 100;
    s.bar = Rgb(0, 128, 255);
    s.back = Rgb(236, 236, 255);
    p = core::LayoutProgress(s, kClient, kHighlight, kWindow);
    EXPECT_EQ(p.text, "100%");
    EXPECT_EQ(p.textOverBar, Rgb(236, 236, 255));
    EXPECT_EQ(p.textOverTrack, Rgb(0, 128, 255));

    s.captionColour = Rgb(1, 2, 3);  // one colour for the whole text
    s.caption = "Downloading";
    p = core::LayoutProgress(s, kClient, kHighlight, kWindow);
    EXPECT_EQ(p.text, "Downloading");
    EXPECT_EQ(p.textOverBar, Rgb(1, 2, 3));
    EXPECT_EQ(p.textOverTrack, Rgb(1, 2, 3));

    s.showCaption = false;
    EXPECT_FALSE(core::LayoutProgress(s, kClient, kHighlight, kWindow).caption);
}

TEST(ProgressLayout, VerticalFillsFromTheBottomWithoutCaption) {
    core::ProgressState s;
    s.position = 25;
    s.vertical = true;
    const core::ProgressPicture p = core::LayoutProgress(s, {0, 0, 14, 100}, kHighlight, kWindow);
    EXPECT_EQ(p.bar, (core::Rect{0, 75, 14, 100}));
    EXPECT_EQ(p.track, (core::Rect{0, 0, 14, 75}));
    EXPECT_FALSE(p.caption);
}

TEST(ProgressLayout, EmptyOrInvertedRangesDrawNothing) {
    EXPECT_FALSE(At(5, 10, 10).draw);
    EXPECT_FALSE(At(5, 10, 0).draw);
    EXPECT_EQ(core::ProgressFillWidth(5, 10, 10, 240), 0);  // no division by zero
    EXPECT_EQ(core::ProgressFillWidth(INT_MAX, INT_MIN, INT_MAX, 240), 240);
    EXPECT_EQ(core::ProgressFillWidth(INT_MAX, 0, 1, 240), INT_MAX);  // clamped, never undefined
    EXPECT_EQ(core::ProgressFillWidth(INT_MIN, 0, 1, 240), INT_MIN);
}

TEST(ProgressLayout, FillWidthsOfNeighbouringPositions) {
    // A 240-pixel bar over 0..1000: positions 4 and 5 both give 0 whole pixels, 5 and 9 give 1 and 2.
    EXPECT_EQ(core::ProgressFillWidth(4, 0, 1000, 240), core::ProgressFillWidth(0, 0, 1000, 240));
    EXPECT_EQ(core::ProgressFillWidth(5, 0, 1000, 240), 1);
    EXPECT_EQ(core::ProgressFillWidth(9, 0, 1000, 240), 2);
}

TEST(ButtonGradient, EndColoursOfTheFourVariants) {
    for (bool emphasis : {false, true}) {
        for (bool hot : {false, true}) EXPECT_EQ(core::GradientColour(0, emphasis, hot), Rgb(255, 255, 255));
    }
    EXPECT_EQ(core::GradientColour(63, false, false), Rgb(234, 234, 243));
    EXPECT_EQ(core::GradientColour(63, true, false), Rgb(234, 234, 240));
    EXPECT_EQ(core::GradientColour(63, false, true), Rgb(240, 240, 243));
    EXPECT_EQ(core::GradientColour(63, true, true), Rgb(240, 240, 234));
}

TEST(ButtonGradient, RowsOfA30And68PixelButton) {
    // 30 high at the origin, 2-pixel edges: inner top 2, height 26.
    core::RowSpan rows = core::GradientRows(2, 26);
    EXPECT_EQ(rows.first, 2);
    EXPECT_EQ(rows.last, 27);
    EXPECT_EQ(core::GradientRowBrush(2, 26), 4);
    EXPECT_EQ(core::GradientRowBrush(26, 26), 63);
    EXPECT_EQ(core::GradientRowBrush(27, 26), -1);  // would need brush 65: stays white
    // 44 high (inner 40): the row past the last would need brush 64, one past the 64 brushes.
    EXPECT_EQ(core::GradientRowBrush(40, 40), 63);
    EXPECT_EQ(core::GradientRowBrush(41, 40), -1);
    // 68 high: inner height 64, every inner row filled, the last with brush 63.
    rows = core::GradientRows(2, 64);
    EXPECT_EQ(rows.last, 65);
    EXPECT_EQ(core::GradientRowBrush(65, 64), 63);
    EXPECT_EQ(core::GradientRowBrush(2, 64), 1);
    EXPECT_GT(core::GradientRows(2, 0).first, core::GradientRows(2, 0).last);  // no rows at all
}

TEST(ButtonEdges, LinesOfTheInnerRectangle) {
    core::EdgeLine l[4];
    core::EdgeLines({2, 2, 44, 18}, true, l);
    EXPECT_EQ((std::vector<int>{l[0].fromX, l[0].fromY, l[0].toX, l[0].toY, l[0].width}), (std::vector<int>{2, 15, 2, 4, 3}));
    EXPECT_EQ((std::vector<int>{l[1].fromX, l[1].fromY, l[1].toX, l[1].toY}), (std::vector<int>{43, 15, 43, 4}));
    EXPECT_EQ((std::vector<int>{l[2].fromX, l[2].fromY, l[2].toX, l[2].toY, l[2].width}), (std::vector<int>{4, 2, 42, 2, 2}));
    EXPECT_EQ((std::vector<int>{l[3].fromX, l[3].fromY, l[3].toX, l[3].toY}), (std::vector<int>{4, 18, 42, 18}));
    EXPECT_EQ(l[0].colour, Rgb(153, 198, 252));
    core::EdgeLines({2, 2, 44, 18}, false, l);
    EXPECT_EQ(l[0].colour, Rgb(250, 196, 88));
    EXPECT_EQ(l[3].colour, Rgb(229, 151, 0));
    // At 192 DPI every inset and width doubles; at 144 they are rounded (1.5 to 2, 3 to 5).
    core::EdgeLines({4, 4, 88, 36}, true, l, 192);
    EXPECT_EQ((std::vector<int>{l[0].fromY, l[0].toY, l[0].width, l[1].fromX, l[2].fromX, l[2].width}), (std::vector<int>{30, 8, 6, 86, 8, 4}));
    core::EdgeLines({3, 3, 66, 27}, true, l, 144);
    EXPECT_EQ((std::vector<int>{l[0].width, l[1].fromX, l[2].width}), (std::vector<int>{5, 64, 3}));
}

TEST(Scale, BannersAndLengthsForEachDpi) {
    const struct {
        unsigned dpi;
        int banner, ten, one;
    } rows[] = {{96, 100, 10, 1}, {110, 100, 11, 1}, {120, 125, 13, 1}, {144, 150, 15, 2}, {168, 150, 18, 2},
                {192, 200, 20, 2}, {240, 200, 25, 3}, {288, 300, 30, 3}, {480, 300, 50, 5}, {72, 100, 8, 1}};
    for (const auto& r : rows) {
        EXPECT_EQ(core::BannerScaleFor(r.dpi), r.banner) << r.dpi;
        EXPECT_EQ(core::Scaled(10, r.dpi), r.ten) << r.dpi;
        EXPECT_EQ(core::Scaled(1, r.dpi), r.one) << r.dpi;
    }
    EXPECT_EQ(core::Scaled(0, 192), 0);
}

TEST(ProgressLayout, HighContrastTakesTheThemesColoursOverTheProgramsOwn) {
    core::ProgressState s;
    s.position = 50;
    s.bar = Rgb(0, 128, 255);
    s.back = Rgb(236, 236, 255);
    const core::SystemColours theme{Rgb(0, 255, 255), Rgb(0, 0, 0), Rgb(0, 0, 0), Rgb(255, 255, 255), Rgb(0, 0, 0), Rgb(255, 255, 0)};
    const core::ProgressPicture p = core::InHighContrast(core::LayoutProgress(s, {0, 0, 100, 10}, 0, 0), theme);
    EXPECT_EQ(p.barColour, theme.highlight);
    EXPECT_EQ(p.backColour, theme.window);
    EXPECT_EQ(p.textOverBar, theme.highlightText);
    EXPECT_EQ(p.textOverTrack, theme.windowText);
    EXPECT_EQ(p.text, "50%");
    EXPECT_EQ(core::ProgressPercentText(29, 0, 100), "28%") << "as the caption truncates it";
    EXPECT_EQ(core::ProgressPercentText(5, 5, 5), "") << "an empty range reads as nothing";
}

}  // namespace
