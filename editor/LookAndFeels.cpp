#include "LookAndFeels.h"

#include <BinaryData.h>

#include <cmath>

const juce::Font& getEurostileBold()
{
    // Function-local static: made on first use, thread-safe, lives until the module unloads.
    static const juce::Font EurostileBold = []
    {
        if (auto typeface = juce::Typeface::createSystemTypefaceFor (BinaryData::bold_font_ttf,
                                                                     (size_t) BinaryData::bold_font_ttfSize))
            return juce::Font (typeface);

        return juce::Font();
    }();

    return EurostileBold;
}

namespace
{
// The shared colour set of both look-and-feels (everything after the slider thumb).
void applyDarkMenuColours (juce::LookAndFeel_V4& lf)
{
    namespace Colours = juce::Colours;

    lf.setColour (juce::ComboBox::backgroundColourId, Colours::black);
    lf.setColour (juce::ComboBox::textColourId, Colours::white);
    lf.setColour (juce::ComboBox::buttonColourId, Colours::black);
    lf.setColour (juce::ComboBox::arrowColourId, Colours::white);
    lf.setColour (juce::ComboBox::outlineColourId, Colours::grey);
    lf.setColour (juce::ComboBox::focusedOutlineColourId, Colours::grey);
    lf.setColour (juce::PopupMenu::backgroundColourId, Colours::black);
    lf.setColour (juce::PopupMenu::textColourId, Colours::white);
    lf.setColour (juce::PopupMenu::headerTextColourId, Colours::white);
    lf.setColour (juce::PopupMenu::highlightedBackgroundColourId, Colours::grey);
    lf.setColour (juce::PopupMenu::highlightedTextColourId, Colours::white);
    lf.setColour (juce::BubbleComponent::backgroundColourId, Colours::black);
    lf.setColour (juce::BubbleComponent::outlineColourId, Colours::grey);
}
} // namespace

//==============================================================================
MainLookAndFeel::MainLookAndFeel()
{
    setColour (juce::Slider::thumbColourId, juce::Colours::grey);
    applyDarkMenuColours (*this);
}

void MainLookAndFeel::drawToggleButton (juce::Graphics& g, juce::ToggleButton& button,
                                        bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    const auto h = (float) button.getHeight();
    const auto fontSize = juce::jmin (15.0f, h * 0.75f);
    const auto tickWidth = fontSize * 1.1f;

    drawTickBox (g, button, 4.0f, (h - tickWidth) * 0.5f, tickWidth, tickWidth,
                 button.getToggleState(), button.isEnabled(),
                 shouldDrawButtonAsHighlighted, shouldDrawButtonAsDown);

    g.setColour (button.findColour (juce::ToggleButton::textColourId));
    g.setFont (getEurostileBold().withHeight (fontSize));

    if (! button.isEnabled())
        g.setOpacity (0.5f);

    g.drawFittedText (button.getButtonText(),
                      button.getLocalBounds().withTrimmedLeft (juce::roundToInt (tickWidth) + 10)
                                             .withTrimmedRight (2),
                      juce::Justification::centredLeft, 10);
}

void MainLookAndFeel::drawTickBox (juce::Graphics& g, juce::Component& component,
                                   float x, float y, float w, float h,
                                   bool ticked, bool, bool, bool)
{
    g.setColour (component.findColour (juce::ToggleButton::tickDisabledColourId));
    g.drawEllipse (x, y, w, h, 2.0f);

    if (ticked)
    {
        g.setColour (component.findColour (juce::ToggleButton::tickColourId));
        g.fillEllipse (x + 4.0f, y + 4.0f, juce::jmax (0.0f, w - 8.0f), juce::jmax (0.0f, h - 8.0f));
    }
}

void MainLookAndFeel::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height,
                                        float sliderPos, float rotaryStartAngle, float rotaryEndAngle,
                                        juce::Slider&)
{
    const auto radius = (float) juce::jmin (width / 2, height / 2) - 4.0f;
    const auto centreX = (float) x + (float) width * 0.5f;
    const auto centreY = (float) y + (float) height * 0.5f;
    const auto rx = centreX - radius;
    const auto ry = centreY - radius;
    const auto rw = radius * 2.0f;
    const auto thickness = layoutScale / 1.75f;

    g.setColour (juce::Colour (0xff808080));
    g.drawEllipse (rx, ry, rw, rw, thickness);

    juce::Path pointer;
    pointer.addRectangle (-thickness * 0.5f, -radius, thickness, radius * 0.33f);

    const auto angle = rotaryStartAngle + sliderPos * (rotaryEndAngle - rotaryStartAngle);
    pointer.applyTransform (juce::AffineTransform::rotation (angle).translated (centreX, centreY));

    g.setColour (juce::Colour (0xffffff00));
    g.fillPath (pointer);
}

//==============================================================================
SpriteKnobLookAndFeel::SpriteKnobLookAndFeel()
{
    applyDarkMenuColours (*this);
}

int SpriteKnobLookAndFeel::frameIndexFor (double value, double minimum, double maximum, int frameCount)
{
    if (frameCount <= 0)
        return 0;

    // The proportion is narrowed to float before it picks the frame: 1/254 of the range then
    // lands just below the half-way point between frames 0 and 1.
    const auto proportion = (float) ((value - minimum) / (maximum - minimum));

    if (! std::isfinite (proportion))
        return 0;

    const auto k = std::round ((double) (frameCount - 1) * (double) proportion);
    return (int) juce::jlimit (0.0, (double) (frameCount - 1), k);
}

void SpriteKnobLookAndFeel::drawRotarySlider (juce::Graphics& g, int, int, int width, int height,
                                              float, float, float, juce::Slider& slider)
{
    if (frameRows <= 0 || frameColumns <= 0)
        return;

    const auto frame = frameIndexFor (slider.getValue(), slider.getMinimum(), slider.getMaximum(),
                                      frameRows * frameColumns);

    if (spriteSheet.isNull())
        return;

    const auto frameWidth = (int) ((float) spriteSheet.getWidth() / (float) frameColumns);
    const auto frameHeight = (int) ((float) spriteSheet.getHeight() / (float) frameRows);

    if (frameWidth <= 0 || frameHeight <= 0)
        return;

    const auto row = (int) std::floor ((float) frame / (float) frameColumns);
    const auto column = frame - frameColumns * row;

    g.drawImage (spriteSheet,
                 0, 0, width, height,
                 column * frameWidth, row * frameHeight, frameWidth, frameHeight,
                 false);
}
