#include "EditorHolderWindow.h"

#include "PluginProcessor.h"

#include <cmath>

int EditorHolderWindow::storedSizeToPixels (float stored) noexcept
{
    // Only a hand-edited settings file holds such values; anything beyond the panel's size
    // ends at the size limits anyway, so a generous bound keeps the int conversion defined.
    if (! std::isfinite (stored) || stored <= 0.0f)
        return 0;

    return (int) juce::jmin (stored, 100000.0f);
}

EditorHolderWindow::EditorHolderWindow (Kelvo58AudioProcessor& p)
    : juce::AudioProcessorEditor (p),
      audioProcessor (&p)
{
    mainEditor = std::make_unique<Kelvo58AudioProcessorEditor> (p, p.valueTreeState);

    setSize (storedSizeToPixels (p.editorWidth.load()), storedSizeToPixels (p.editorHeight.load()));

    mainEditor->setBounds (0, 0, (int) mainEditor->baseWidth, (int) mainEditor->baseHeight);

    const auto ratio = (mainEditor->layoutScale * (float) mainEditor->widthUnits)
                     / (mainEditor->layoutScale * (float) mainEditor->heightUnits);
    getConstrainer()->setFixedAspectRatio ((double) ratio);

    setResizable (true, true);
    setResizeLimits (minimumWidth, minimumHeight, (int) mainEditor->baseWidth, (int) mainEditor->baseHeight);

    // The resize corner is always on top, so it stays in front of the panel.
    addAndMakeVisible (*mainEditor);
}

EditorHolderWindow::~EditorHolderWindow()
{
    mainEditor.reset();
}

void EditorHolderWindow::resized()
{
    if (mainEditor == nullptr)
        return;

    const auto scale = (float) getWidth() / mainEditor->baseWidth;
    mainEditor->setTransform (juce::AffineTransform::scale (scale));

    audioProcessor->editorWidth = (float) getWidth();
    audioProcessor->editorHeight = (float) getHeight();

    if (auto* settings = audioProcessor->userSettings())
    {
        settings->setValue ("Width", (double) audioProcessor->editorWidth.load());
        settings->setValue ("Height", (double) audioProcessor->editorHeight.load());
    }
}
