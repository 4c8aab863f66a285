#include "TopMenuComponent.h"
#include "UpdateOverlay.h"

#include <BinaryData.h>

TopMenuComponent::TopMenuComponent (juce::AudioProcessorValueTreeState& vts, float scale)
    : moreLink ("Get more plug-ins!", juce::URL (UpdateCheck::makerUrl())),
      valueTreeState (vts),
      layoutScale (scale)
{
    stripLookAndFeel.layoutScale = layoutScale;

    logo = juce::Drawable::createFromImageData (BinaryData::logo_svg, (size_t) BinaryData::logo_svgSize);

    if (logo != nullptr)
        addAndMakeVisible (*logo);

    titleLabel.setText ("KELVOR 58", juce::dontSendNotification);
    titleLabel.setFont (getEurostileBold().withHeight (4.5f * layoutScale));
    titleLabel.setColour (juce::Label::textColourId, juce::Colours::white);
    addAndMakeVisible (titleLabel);

    setUpKnob (pregainSlider, " dB");
    pregainAttachment = std::make_unique<Attachment> (valueTreeState, "pregain", pregainSlider);
    setUpLabel (inLabel, "In");

    setUpKnob (postgainSlider, " dB");
    postgainAttachment = std::make_unique<Attachment> (valueTreeState, "postgain", postgainSlider);
    setUpLabel (outLabel, "Out");

    setUpKnob (drywetSlider, "%");
    drywetAttachment = std::make_unique<Attachment> (valueTreeState, "drywet", drywetSlider);
    setUpLabel (mixLabel, "Mix");

    // Stacking order matters: the labels overlap the knobs' edges and take those clicks.
    addAndMakeVisible (pregainSlider);
    addAndMakeVisible (postgainSlider);
    addAndMakeVisible (inLabel);
    addAndMakeVisible (outLabel);
    addAndMakeVisible (mixLabel);
    addAndMakeVisible (drywetSlider);

    moreLink.setFont (getEurostileBold().withHeight (8.0f), true, juce::Justification::centredLeft);
    moreLink.setColour (juce::HyperlinkButton::textColourId, juce::Colour (0xffc8c8c8));
    addAndMakeVisible (moreLink);
}

TopMenuComponent::~TopMenuComponent()
{
    setLookAndFeel (nullptr);
    pregainSlider.setLookAndFeel (nullptr);
    postgainSlider.setLookAndFeel (nullptr);
    drywetSlider.setLookAndFeel (nullptr);
}

void TopMenuComponent::setUpKnob (juce::Slider& slider, const juce::String& suffix)
{
    slider.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    slider.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    slider.setLookAndFeel (&stripLookAndFeel);
    slider.setPopupDisplayEnabled (true, false, this, 2000);
    slider.setTextValueSuffix (suffix);
}

void TopMenuComponent::setUpLabel (juce::Label& label, const juce::String& text)
{
    label.setText (text, juce::dontSendNotification);
    label.setFont (getEurostileBold().withHeight (3.5f * layoutScale));
    label.setColour (juce::Label::textColourId, juce::Colours::white);
    label.setJustificationType (juce::Justification::centred);
}

void TopMenuComponent::paint (juce::Graphics& g)
{
    const auto height = (float) getHeight();
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xbf000000), 0.0f, 0.0f,
                                             juce::Colour (0x40000000), 0.0f, height, false));
    g.fillRect (juce::Rectangle<float> (0.0f, 0.0f, (float) getWidth(), height));
}

void TopMenuComponent::resized()
{
    const auto u = layoutScale;
    const auto H = getHeight();
    const auto px = [] (float v) { return (int) v; };

    if (logo != nullptr && 7.0f * u > 0.0f)
        logo->setTransformToFit ({ 3.0f * u, 2.0f * u, 7.0f * u, 7.0f * u },
                                 juce::RectanglePlacement::stretchToFit);

    // Title and link are half of an 11-unit band; every fraction is cut, not rounded.
    const auto halfBand = (11.0f * u) * 0.5f;

    titleLabel.setBounds (px (11.0f * u), px (u), px (65.0f * u), px (halfBand));
    moreLink.setBounds (px (12.0f * u), px (halfBand - 2.0f), px (30.0f * u), px (halfBand));
    inLabel.setBounds (px (41.0f * u), 0, px (8.0f * u), H);
    pregainSlider.setBounds (px (47.0f * u), px (2.0f * u), px (8.0f * u), px (8.0f * u));
    outLabel.setBounds ((int) (54.5 * (double) u), 0, px (10.0f * u), H);
    postgainSlider.setBounds (px (63.0f * u), px (2.0f * u), px (8.0f * u), px (8.0f * u));
    mixLabel.setBounds ((int) (67.75 * (double) u), 0, px (16.0f * u), H);
    drywetSlider.setBounds (px (79.0f * u), px (2.0f * u), px (8.0f * u), px (8.0f * u));
}
