#pragma once

#include "LookAndFeels.h"

#include <juce_audio_processors/juce_audio_processors.h>

/** Strip across the top of the panel: logo, title, site link and the In / Out / Mix knobs. */
class TopMenuComponent : public juce::Component
{
public:
    TopMenuComponent (juce::AudioProcessorValueTreeState& valueTreeState, float layoutScale);
    ~TopMenuComponent() override;

    void paint (juce::Graphics&) override;
    void resized() override;

    using Attachment = juce::AudioProcessorValueTreeState::SliderAttachment;

    juce::HyperlinkButton moreLink;
    juce::AudioProcessorValueTreeState& valueTreeState;
    float layoutScale;
    MainLookAndFeel stripLookAndFeel;
    std::unique_ptr<juce::Drawable> logo;
    juce::Label titleLabel;
    juce::Label inLabel;
    juce::Slider pregainSlider;
    std::unique_ptr<Attachment> pregainAttachment;
    juce::Label outLabel;
    juce::Slider postgainSlider;
    std::unique_ptr<Attachment> postgainAttachment;
    juce::Label mixLabel;
    juce::Slider drywetSlider;
    std::unique_ptr<Attachment> drywetAttachment;

private:
    void setUpKnob (juce::Slider&, const juce::String& suffix);
    void setUpLabel (juce::Label&, const juce::String& text);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TopMenuComponent)
};
