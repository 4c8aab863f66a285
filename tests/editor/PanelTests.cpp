// The pedal panel at its base size: layout, the speed knob's text, the foot switch and Sync logic.

#include "EditorTestSupport.h"

using namespace kelvortest;

namespace
{
struct PanelTest : ::testing::Test
{
    void SetUp() override { rig.openEditor(); }

    Kelvo58AudioProcessorEditor& panel() { return rig.panel(); }
    FlexyParameter& p0() { return *rig.processor->p0Param; }
    FlexyParameter& synchOn() { return *rig.processor->synchOnParam; }

    EditorRig rig;
};

using R = juce::Rectangle<int>;
} // namespace

TEST_F (PanelTest, ChildrenSitOnTheFiveUnitGrid)
{
    auto& p = panel();
    EXPECT_EQ (p.getBounds(), R (0, 0, 440, 480));
    EXPECT_EQ (p.footSwitch.getBounds(), R (185, 325, 70, 70));
    EXPECT_EQ (p.knob.getBounds(), R (170, 105, 100, 100));
    EXPECT_EQ (p.updateOverlay.getBounds(), R (0, 430, 440, 50));
    EXPECT_EQ (p.updateOverlay.updateLink.getBounds(), R (88, 10, 264, 30));
    EXPECT_EQ (p.syncToggle.getBounds(), R (370, 60, 125, 40));
    EXPECT_EQ (p.topMenu->getBounds(), R (0, 0, 440, 60));
    EXPECT_EQ (p.ledBounds(), R (200, 285, 40, 40));
}

TEST_F (PanelTest, ChildrenAreStackedWithTheStripInFront)
{
    auto& p = panel();
    std::vector<juce::Component*> expected { &p.footSwitch, &p.knob, &p.syncToggle, &p.updateOverlay, p.topMenu.get() };
    std::vector<juce::Component*> actual;

    for (auto* c : p.getChildren())
        if (std::find (expected.begin(), expected.end(), c) != expected.end())
            actual.push_back (c);

    EXPECT_EQ (actual, expected);
}

TEST_F (PanelTest, AnyOtherSizeIsUndoneBeforeTheChildrenAreLaidOut)
{
    auto& p = panel();
    p.setSize (300, 200);
    EXPECT_EQ (p.getBounds(), R (0, 0, 440, 480));
    EXPECT_EQ (p.footSwitch.getBounds(), R (185, 325, 70, 70));
    EXPECT_EQ (p.updateOverlay.getBounds(), R (0, 430, 440, 50));
}

TEST_F (PanelTest, StripChildrenTruncateTheirFractions)
{
    auto& t = *panel().topMenu;
    EXPECT_EQ (t.titleLabel.getBounds(), R (55, 5, 325, 27));
    EXPECT_EQ (t.moreLink.getBounds(), R (60, 25, 150, 27));
    EXPECT_EQ (t.inLabel.getBounds(), R (205, 0, 40, 60));
    EXPECT_EQ (t.pregainSlider.getBounds(), R (235, 10, 40, 40));
    EXPECT_EQ (t.outLabel.getBounds(), R (272, 0, 50, 60));
    EXPECT_EQ (t.postgainSlider.getBounds(), R (315, 10, 40, 40));
    EXPECT_EQ (t.mixLabel.getBounds(), R (338, 0, 80, 60));
    EXPECT_EQ (t.drywetSlider.getBounds(), R (395, 10, 40, 40));

    ASSERT_NE (t.logo, nullptr);
    const auto logoArea = t.logo->getDrawableBounds().transformedBy (t.logo->getTransform());
    EXPECT_NEAR (logoArea.getX(), 15.0f, 0.01f);
    EXPECT_NEAR (logoArea.getY(), 10.0f, 0.01f);
    EXPECT_NEAR (logoArea.getWidth(), 35.0f, 0.01f);
    EXPECT_NEAR (logoArea.getHeight(), 35.0f, 0.01f);
}

