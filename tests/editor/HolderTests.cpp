// The host-facing window: opening size from the stored size, limits, scale and the settings.

#include "EditorTestSupport.h"

using namespace kelvortest;

namespace
{
juce::StringPairArray storedSize (const juce::String& w, const juce::String& h)
{
    juce::StringPairArray s;
    s.set ("Width", w);
    s.set ("Height", h);
    return s;
}

juce::Point<int> openedSize (const juce::String& w, const juce::String& h)
{
    EditorRig rig (LoopbackServer::closedAddress(), storedSize (w, h));
    auto& holder = rig.openEditor();
    return { holder.getWidth(), holder.getHeight() };
}

float panelScale (EditorHolderWindow& holder)
{
    return holder.mainEditor->getTransform().mat00;
}
} // namespace

TEST (EditorHolder, FreshInstallOpensSmallestAndRemembersIt)
{
    EditorRig rig;
    auto& holder = rig.openEditor();

    EXPECT_EQ (holder.getWidth(), 264);
    EXPECT_EQ (holder.getHeight(), 288);
    EXPECT_FLOAT_EQ (panelScale (holder), 0.6f);
    EXPECT_EQ (holder.mainEditor->getBounds(), juce::Rectangle<int> (0, 0, 440, 480));
    EXPECT_FLOAT_EQ (rig.processor->editorWidth.load(), 264.0f);
    EXPECT_FLOAT_EQ (rig.processor->editorHeight.load(), 288.0f);

    auto* settings = rig.processor->appProperties.getUserSettings();
    EXPECT_DOUBLE_EQ (settings->getDoubleValue ("Width"), 264.0);
    EXPECT_DOUBLE_EQ (settings->getDoubleValue ("Height"), 288.0);

    // The file follows about three seconds after the change, not at once.
    EXPECT_FALSE (rig.home.settingsFile().loadFileAsString().contains ("Width"));
    pumpMessages (3600);
    const auto xml = juce::parseXML (rig.home.settingsFile());
    ASSERT_NE (xml, nullptr);
    juce::StringPairArray saved;
    for (auto* e : xml->getChildIterator())
        saved.set (e->getStringAttribute ("name"), e->getStringAttribute ("val"));
    EXPECT_DOUBLE_EQ (saved["Width"].getDoubleValue(), 264.0);
    EXPECT_DOUBLE_EQ (saved["Height"].getDoubleValue(), 288.0);
}

TEST (EditorHolder, StoredSizesAreBroughtToTheAspectAndLimits)
{
    EXPECT_EQ (openedSize ("440", "480"), juce::Point<int> (440, 480));
    EXPECT_EQ (openedSize ("352", "384"), juce::Point<int> (352, 384));
    EXPECT_EQ (openedSize ("300", "300"), juce::Point<int> (300, 327));
    EXPECT_EQ (openedSize ("1000", "1000"), juce::Point<int> (440, 480));
    EXPECT_EQ (openedSize ("300.7", "330.2"), juce::Point<int> (300, 327));
    EXPECT_EQ (openedSize ("100", "100"), juce::Point<int> (264, 288));
}

