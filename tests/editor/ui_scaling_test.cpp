#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/UiScaling.h"

namespace
{
// "enabled items | ticked items" of the scaling menu; the ids run 1 to 9 for 70% to 150%.
juce::String menuState(float fit, int uiScaling)
{
    juce::StringArray enabled, ticked;
    int id = 0;
    const auto menu = uiScalingMenu(fit, uiScaling);
    for (juce::PopupMenu::MenuItemIterator it(menu); it.next();)
    {
        const auto& item = it.getItem();
        EXPECT_EQ(item.itemID, ++id);
        if (item.isEnabled)
            enabled.add(item.text);
        if (item.isTicked)
            ticked.add(item.text);
    }
    EXPECT_EQ(id, 9);
    return enabled.joinIntoString(" ") + " | " + ticked.joinIntoString(" ");
}
} // namespace

TEST(UiScaling, MenuDisplayFitAndAppliedScale)
{
    EXPECT_DOUBLE_EQ(displayFit(1920, 1055), 935.0 / 1118.0);  // 0.8363, the height limits
    EXPECT_DOUBLE_EQ(displayFit(1440, 875), 755.0 / 1118.0);   // 0.6753
    EXPECT_EQ(menuState(static_cast<float>(displayFit(1920, 1055)), 100), "70% 80% | 100%");
    EXPECT_EQ(menuState(static_cast<float>(displayFit(1440, 875)), 70), " | 70%");
    EXPECT_EQ(menuState(1.0f, 95), "70% 80% 90% 100% | ");  // 95 is none of the nine
    EXPECT_EQ(menuState(1.5f, 150), "70% 80% 90% 100% 110% 120% 130% 140% 150% | 150%");

    EXPECT_DOUBLE_EQ(uiScale(935.0 / 1118.0, 100), 935.0 / 1118.0);
    EXPECT_DOUBLE_EQ(uiScale(1.6, 150), 1.5);
    EXPECT_DOUBLE_EQ(uiScale(1.2, 95), 0.95);
    EXPECT_DOUBLE_EQ(uiScale(0.3, 100), 0.5);  // a tiny screen: never below half size
    EXPECT_DOUBLE_EQ(uiScale(1.2, 0), 1.0);    // a setting of 0 or below counts as 100
    EXPECT_DOUBLE_EQ(uiScale(0.8, -30), 0.8);
}
