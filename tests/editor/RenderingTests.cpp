// The panel rendered off screen at both ends of its size range; writes the pictures as PNG
// (editor-440x480.png is the README's screenshot).

#include "EditorTestSupport.h"

using namespace kelvortest;

namespace
{
juce::Image snapshot (juce::Component& c, bool withChildren = true)
{
    return c.createComponentSnapshot (c.getLocalBounds(), withChildren, 1.0f);
}

void savePng (const juce::Image& image, const juce::String& name)
{
    auto file = juce::File::getCurrentWorkingDirectory().getChildFile (name);
    file.deleteFile();
    juce::FileOutputStream out (file);
    ASSERT_TRUE (out.openedOk());
    ASSERT_TRUE (juce::PNGImageFormat().writeImageToStream (image, out));
}

bool sameInside (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area)
{
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                return false;
    return true;
}

juce::StringPairArray size (int w, int h)
{
    juce::StringPairArray s;
    s.set ("Width", juce::String (w));
    s.set ("Height", juce::String (h));
    return s;
}
} // namespace

TEST (Rendering, LedIsLitOnlyWhileTheStageRuns)
{
    LoopbackServer server (R"({"last_version": 1})");   // no update bar in the picture
    EditorRig rig (server.address(), size (440, 480));
    auto& holder = rig.openEditor();
    auto& panel = rig.panel();
    const auto ledArea = panel.ledBounds();
    auto& p0 = *rig.processor->p0Param;

    p0.setValue (0.0f);
    const auto running = snapshot (holder);
    savePng (running, "editor-440x480.png");

    p0.setValue (1.0f);
    const auto stopped = snapshot (holder);
    p0.setValue (0.5f);
    const auto atDefault = snapshot (holder);

    const auto savedLed = panel.led;
    panel.led = {};
    p0.setValue (0.0f);
    const auto withoutLed = snapshot (holder);
    panel.led = savedLed;

    // Unlit: the photograph's own LED shows.
    EXPECT_TRUE (sameInside (stopped, withoutLed, holder.getLocalBounds()));
    EXPECT_TRUE (sameInside (atDefault, withoutLed, holder.getLocalBounds()));
    // Lit: only the LED square changes.
    EXPECT_FALSE (sameInside (running, stopped, ledArea));
    EXPECT_TRUE (sameInside (running, stopped, holder.getLocalBounds().withTrimmedTop (ledArea.getBottom())));
    EXPECT_TRUE (sameInside (running, stopped, holder.getLocalBounds().withBottom (ledArea.getY())));

    // The foot switch turns the LED off and on again: 0 -> 1 -> 0.
    panel.buttonClicked (&panel.footSwitch);
    EXPECT_TRUE (sameInside (snapshot (holder), stopped, ledArea));
    panel.buttonClicked (&panel.footSwitch);
    EXPECT_TRUE (sameInside (snapshot (holder), running, ledArea));

    // The LED picture fills its square: its centre pixel is drawn there.
    const auto ledCentre = panel.led.getPixelAt (32, 32);
    const auto drawn = running.getPixelAt (ledArea.getCentreX(), ledArea.getCentreY());
    EXPECT_NEAR (drawn.getRed(), ledCentre.getRed(), 24);
    EXPECT_NEAR (drawn.getGreen(), ledCentre.getGreen(), 24);
    EXPECT_NEAR (drawn.getBlue(), ledCentre.getBlue(), 24);
}

