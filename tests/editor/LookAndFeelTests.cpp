// The sprite knob's frame choice and the main look's knob and toggle drawing.

#include "EditorTestSupport.h"

namespace
{
// A sheet whose frame k is filled with a colour that encodes k.
juce::Image numberedSheet (int columns, int rows, int frameSize)
{
    juce::Image sheet (juce::Image::RGB, columns * frameSize, rows * frameSize, true);
    juce::Graphics g (sheet);

    for (int k = 0; k < columns * rows; ++k)
    {
        g.setColour (juce::Colour ((juce::uint8) k, (juce::uint8) (255 - k), (juce::uint8) 77));
        g.fillRect ((k % columns) * frameSize, (k / columns) * frameSize, frameSize, frameSize);
    }

    return sheet;
}

int frameShown (SpriteKnobLookAndFeel& lf, juce::Slider& slider, int width, int height, int x = 0, int y = 0)
{
    juce::Image canvas (juce::Image::RGB, width, height, true);
    {
        juce::Graphics g (canvas);
        lf.drawRotarySlider (g, x, y, width, height, 0.0f, 0.0f, 1.0f, slider);
    }
    const auto corner = canvas.getPixelAt (1, 1);
    const auto centre = canvas.getPixelAt (width / 2, height / 2);
    const auto farCorner = canvas.getPixelAt (width - 2, height - 2);

    // One frame fills the whole destination.
    if (corner != centre || centre != farCorner || centre.getBlue() != 77)
        return -1;

    return centre.getRed();
}
} // namespace

TEST (SpriteKnob, FrameIndexFollowsTheTable)
{
    const auto frame = [] (double v) { return SpriteKnobLookAndFeel::frameIndexFor (v, 0.0, 1.0, 128); };
    EXPECT_EQ (frame (0.0), 0);
    EXPECT_EQ (frame (0.1), 13);
    EXPECT_EQ (frame (0.25), 32);
    EXPECT_EQ (frame (0.5), 64);   // 63.5 goes up
    EXPECT_EQ (frame (0.75), 95);
    EXPECT_EQ (frame (1.0), 127);
    EXPECT_EQ (frame (1.0 / 254.0), 0);   // narrowed to float, 127 p lands just below one half
    EXPECT_EQ (frame (-0.5), 0);
    EXPECT_EQ (frame (1.5), 127);
    EXPECT_EQ (SpriteKnobLookAndFeel::frameIndexFor (0.3, 0.3, 0.3, 128), 0);
}

TEST (SpriteKnob, DrawsTheChosenFrameOverTheWholeKnob)
{
    SpriteKnobLookAndFeel lf;
    lf.spriteSheet = numberedSheet (8, 16, 160);
    lf.frameRows = 16;
    lf.frameColumns = 8;

    juce::Slider slider;
    slider.setRange (0.0, 1.0, 0.0);

    for (const auto [value, expected] : { std::pair { 0.0, 0 }, { 0.1, 13 }, { 0.5, 64 }, { 0.75, 95 }, { 1.0, 127 } })
    {
        slider.setValue (value, juce::dontSendNotification);
        EXPECT_EQ (frameShown (lf, slider, 100, 100), expected) << value;
    }

    // Position arguments are ignored and a non-square knob stretches the frame.
    slider.setValue (0.5, juce::dontSendNotification);
    EXPECT_EQ (frameShown (lf, slider, 100, 100, 30, 40), 64);
    EXPECT_EQ (frameShown (lf, slider, 120, 50), 64);

    // A skewed range still picks the frame from the linear position of the value.
    slider.setNormalisableRange ({ 0.0, 1.0, 0.0, 0.3 });
    slider.setValue (0.25, juce::dontSendNotification);
    EXPECT_EQ (frameShown (lf, slider, 100, 100), 32);

    slider.setRange (2.0, 2.0, 0.0);
    EXPECT_EQ (frameShown (lf, slider, 100, 100), 0);
}

