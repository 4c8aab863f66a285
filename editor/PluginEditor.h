#pragma once

#include "LookAndFeels.h"
#include "TopMenuComponent.h"
#include "UpdateOverlay.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <optional>

class Kelvo58AudioProcessor;
class FlexyParameter;

/** The pedal panel, always laid out at 440 x 480; the holder window scales it. */
class Kelvo58AudioProcessorEditor : public juce::Component,
                                    private juce::Slider::Listener,
                                    public juce::Button::Listener,
                                    public juce::MultiTimer
{
public:
    Kelvo58AudioProcessorEditor (Kelvo58AudioProcessor&, juce::AudioProcessorValueTreeState&);
    ~Kelvo58AudioProcessorEditor() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void buttonClicked (juce::Button*) override;
    void timerCallback (int timerID) override;

    /** Text of the speed knob's value bubble: a rate in Hz, or a tempo division while synced. */
    juce::String knobValueToText (double value) const;

    /** Where the LED is drawn, in panel pixels. */
    juce::Rectangle<int> ledBounds() const;

    enum TimerIds { updateBarTimer = 0, syncFollowTimer = 1 };

    static const char* const divisionLabels[24];

    juce::AudioProcessorValueTreeState& valueTreeState;
    float layoutScale = 5.0f;
    int widthUnits = 88;
    int heightUnits = 96;
    float baseWidth = 440.0f;
    float baseHeight = 480.0f;
    UpdateOverlay updateOverlay;
    std::unique_ptr<TopMenuComponent> topMenu;
    juce::ToggleButton syncToggle;
    Kelvo58AudioProcessor& audioProcessor;
    juce::Image backgroundImage;
    juce::Slider knob;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> knobAttachment;
    SpriteKnobLookAndFeel spriteKnobLookAndFeel;
    FlexyParameter* p0Param = nullptr;
    FlexyParameter* synchOnParam = nullptr;
    juce::ImageButton footSwitch;
    juce::Image led;
    MainLookAndFeel mainLookAndFeel;

private:
    void sliderValueChanged (juce::Slider*) override {}
    void runUpdateCheck();

    std::optional<bool> ledShownLit;   // whether the LED's square was last painted lit; empty if unknown

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Kelvo58AudioProcessorEditor)
};