TEST (EditorHolder, AbsurdStoredSizesOpenWithinLimits)
{
    for (const auto& [w, h] : { std::pair<juce::String, juce::String> { "1e30", "1e30" },
                                { "3.4e38", "400" },
                                { "1e300", "1e300" },   // beyond float: becomes infinity
                                { "2147483648", "2147483648" },
                                { "500", "-7" },
                                { "nan", "nan" } })
    {
        const auto size = openedSize (w, h);
        EXPECT_GE (size.x, 264) << w << " x " << h;
        EXPECT_LE (size.x, 440) << w << " x " << h;
        EXPECT_GE (size.y, 288) << w << " x " << h;
        EXPECT_LE (size.y, 480) << w << " x " << h;
    }

    EXPECT_EQ (EditorHolderWindow::storedSizeToPixels (std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ (EditorHolderWindow::storedSizeToPixels (std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ (EditorHolderWindow::storedSizeToPixels (-5.0f), 0);
    EXPECT_EQ (EditorHolderWindow::storedSizeToPixels (300.7f), 300);
    EXPECT_GT (EditorHolderWindow::storedSizeToPixels (3.0e9f), 440);
}

TEST (EditorHolder, StoredBaseSizeOpensUnscaledWithoutRewriting)
{
    // Written as an earlier run writes it: doubles as the settings object turns them into text.
    EditorRig rig (LoopbackServer::closedAddress(),
                   storedSize (juce::var (440.0).toString(), juce::var (480.0).toString()));
    auto* settings = rig.processor->appProperties.getUserSettings();
    ASSERT_FALSE (settings->needsToBeSaved());

    auto& holder = rig.openEditor();
    EXPECT_FLOAT_EQ (panelScale (holder), 1.0f);
    EXPECT_FALSE (settings->needsToBeSaved());
}

TEST (EditorHolder, ResizingScalesThePanelAndStoresTheSize)
{
    EditorRig rig (LoopbackServer::closedAddress(), storedSize ("440", "480"));
    auto& holder = rig.openEditor();

    holder.setBoundsConstrained ({ 0, 0, 330, 360 });
    EXPECT_EQ (holder.getWidth(), 330);
    EXPECT_EQ (holder.getHeight(), 360);
    EXPECT_FLOAT_EQ (panelScale (holder), 0.75f);
    EXPECT_EQ (holder.mainEditor->getBounds(), juce::Rectangle<int> (0, 0, 440, 480));
    EXPECT_FLOAT_EQ (rig.processor->editorWidth.load(), 330.0f);
    EXPECT_FLOAT_EQ (rig.processor->editorHeight.load(), 360.0f);
    EXPECT_DOUBLE_EQ (rig.processor->appProperties.getUserSettings()->getDoubleValue ("Height"), 360.0);

    // Nothing outside the limits gets through the constrainer, whichever edge is pulled.
    holder.setBoundsConstrained ({ 0, 0, 2000, 900 });
    EXPECT_EQ (holder.getBounds(), juce::Rectangle<int> (0, 0, 440, 480));
    holder.setBoundsConstrained ({ 0, 0, 440, 100 });
    EXPECT_GE (holder.getWidth(), 264);
    EXPECT_GE (holder.getHeight(), 288);
    EXPECT_NEAR ((double) holder.getWidth() / holder.getHeight(), 440.0 / 480.0, 0.005);

    // The next opening in the same run takes the last size.
    holder.setBoundsConstrained ({ 0, 0, 330, 360 });
    auto& reopened = rig.openEditor();
    EXPECT_EQ (reopened.getBounds().getWidth(), 330);
    EXPECT_EQ (reopened.getBounds().getHeight(), 360);
}

TEST (EditorHolder, IsHostResizableWithFixedAspect)
{
    EditorRig rig;
    auto& holder = rig.openEditor();
    auto* c = holder.getConstrainer();
    ASSERT_NE (c, nullptr);
    EXPECT_TRUE (holder.isResizable());
    EXPECT_DOUBLE_EQ (c->getFixedAspectRatio(), (double) (440.0f / 480.0f));
    EXPECT_EQ (c->getMinimumWidth(), 264);
    EXPECT_EQ (c->getMinimumHeight(), 288);
    EXPECT_EQ (c->getMaximumWidth(), 440);
    EXPECT_EQ (c->getMaximumHeight(), 480);

    // The resize corner stays in front of the panel.
    auto& children = holder.getChildren();
    const auto panelIndex = children.indexOf (holder.mainEditor.get());
    bool cornerInFront = false;
    for (int i = panelIndex + 1; i < children.size(); ++i)
        cornerInFront |= dynamic_cast<juce::ResizableCornerComponent*> (children[i]) != nullptr;
    EXPECT_TRUE (cornerInFront);
}
