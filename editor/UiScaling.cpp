#include "editor/UiScaling.h"

#include <algorithm>

#include "plugin/PluginSettings.h"

namespace
{
constexpr int editorWidth = 1545;
constexpr int editorHeight = 1118;
constexpr int screenMargin = 120;

// Items 1 to 9 stand for 70% to 150% in steps of 10.
int percentageOfItem(int itemId)
{
    return 60 + 10 * itemId;
}
} // namespace

juce::PopupMenu uiScalingMenu(float fit, int uiScaling)
{
    juce::PopupMenu menu;
    for (int itemId = 1; itemId <= 9; ++itemId)
    {
        const int percentage = percentageOfItem(itemId);
        menu.addItem(itemId, juce::String(percentage) + "%", fit * 100.0f >= static_cast<float>(percentage),
                     uiScaling == percentage);
    }
    return menu;
}

void ShowUiScalingMenu(juce::LookAndFeel* lookAndFeel, float fit, std::function<void(int)> choice)
{
    auto menu = uiScalingMenu(fit, PluginSettings::Get().UiScaling);
    menu.setLookAndFeel(lookAndFeel);
    menu.showMenuAsync(juce::PopupMenu::Options(), [choice = std::move(choice)](int result) {
        if (result >= 1 && result <= 9 && choice)
            choice(percentageOfItem(result));
    });
}

double displayFit(int userAreaWidth, int userAreaHeight)
{
    return std::min(static_cast<double>(userAreaWidth - screenMargin) / editorWidth,
                    static_cast<double>(userAreaHeight - screenMargin) / editorHeight);
}

std::optional<double> primaryDisplayFit()
{
    const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay();
    if (display == nullptr)
        return std::nullopt;
    return displayFit(display->userArea.getWidth(), display->userArea.getHeight());
}

double uiScale(double fit, int uiScaling)
{
    // Below half size the window's text would no longer be readable; a stored percentage of zero
    // or less (only possible by editing the settings file) counts as 100.
    const double percentage = uiScaling > 0 ? uiScaling : 100;
    return std::min(std::max(fit, 0.5), percentage * 0.01);
}