TEST (SpriteKnob, NothingToDrawIsNotAFailure)
{
    SpriteKnobLookAndFeel lf;
    juce::Slider slider;
    slider.setRange (0.0, 1.0, 0.0);
    lf.frameRows = 16;
    lf.frameColumns = 8;
    EXPECT_EQ (frameShown (lf, slider, 50, 50), -1);   // empty sheet: nothing drawn

    lf.spriteSheet = juce::Image (juce::Image::RGB, 4, 8, true);   // finer grid than pixels
    juce::Image canvas (juce::Image::RGB, 50, 50, true);
    juce::Graphics g (canvas);
    lf.drawRotarySlider (g, 0, 0, 50, 50, 0.0f, 0.0f, 1.0f, slider);
    EXPECT_EQ (canvas.getPixelAt (25, 25), juce::Colour (0xff000000));
}

TEST (MainLook, SmallKnobIsARingWithAYellowPointer)
{
    MainLookAndFeel lf;
    lf.layoutScale = 5.0f;
    juce::Slider slider;
    juce::Image canvas (juce::Image::ARGB, 40, 40, true);
    {
        juce::Graphics g (canvas);
        // Pointer straight up at the middle of the default angles.
        lf.drawRotarySlider (g, 0, 0, 40, 40, 0.5f,
                             juce::MathConstants<float>::pi * 1.2f, juce::MathConstants<float>::pi * 2.8f, slider);
    }
    const auto pointer = canvas.getPixelAt (20, 6);   // radius 16: the bar runs from y 4 to 9.28
    EXPECT_GT (pointer.getRed(), 200);
    EXPECT_GT (pointer.getGreen(), 200);
    EXPECT_LT (pointer.getBlue(), 40);

    const auto ringLeft = canvas.getPixelAt (4, 20);   // ring over (4, 4, 32, 32)
    EXPECT_GT (ringLeft.getAlpha(), 100);
    EXPECT_NEAR (ringLeft.getRed(), ringLeft.getBlue(), 2);

    EXPECT_EQ (canvas.getPixelAt (20, 20).getAlpha(), 0);   // the body is not filled
    EXPECT_EQ (canvas.getPixelAt (20, 30).getAlpha(), 0);   // no pointer below the centre
}

TEST (MainLook, ToggleDrawsARingAndADotWhenOn)
{
    MainLookAndFeel lf;
    juce::ToggleButton toggle ("Sync");
    toggle.setLookAndFeel (&lf);
    toggle.setBounds (0, 0, 125, 40);
    toggle.setColour (juce::ToggleButton::tickColourId, juce::Colours::red);
    toggle.setColour (juce::ToggleButton::tickDisabledColourId, juce::Colours::blue);

    const auto render = [&] {
        juce::Image canvas (juce::Image::ARGB, 125, 40, true);
        juce::Graphics g (canvas);
        lf.drawToggleButton (g, toggle, false, false);
        return canvas;
    };

    // Tick box at (4, 11.75, 16.5, 16.5): centre (12.25, 20).
    auto off = render();
    EXPECT_EQ (off.getPixelAt (12, 20).getAlpha(), 0);
    EXPECT_GT (off.getPixelAt (4, 20).getBlue(), 100);

    toggle.setToggleState (true, juce::dontSendNotification);
    auto on = render();
    EXPECT_GT (on.getPixelAt (12, 20).getRed(), 200);

    // The text starts at x 26, right of the tick box.
    bool textLeftOfStart = false, textAfterStart = false;
    for (int y = 0; y < 40; ++y)
    {
        for (int x = 23; x < 25; ++x)   // between the ring (ends at 21.5) and the text
            textLeftOfStart |= on.getPixelAt (x, y).getAlpha() > 0;
        for (int x = 26; x < 80; ++x)
            textAfterStart |= on.getPixelAt (x, y).getAlpha() > 0;
    }
    EXPECT_FALSE (textLeftOfStart);
    EXPECT_TRUE (textAfterStart);
    toggle.setLookAndFeel (nullptr);
}
