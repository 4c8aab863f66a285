#pragma once

#include "PluginEditor.h"

/** What the host sees: owns the panel, keeps the window at the panel's aspect ratio between
    60 % and 100 % of its size, and remembers the size the user chose. */
class EditorHolderWindow : public juce::AudioProcessorEditor
{
public:
    explicit EditorHolderWindow (Kelvo58AudioProcessor&);
    ~EditorHolderWindow() override;

    void resized() override;

    /** A stored size as a whole number of pixels: cut toward zero, with values that are not
        finite, negative or beyond any screen brought into range first. */
    static int storedSizeToPixels (float stored) noexcept;

    Kelvo58AudioProcessor* audioProcessor;
    std::unique_ptr<Kelvo58AudioProcessorEditor> mainEditor;

    static constexpr int minimumWidth = 264;
    static constexpr int minimumHeight = 288;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EditorHolderWindow)
};