TEST_F (PanelTest, StripLabelsLieAboveTheKnobEdgesTheyOverlap)
{
    auto& t = *panel().topMenu;
    // Left edge of the In knob belongs to its label; the right of the Mix label to the Mix knob.
    EXPECT_EQ (t.getComponentAt (237, 30), &t.inLabel);
    EXPECT_EQ (t.getComponentAt (400, 30), &t.drywetSlider);
    EXPECT_EQ (t.getComponentAt (345, 30), &t.mixLabel);
    EXPECT_EQ (t.getComponentAt (330, 30), &t.postgainSlider);
}

TEST_F (PanelTest, KnobTextShowsRateOrDivision)
{
    auto& p = panel();
    EXPECT_EQ (p.knobValueToText (0.0), "0.05 Hz");
    EXPECT_EQ (p.knobValueToText (0.25), "1.76 Hz");
    EXPECT_EQ (p.knobValueToText (0.5), "3.47 Hz");
    EXPECT_EQ (p.knobValueToText (1.0), "6.90 Hz");

    synchOn().setValue (1.0f);
    EXPECT_EQ (p.knobValueToText (0.0), "16x");
    EXPECT_EQ (p.knobValueToText (0.04), "16x");
    EXPECT_EQ (p.knobValueToText (0.05), "8x");
    EXPECT_EQ (p.knobValueToText (0.3), "2x");  // there is no 3x
    EXPECT_EQ (p.knobValueToText (0.5), "1/1t");
    EXPECT_EQ (p.knobValueToText (0.99), "1/16t");
    EXPECT_EQ (p.knobValueToText (1.0), "1/32");

    // The bubble text comes from the same function, through the slider.
    p.knob.setValue (0.5, juce::dontSendNotification);
    EXPECT_EQ (p.knob.getTextFromValue (p.knob.getValue()), "1/1t");
}

TEST_F (PanelTest, KnobFollowsSpeedThroughItsAttachment)
{
    auto& p = panel();
    EXPECT_DOUBLE_EQ (p.knob.getValue(), 0.5);
    EXPECT_DOUBLE_EQ (p.knob.getMinimum(), 0.0);
    EXPECT_DOUBLE_EQ (p.knob.getMaximum(), 1.0);

    p.knob.setValue (0.8);
    pumpMessages (50);
    EXPECT_FLOAT_EQ (rig.processor->p1Param->value.load(), 0.8f);
}

TEST_F (PanelTest, FootSwitchFlipsTheStageFromTheParameterValue)
{
    auto& p = panel();

    p0().setValue (0.5f);    // a host reset to default: stage off
    p.buttonClicked (&p.footSwitch);
    EXPECT_FLOAT_EQ (p0().value.load(), 1.0f);
    p.buttonClicked (&p.footSwitch);
    EXPECT_FLOAT_EQ (p0().value.load(), 0.0f);
    p.buttonClicked (&p.footSwitch);
    EXPECT_FLOAT_EQ (p0().value.load(), 1.0f);

    // Other buttons change nothing.
    juce::TextButton stranger;
    p.buttonClicked (&stranger);
    EXPECT_FLOAT_EQ (p0().value.load(), 1.0f);
}

TEST_F (PanelTest, ClicksReachTheHostAndTheStateTree)
{
    auto& p = panel();
    struct Counter : juce::AudioProcessorParameter::Listener
    {
        void parameterValueChanged (int, float v) override { ++calls; last = v; }
        void parameterGestureChanged (int, bool) override {}
        int calls = 0;
        float last = -1.0f;
    } counter;

    p0().addListener (&counter);
    p.footSwitch.triggerClick();
    pumpMessages (50);
    p0().removeListener (&counter);

    EXPECT_EQ (counter.calls, 1);
    EXPECT_FLOAT_EQ (counter.last, 1.0f);
    EXPECT_FLOAT_EQ (p0().value.load(), 1.0f);
}

TEST_F (PanelTest, SyncToggleFlipsTheParameterNotItsOwnState)
{
    auto& p = panel();
    EXPECT_FALSE (p.syncToggle.getToggleState());

    p.syncToggle.triggerClick();
    pumpMessages (50);
    EXPECT_TRUE (p.syncToggle.getToggleState());
    EXPECT_FLOAT_EQ (synchOn().value.load(), 1.0f);

    // The host switched sync off; before the follower catches up the toggle still shows on.
    synchOn().setValue (0.0f);
    p.syncToggle.triggerClick();   // toggle goes off, the parameter flips from 0 to 1
    pumpMessages (50);
    EXPECT_FLOAT_EQ (synchOn().value.load(), 1.0f);
    EXPECT_FALSE (p.syncToggle.getToggleState());

    p.timerCallback (Kelvo58AudioProcessorEditor::syncFollowTimer);
    EXPECT_TRUE (p.syncToggle.getToggleState());
}

