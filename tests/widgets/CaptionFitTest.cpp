// Room for translated captions: a widened widget pushes the rest of its row aside and the row
// stays within the frame; with nothing widened nothing moves.

#include "platform/qt/CaptionFit.h"
#include "ParamName.h"

#include <gtest/gtest.h>

#include <vector>

using tavik::platform::qt::fittedGeometry;

namespace {

using tavik::test::PrintTo;

// The buttons' row of the form in pixels (frame contents 1..692), the version label left of
// it, and a combo box below a label that overlaps it.
const QRect bounds(1, 1, 692, 436);
const QRect version(7, 414, 240, 15), add(403, 405, 81, 25), edit(507, 405, 81, 25),
    erase(601, 405, 81, 25);
const QRect label(8, 342, 63, 19), combo(8, 356, 136, 21);

struct FitCase {
    const char* name;
    std::vector<QRect> design;
    std::vector<int> widths;
    std::vector<QRect> fitted;
};

class CaptionFitTest : public ::testing::TestWithParam<FitCase> {};

std::vector<FitCase> fitCases() {
    return {
        FitCase{"NothingWidenedNothingMoves",
                {version, add, edit, erase, label, combo},
                {240, 81, 81, 81, 63, 136},
                {version, add, edit, erase, label, combo}},
        FitCase{"RoomToSpareMovesNothing", {add, edit}, {95, 81}, {QRect(403, 405, 95, 25), edit}},
        FitCase{"TheNextKeepsAGapAndPassesThePushOn",
                {add, edit, erase},
                {110, 81, 81},
                {QRect(403, 405, 110, 25), QRect(519, 405, 81, 25), QRect(606, 405, 81, 25)}},
        FitCase{
            "ARowPastTheFrameIsPulledBack",
            {version, add, edit, erase},
            {240, 81, 81, 120},
            {version, QRect(399, 405, 81, 25), QRect(486, 405, 81, 25), QRect(573, 405, 120, 25)}},
        FitCase{"ALabelOverItsComboMovesNothingBelow",
                {label, combo},
                {90, 136},
                {QRect(8, 342, 90, 19), combo}}};
}

} // namespace

TEST_P(CaptionFitTest, WidenedWidgetsMoveTheirRowAsideWithinTheBounds) {
    EXPECT_EQ(fittedGeometry(GetParam().design, GetParam().widths, bounds), GetParam().fitted);
}

INSTANTIATE_TEST_SUITE_P(Rows, CaptionFitTest, ::testing::ValuesIn(fitCases()),
                         [](const auto& info) { return std::string(info.param.name); });
