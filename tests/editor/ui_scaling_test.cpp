#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/UiScaling.h"

namespace
{
struct MenuState
{
    juce::StringArray texts;
    juce::StringArray enabled;
    juce::StringArray ticked;
};

MenuState inspect(const juce::PopupMenu& menu)
{
    MenuState state;
    int expectedId = 1;
    for (juce::PopupMenu::MenuItemIterator it(menu); it.next();)
    {
        const auto& item = it.getItem();
        EXPECT_EQ(item.itemID, expectedId++);
        state.texts.add(item.text);
        if (item.isEnabled)
            state.enabled.add(item.text);
        if (item.isTicked)
            state.ticked.add(item.text);
    }
    return state;
}
} // namespace

TEST(UiScaling, MenuItemsEnabledUpToTheFitAndTickedAtTheSetting)
{
    const auto onLaptop = inspect(uiScalingMenu(static_cast<float>(displayFit(1920, 1055)), 100));
    EXPECT_EQ(onLaptop.texts.joinIntoString(" "), "70% 80% 90% 100% 110% 120% 130% 140% 150%");
    EXPECT_EQ(onLaptop.enabled.joinIntoString(" "), "70% 80%");
    EXPECT_EQ(onLaptop.ticked.joinIntoString(" "), "100%");

    EXPECT_TRUE(inspect(uiScalingMenu(static_cast<float>(displayFit(1440, 875)), 70)).enabled.isEmpty());
    EXPECT_EQ(inspect(uiScalingMenu(1.0f, 95)).ticked.size(), 0);  // not one of the nine
    EXPECT_EQ(inspect(uiScalingMenu(1.0f, 95)).enabled.joinIntoString(" "), "70% 80% 90% 100%");
    const auto large = inspect(uiScalingMenu(1.5f, 150));
    EXPECT_EQ(large.enabled.size(), 9);
    EXPECT_EQ(large.ticked.joinIntoString(" "), "150%");
}

TEST(UiScaling, DisplayFitAndAppliedScale)
{
    EXPECT_DOUBLE_EQ(displayFit(1920, 1055), 935.0 / 1118.0);  // the height limits: 0.8363
    EXPECT_DOUBLE_EQ(displayFit(1440, 875), 755.0 / 1118.0);   // 0.6753
    EXPECT_DOUBLE_EQ(displayFit(1000, 4000), 880.0 / 1545.0);  // the width limits

    EXPECT_DOUBLE_EQ(uiScale(935.0 / 1118.0, 100), 935.0 / 1118.0);
    EXPECT_DOUBLE_EQ(uiScale(1.6, 150), 1.5);
    EXPECT_DOUBLE_EQ(uiScale(1.2, 95), 0.95);
    EXPECT_DOUBLE_EQ(uiScale(0.3, 100), 0.5);   // a tiny screen: never below half size
    EXPECT_DOUBLE_EQ(uiScale(-0.1, 70), 0.5);
    EXPECT_DOUBLE_EQ(uiScale(1.2, 0), 1.0);     // a setting of 0 or below counts as 100
    EXPECT_DOUBLE_EQ(uiScale(0.8, -30), 0.8);

}