TEST_F (PanelTest, SyncToggleFollowsHostChangesWithoutWritingBack)
{
    auto& p = panel();
    EXPECT_TRUE (p.isTimerRunning (Kelvo58AudioProcessorEditor::syncFollowTimer));
    EXPECT_EQ (p.getTimerInterval (Kelvo58AudioProcessorEditor::syncFollowTimer), 500);

    struct Counter : juce::AudioProcessorParameter::Listener
    {
        void parameterValueChanged (int, float) override { ++calls; }
        void parameterGestureChanged (int, bool) override {}
        int calls = 0;
    } counter;
    synchOn().addListener (&counter);

    synchOn().setValue (1.0f);   // host automation
    pumpMessages (700);
    EXPECT_TRUE (p.syncToggle.getToggleState());

    synchOn().setValue (0.5f);   // 0.5 is not "on"
    pumpMessages (700);
    EXPECT_FALSE (p.syncToggle.getToggleState());

    synchOn().removeListener (&counter);
    EXPECT_EQ (counter.calls, 0);
    EXPECT_FLOAT_EQ (synchOn().value.load(), 0.5f);
}

TEST_F (PanelTest, SyncToggleStartsFromTheStoredState)
{
    synchOn().setValue (1.0f);
    rig.openEditor();
    EXPECT_TRUE (panel().syncToggle.getToggleState());
}

TEST_F (PanelTest, LookAndFeelsAreReleasedBeforeTheyDie)
{
    auto& p = panel();
    EXPECT_EQ (&p.knob.getLookAndFeel(), &p.spriteKnobLookAndFeel);
    EXPECT_EQ (&p.syncToggle.getLookAndFeel(), &p.mainLookAndFeel);
    EXPECT_EQ (&p.topMenu->pregainSlider.getLookAndFeel(), &p.topMenu->stripLookAndFeel);
    EXPECT_EQ (&p.topMenu->titleLabel.getLookAndFeel(), &p.mainLookAndFeel);

    // Opening and closing repeatedly must not leave a component pointing at a dead look.
    for (int i = 0; i < 3; ++i)
        rig.openEditor();
}

TEST_F (PanelTest, PicturesAreDecodedPerEditorAndTheFontOnce)
{
    auto& first = panel();
    const auto sheet = first.spriteKnobLookAndFeel.spriteSheet;
    EXPECT_EQ (sheet.getWidth(), 1280);
    EXPECT_EQ (sheet.getHeight(), 2560);
    EXPECT_EQ (sheet.getWidth() % 8, 0);
    EXPECT_EQ (sheet.getHeight() % 16, 0);
    EXPECT_EQ (first.backgroundImage.getBounds(), R (0, 0, 704, 768));
    EXPECT_EQ (first.led.getBounds(), R (0, 0, 64, 64));
    EXPECT_EQ (first.footSwitch.getNormalImage().getBounds(), R (0, 0, 112, 112));
    EXPECT_EQ (first.footSwitch.getDownImage().getBounds(), R (0, 0, 112, 112));
    // The cached up image serves as both the normal and the over picture.
    EXPECT_EQ (first.footSwitch.getNormalImage().getPixelData(), first.footSwitch.getOverImage().getPixelData());

    const auto* fontBefore = &getEurostileBold();
    const auto typefaceBefore = getEurostileBold().getTypefacePtr();
    rig.openEditor();
    EXPECT_NE (panel().spriteKnobLookAndFeel.spriteSheet.getPixelData(), sheet.getPixelData());
    EXPECT_EQ (&getEurostileBold(), fontBefore);
    EXPECT_EQ (getEurostileBold().getTypefacePtr(), typefaceBefore);
    EXPECT_FLOAT_EQ (getEurostileBold().getHeight(), juce::Font().getHeight());
}
