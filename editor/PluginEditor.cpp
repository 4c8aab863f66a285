#include "PluginEditor.h"

#include "PluginProcessor.h"

#include <BinaryData.h>

const char* const Kelvo58AudioProcessorEditor::divisionLabels[24] = {
    "16x", "8x", "7x", "6x", "5x", "4x", "2x", "1/1d",
    "1/1", "1/2d", "1/2", "1/1t", "1/4d", "1/2t", "1/4", "1/8d",
    "1/4t", "1/8", "1/16d", "1/8t", "1/16", "1/32d", "1/16t", "1/32"
};

Kelvo58AudioProcessorEditor::Kelvo58AudioProcessorEditor (Kelvo58AudioProcessor& p,
                                                          juce::AudioProcessorValueTreeState& vts)
    : valueTreeState (vts), audioProcessor (p)
{
    led = juce::ImageFileFormat::loadFrom (BinaryData::led_jpg, (size_t) BinaryData::led_jpgSize);
    backgroundImage = juce::ImageFileFormat::loadFrom (BinaryData::background_jpg,
                                                       (size_t) BinaryData::background_jpgSize);

    addAndMakeVisible (footSwitch);
    footSwitch.addListener (this);

    const auto switchUp = juce::ImageCache::getFromMemory (BinaryData::footswitch_up_jpg,
                                                           BinaryData::footswitch_up_jpgSize);
    const auto switchOver = juce::ImageCache::getFromMemory (BinaryData::footswitch_up_jpg,
                                                             BinaryData::footswitch_up_jpgSize);
    const auto switchDown = juce::ImageCache::getFromMemory (BinaryData::footswitch_down_jpg,
                                                             BinaryData::footswitch_down_jpgSize);
    const auto noOverlay = juce::Colour (0x00000000);
    footSwitch.setImages (false, true, true,
                          switchUp, 1.0f, noOverlay,
                          switchOver, 1.0f, noOverlay,
                          switchDown, 1.0f, noOverlay,
                          0.0f);

    spriteKnobLookAndFeel.spriteSheet = juce::ImageFileFormat::loadFrom (BinaryData::knob_sprite_jpg,
                                                                         (size_t) BinaryData::knob_sprite_jpgSize);
    spriteKnobLookAndFeel.frameRows = 16;
    spriteKnobLookAndFeel.frameColumns = 8;

    knob.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    knobAttachment = std::make_unique<juce::AudioProcessorValueTreeState::SliderAttachment> (valueTreeState, "p1", knob);
    knob.setTextBoxStyle (juce::Slider::TextBoxBelow, false, 90, 0);
    addAndMakeVisible (knob);
    knob.addListener (this);
    knob.setLookAndFeel (&spriteKnobLookAndFeel);
    knob.setPopupDisplayEnabled (true, false, this, 0);
    // Replaces the attachment's text: the bubble shows a rate or a tempo division.
    knob.textFromValueFunction = [this] (double v) { return knobValueToText (v); };

    p0Param = dynamic_cast<FlexyParameter*> (valueTreeState.getParameter ("p0"));
    synchOnParam = dynamic_cast<FlexyParameter*> (valueTreeState.getParameter ("synchOn"));
    jassert (p0Param != nullptr && synchOnParam != nullptr);

    layoutScale = 5.0f;
    widthUnits = 88;
    heightUnits = 96;
    baseWidth = 440.0f;
    baseHeight = 480.0f;

    setSize (440, 480);

    addAndMakeVisible (syncToggle);
    syncToggle.setButtonText ("Sync");
    syncToggle.addListener (this);
    syncToggle.setToggleState (synchOnParam->value.load() > 0.5f, juce::dontSendNotification);

    setLookAndFeel (&mainLookAndFeel);

    addChildComponent (updateOverlay);
    runUpdateCheck();

    startTimer (syncFollowTimer, 500);

    topMenu = std::make_unique<TopMenuComponent> (valueTreeState, layoutScale);
    addAndMakeVisible (*topMenu);
    topMenu->setBounds (0, 0, (int) (layoutScale * (float) widthUnits), (int) (layoutScale * 12.0f));
}

