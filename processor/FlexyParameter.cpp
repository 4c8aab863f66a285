#include "FlexyParameter.h"

#include "NumberText.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace
{
juce::String firstCharacters (const juce::String& text, int maximumStringLength)
{
    // juce::String counts code points, so a cut never splits a character.
    return maximumStringLength > 0 ? text.substring (0, maximumStringLength) : text;
}
} // namespace

FlexyParameter::FlexyParameter (juce::String parameterID, juce::String constructionName,
                                float minValue, float maxValue, float defaultValueToUse)
    : FlexyParameter (parameterID, constructionName,
                      juce::NormalisableRange<float> (minValue, maxValue, 0.01f, 1.0f),
                      defaultValueToUse, {}, juce::AudioProcessorParameter::genericParameter,
                      {}, {})
{
}

FlexyParameter::FlexyParameter (const juce::String& parameterID,
                                const juce::String& constructionName,
                                juce::NormalisableRange<float> rangeToUse,
                                float defaultValueToUse,
                                const juce::String& labelToUse,
                                juce::AudioProcessorParameter::Category categoryToUse,
                                std::function<juce::String (float, int)> stringFromValueToUse,
                                std::function<float (const juce::String&)> valueFromStringToUse)
    : juce::RangedAudioParameter (juce::ParameterID { parameterID, 0 }, constructionName,
                                  juce::AudioProcessorParameterWithIDAttributes()
                                      .withLabel (labelToUse)
                                      .withCategory (categoryToUse)),
      range (rangeToUse),
      value (defaultValueToUse),
      defaultValue (defaultValueToUse),
      stringFromValue (std::move (stringFromValueToUse)),
      valueFromString (std::move (valueFromStringToUse))
{
    if (! stringFromValue)
    {
        decimalPlaces = decimalPlacesForInterval (range.interval);
        stringFromValue = [places = decimalPlaces] (float v, int maximumStringLength)
        {
            return firstCharacters (juce::String (v, places), maximumStringLength);
        };
    }

    if (! valueFromString)
    {
        valueFromString = [] (const juce::String& text)
        {
            // Text with no number reads as 0, as it always has; a number beyond float range
            // as the infinity it points at, which the range then clamps.
            const double number = numberAtStartOf (text).value_or (0.0);
            if (std::abs (number) > static_cast<double> (std::numeric_limits<float>::max()))
                return number > 0.0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
            return static_cast<float> (number);
        };
    }

    displayName = constructionName;
    automatable = true;
}

FlexyParameter::~FlexyParameter() = default;

int FlexyParameter::decimalPlacesForInterval (float interval) noexcept
{
    if (interval == 0.0f)
        return 7;

    const float fraction = std::abs (interval - std::floor (interval));
    if (fraction < std::numeric_limits<float>::min()
        || fraction <= fraction * std::numeric_limits<float>::epsilon())
        return 0;

    auto scaled = static_cast<int64_t> (std::llround (static_cast<double> (interval) * 1.0e7));
    if (scaled < 0)
        scaled = -scaled;

    int places = 7;
    while (scaled % 10 == 0 && places > 0)
    {
        scaled /= 10;
        --places;
    }
    return places;
}

float FlexyParameter::getValue() const
{
    return convertTo0to1 (value.load());
}

void FlexyParameter::setValue (float newValue)
{
    // NaN carries no position: the value stays where it was. Infinities clamp to the ends.
    if (! std::isnan (newValue))
        value.store (convertFrom0to1 (newValue));
    valueChanged (value.load());
}

float FlexyParameter::getDefaultValue() const
{
    return convertTo0to1 (defaultValue);
}

juce::String FlexyParameter::getName (int maximumStringLength) const
{
    if (maximumStringLength <= 0)
        return {};
    return displayName.substring (0, maximumStringLength);
}

int FlexyParameter::getNumSteps() const
{
    // Hosts treat every parameter as continuous, whatever its grid.
    return std::numeric_limits<int>::max();
}

juce::String FlexyParameter::getText (float normalisedValue, int maximumStringLength) const
{
    const float shown = std::isnan (normalisedValue) ? value.load() : convertFrom0to1 (normalisedValue);
    return stringFromValue (shown, maximumStringLength);
}

float FlexyParameter::getValueForText (const juce::String& text) const
{
    // Text such as "nan" names no value; answer with the current one rather than NaN.
    const float parsed = valueFromString (text);
    return std::isnan (parsed) ? getValue() : convertTo0to1 (parsed);
}

bool FlexyParameter::isAutomatable() const
{
    return automatable;
}

const juce::NormalisableRange<float>& FlexyParameter::getNormalisableRange() const
{
    return range;
}

void FlexyParameter::valueChanged (float) {}
