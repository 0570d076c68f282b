// The Options dialog's model: the interval as typed and the word after it,
// and where the Options dialog and the About box open.
#include <gtest/gtest.h>

#include <string>

#include "params/options_settings.h"

TEST(OptionsSettings, TypedIntervalAndItsUnit) {
    const struct {
        std::string typed;
        uint32_t days;
        const char* unit;
    } cases[] = {
        {"1", 1, "day."},
        {"7", 7, "days."},
        {"", 0, "days."},
        {"0", 0, "days."},
        {"001", 1, "day."},
        {" 12 days", 12, "days."},
        {"99999999999", 4294967295u, "days."},
        {std::string(64, '0') + "1", 0, "days."},  // only the first 64 characters count
    };
    for (const auto& c : cases) {
        const uint32_t days = ParseIntervalText(c.typed.c_str());
        EXPECT_EQ(days, c.days) << '"' << c.typed << '"';
        EXPECT_STREQ(IntervalUnitText(days), c.unit) << '"' << c.typed << '"';
    }
}

TEST(OptionsSettings, OpensOverItsOwnerAndInsideTheScreen) {
    int32_t x = -1, y = -1;
    // Centred across the owner, a third of the way down its free height.
    PlaceDialogInArea({100, 50, 900, 650}, 400, 300, 1280, 1024, &x, &y);
    EXPECT_EQ(x, 300);
    EXPECT_EQ(y, 150);
    // An owner in the bottom right corner, lower than the dialog: moved to end at the screen's edges.
    PlaceDialogInArea({1000, 900, 1400, 1100}, 400, 300, 1280, 1024, &x, &y);
    EXPECT_EQ(x, 880);
    EXPECT_EQ(y, 724);
    // Larger than the screen: its top left corner stays on it.
    PlaceDialogInArea({0, 0, 1280, 1024}, 1500, 1200, 1280, 1024, &x, &y);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}