Kelvo58AudioProcessorEditor::~Kelvo58AudioProcessorEditor()
{
    knob.setLookAndFeel (nullptr);
    setLookAndFeel (nullptr);
}

void Kelvo58AudioProcessorEditor::runUpdateCheck()
{
    const auto latestVersion = UpdateCheck::fetchLatestVersion (
        UpdateCheck::updateRequestUrl (UpdateCheck::serverAddress()));

    if (latestVersion != UpdateCheck::currentVersion)
    {
        updateOverlay.setVisible (true);
        startTimer (updateBarTimer, 10000);
    }
}

juce::Rectangle<int> Kelvo58AudioProcessorEditor::ledBounds() const
{
    const auto u = layoutScale;
    const auto H = (float) getHeight();
    return { (int) (40.0f * u), (int) (H - 39.0f * u), (int) (8.0f * u), (int) (8.0f * u) };
}

void Kelvo58AudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::black);

    if (backgroundImage.isValid())
        g.drawImage (backgroundImage, getLocalBounds().toFloat(), juce::RectanglePlacement::centred);

    // Lit while the network stage runs: the switch value is below one half.
    const auto running = p0Param->value.load() < 0.5f;
    const auto ledArea = ledBounds();

    if (running && led.isValid())
        g.drawImage (led, ledArea.toFloat(), juce::RectanglePlacement::centred);

    // What the LED's square shows from now on, so that timer 1 can tell when host automation
    // of the switch has made it wrong. A paint over part of it leaves that unknown.
    if (g.getClipBounds().contains (ledArea))
        ledShownLit = running;
    else if (g.clipRegionIntersects (ledArea))
        ledShownLit.reset();
}

void Kelvo58AudioProcessorEditor::resized()
{
    const auto u = layoutScale;

    // The panel is only ever scaled by a transform; any other size is undone here.
    setSize ((int) (u * (float) widthUnits), (int) (u * (float) heightUnits));

    const auto W = (float) getWidth();
    const auto H = (float) getHeight();
    const auto px = [] (float v) { return (int) v; };

    footSwitch.setBounds (px (37.0f * u), px (H - 31.0f * u), px (14.0f * u), px (14.0f * u));
    knob.setBounds (px (34.0f * u), px (H - 75.0f * u), px (20.0f * u), px (20.0f * u));
    updateOverlay.setBounds (0, px (H - 10.0f * u), px (W), px (10.0f * u));
    syncToggle.setBounds (px (74.0f * u), px (12.0f * u), px (25.0f * u), px (8.0f * u));
}

void Kelvo58AudioProcessorEditor::buttonClicked (juce::Button* button)
{
    FlexyParameter* parameter = nullptr;

    if (button == &footSwitch)
        parameter = p0Param;
    else if (button == &syncToggle)
        parameter = synchOnParam;

    if (parameter != nullptr)
    {
        // Flipped from the parameter's own value, not from the button's state.
        const auto newValue = parameter->value.load() > 0.5f ? 0.0f : 1.0f;
        parameter->setValue (newValue);
        parameter->sendValueChangedMessageToListeners (newValue);
    }

    repaint();
}

void Kelvo58AudioProcessorEditor::timerCallback (int timerID)
{
    if (timerID == syncFollowTimer)
    {
        // Follows host automation of the sync switch without writing it back.
        const auto synced = synchOnParam->value.load() > 0.5f;

        if (synced != syncToggle.getToggleState())
            syncToggle.setToggleState (synced, juce::dontSendNotification);

        // Host automation of the foot switch repaints nothing by itself.
        if (ledShownLit != (p0Param->value.load() < 0.5f))
            repaint (ledBounds());
    }
    else if (timerID == updateBarTimer)
    {
        updateOverlay.setVisible (false);
        stopTimer (updateBarTimer);
    }
}

juce::String Kelvo58AudioProcessorEditor::knobValueToText (double value) const
{
    if (synchOnParam->value.load() > 0.5f)
        return divisionLabels[juce::jlimit (0, 23, (int) (value * 23.0))];

    const auto rate = (float) (value * 6.84721088436 + 0.0481632653);
    return juce::String (rate, 2) + " Hz";
}