TEST (Rendering, LedFollowsHostAutomationWithinATimerTick)
{
    // Collects what the panel asks its holder to repaint; nothing here has a window.
    struct RepaintSpy : juce::CachedComponentImage
    {
        void paint (juce::Graphics&) override {}
        bool invalidateAll() override { return invalidate ({ 0, 0, 1 << 16, 1 << 16 }); }
        bool invalidate (const juce::Rectangle<int>& area) override { asked.add (area); return true; }
        void releaseResources() override {}
        juce::RectangleList<int> asked;
    };

    LoopbackServer server (R"({"last_version": 1})");   // no update bar
    EditorRig rig (server.address());
    auto& holder = rig.openEditor();
    auto& panel = rig.panel();
    auto& p0 = *rig.processor->p0Param;
    auto* spy = new RepaintSpy();
    holder.setVisible (true);
    holder.setCachedComponentImage (spy);
    const auto ledArea = holder.getLocalArea (&panel, panel.ledBounds());

    // After a paint over the whole panel, over another part of it, or over part of the LED, a
    // host change of the switch has the LED repainted by the next tick of the 500 ms timer.
    for (const auto area : { panel.getLocalBounds(), juce::Rectangle<int> (0, 0, 440, 100), panel.ledBounds().withWidth (10) })
    {
        snapshot (panel);
        p0.setValue (p0.value.load() < 0.5f ? 1.0f : 0.0f);
        if (area != panel.getLocalBounds())
            panel.createComponentSnapshot (area, true, 1.0f);

        spy->asked.clear();
        pumpMessages (600);
        EXPECT_TRUE (spy->asked.containsRectangle (ledArea)) << area.toString();
    }

    // Once the LED shows the stage's state, nothing is repainted.
    snapshot (panel);
    spy->asked.clear();
    pumpMessages (600);
    EXPECT_TRUE (spy->asked.isEmpty());
}

TEST (Rendering, StripGradientRunsFromThreeQuartersToAQuarter)
{
    EditorRig rig (LoopbackServer::closedAddress(), size (440, 480));
    rig.openEditor();
    auto& strip = *rig.panel().topMenu;
    const auto alone = snapshot (strip, false);

    ASSERT_EQ (alone.getHeight(), 60);
    for (int x : { 0, 200, 439 })
    {
        const auto top = alone.getPixelAt (x, 0);
        const auto bottom = alone.getPixelAt (x, 59);
        EXPECT_NEAR (top.getAlpha(), 0xbf, 2);
        EXPECT_NEAR (bottom.getAlpha(), 0x40, 2);
        EXPECT_EQ (top.getRed(), 0);
        EXPECT_EQ (bottom.getRed(), 0);
    }

    // Over the photograph the strip darkens it, more at the top.
    const auto withStrip = snapshot (rig.panel());
    rig.panel().topMenu->setVisible (false);
    const auto without = snapshot (rig.panel());
    EXPECT_LT (withStrip.getPixelAt (3, 1).getBrightness(), without.getPixelAt (3, 1).getBrightness() * 0.4f + 0.01f);
    EXPECT_LT (withStrip.getPixelAt (3, 58).getBrightness(), without.getPixelAt (3, 58).getBrightness() * 0.8f + 0.01f);
}

TEST (Rendering, SmallestWindowShowsTheWholePanelScaled)
{
    LoopbackServer server (R"({"last_version": 2})");
    EditorRig rig (server.address());
    auto& holder = rig.openEditor();
    ASSERT_EQ (holder.getBounds(), juce::Rectangle<int> (0, 0, 264, 288));

    const auto small = snapshot (holder);
    savePng (small, "editor-264x288.png");
    EXPECT_EQ (small.getWidth(), 264);
    EXPECT_EQ (small.getHeight(), 288);

    // Compare with the panel drawn at full size and scaled down: the same picture, 0.6 times.
    const auto full = snapshot (rig.panel());
    const auto bar = rig.panel().updateOverlay.getBounds();
    for (const auto point : { juce::Point<int> (220, 300), juce::Point<int> (100, 200), juce::Point<int> (400, 455) })
    {
        const auto a = full.getPixelAt (point.x, point.y);
        const auto b = small.getPixelAt ((int) (point.x * 0.6f), (int) (point.y * 0.6f));
        EXPECT_NEAR (a.getBrightness(), b.getBrightness(), 0.2f) << point.toString();
    }

    // The update bar darkens the bottom 50 pixels (30 in the small window).
    EXPECT_TRUE (rig.panel().updateOverlay.isVisible());
    EXPECT_EQ (bar, juce::Rectangle<int> (0, 430, 440, 50));
}
