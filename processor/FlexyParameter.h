#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <functional>

// A float parameter on a 0.01 grid whose host-visible name can be replaced after
// construction. The value sits in an atomic in its own units (dB, percent, 0..1) so the
// audio thread and the editor can read it directly without a lock.
class FlexyParameter : public juce::RangedAudioParameter
{
public:
    FlexyParameter (juce::String parameterID, juce::String constructionName,
                    float minValue, float maxValue, float defaultValue);

    FlexyParameter (const juce::String& parameterID,
                    const juce::String& constructionName,
                    juce::NormalisableRange<float> range,
                    float defaultValue,
                    const juce::String& labelText,
                    juce::AudioProcessorParameter::Category parameterCategory,
                    std::function<juce::String (float, int)> stringFromValue,
                    std::function<float (const juce::String&)> valueFromString);

    ~FlexyParameter() override;

    float getValue() const override;
    void setValue (float newValue) override;
    float getDefaultValue() const override;
    juce::String getName (int maximumStringLength) const override;
    int getNumSteps() const override;
    juce::String getText (float normalisedValue, int maximumStringLength) const override;
    float getValueForText (const juce::String& text) const override;
    bool isAutomatable() const override;
    const juce::NormalisableRange<float>& getNormalisableRange() const override;

    // Called with the stored value after every setValue; a hook for subclasses.
    virtual void valueChanged (float newValue);

    juce::NormalisableRange<float> range;
    juce::String displayName;          // what hosts see; the base keeps the construction name
    bool automatable = true;
    std::atomic<float> value { 0.0f }; // own units, not normalised
    float defaultValue = 0.0f;         // own units
    std::function<juce::String (float, int)> stringFromValue;
    std::function<float (const juce::String&)> valueFromString;

    // Decimal places needed to show a value on a grid of the given interval.
    static int decimalPlacesForInterval (float interval) noexcept;

private:
    int decimalPlaces = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FlexyParameter)
};
