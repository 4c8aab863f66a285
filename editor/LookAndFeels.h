#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The editor's display face, made once per loaded module from the embedded bold font.
    Callers copy it and set the height on their copy. */
const juce::Font& getEurostileBold();

/** Dark look with a ring-and-pointer rotary knob and round tick boxes. */
class MainLookAndFeel : public juce::LookAndFeel_V4
{
public:
    MainLookAndFeel();
    ~MainLookAndFeel() override = default;

    void drawToggleButton (juce::Graphics&, juce::ToggleButton&,
                           bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    void drawTickBox (juce::Graphics&, juce::Component&,
                      float x, float y, float w, float h,
                      bool ticked, bool isEnabled,
                      bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    void drawRotarySlider (juce::Graphics&, int x, int y, int width, int height,
                           float sliderPosProportional, float rotaryStartAngle, float rotaryEndAngle,
                           juce::Slider&) override;

    /** Pixels per layout unit of the owner; sets the ring and pointer thickness. */
    float layoutScale = 5.0f;
};

/** Draws a rotary slider as one frame of a pre-rendered sprite sheet (row-major frames). */
class SpriteKnobLookAndFeel : public juce::LookAndFeel_V4
{
public:
    SpriteKnobLookAndFeel();
    ~SpriteKnobLookAndFeel() override = default;

    void drawRotarySlider (juce::Graphics&, int x, int y, int width, int height,
                           float sliderPosProportional, float rotaryStartAngle, float rotaryEndAngle,
                           juce::Slider&) override;

    /** Frame index (0 .. rows * columns - 1) shown for a value within [minimum, maximum]. */
    static int frameIndexFor (double value, double minimum, double maximum, int frameCount);

    juce::Image spriteSheet;
    int frameRows = 1;
    int frameColumns = 1;
};
