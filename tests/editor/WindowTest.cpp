// The built VST3 hosted through the framework's VST3 hosting, with its editor opened in a real
// window (under Xvfb), resized and closed again and again while an audio thread runs.

#include "TestServices.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

#include <thread>

using namespace kelvortest;

namespace
{
// Without a window manager some property requests fail with BadAtom. Only standalone apps get
// the framework's tolerant X error handler, and Xlib's default one ends the process.
int ignoreXErrors (Display*, XErrorEvent*) { return 0; }

struct HostWindow : juce::DocumentWindow
{
    HostWindow() : juce::DocumentWindow ("host", juce::Colours::black, 0, true) {}
};

class RunningAudio
{
public:
    explicit RunningAudio (juce::AudioPluginInstance& p) : plugin (p)
    {
        thread = std::thread ([this] { run(); });
    }

    ~RunningAudio() { stop(); }

    void stop()
    {
        keepGoing = false;
        if (thread.joinable())
            thread.join();
    }

    int blocks() const { return blockCount.load(); }
    bool allFinite() const { return finite.load(); }

private:
    void run()
    {
        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        juce::Random random (58);

        while (keepGoing)
        {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < buffer.getNumSamples(); ++i)
                    buffer.setSample (c, i, random.nextFloat() * 0.5f - 0.25f);

            plugin.processBlock (buffer, midi);

            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < buffer.getNumSamples(); ++i)
                    if (! std::isfinite (buffer.getSample (c, i)))
                        finite = false;

            ++blockCount;
            std::this_thread::sleep_for (std::chrono::milliseconds (2));
        }
    }

    juce::AudioPluginInstance& plugin;
    std::thread thread;
    std::atomic<bool> keepGoing { true }, finite { true };
    std::atomic<int> blockCount { 0 };
};
} // namespace

TEST (EditorWindow, OpensResizesAndClosesRepeatedlyWhileAudioRuns)
{
    XSetErrorHandler (ignoreXErrors);

    // The hosted module asks the maker's reserved .example address, which never resolves,
    // so every opening shows the bar after a failed request without waiting for a time-out.
    TemporaryHome home;

    juce::ScopedJuceInitialiser_GUI juceGui;

    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile (types, KELVOR_VST3_BUNDLE);
    ASSERT_EQ (types.size(), 1);

    juce::String error;
    auto plugin = format.createInstanceFromDescription (*types[0], 44100.0, 512, error);
    ASSERT_NE (plugin, nullptr) << error;
    plugin->prepareToPlay (44100.0, 512);

    RunningAudio audio (*plugin);

    for (int round = 0; round < 12; ++round)
    {
        SCOPED_TRACE (round);
        std::unique_ptr<juce::AudioProcessorEditor> editor (plugin->createEditorIfNeeded());
        ASSERT_NE (editor, nullptr);

        {
            HostWindow window;
            window.setContentNonOwned (editor.get(), true);
            window.setVisible (true);
            pumpMessages (150);

            if (round == 0)
            {
                // A fresh install opens at the smallest size.
                EXPECT_EQ (editor->getWidth(), 264);
                EXPECT_EQ (editor->getHeight(), 288);
            }

            // The plug-in's constraints hold whatever size the host asks for.
            editor->setSize (1000, 1000);
            pumpMessages (50);
            EXPECT_EQ (editor->getWidth(), 440);
            EXPECT_EQ (editor->getHeight(), 480);

            editor->setSize (100, 100);
            pumpMessages (50);
            EXPECT_EQ (editor->getWidth(), 264);
            EXPECT_EQ (editor->getHeight(), 288);

            editor->setSize (330 + (round % 3) * 22, 360 + (round % 3) * 24);
            pumpMessages (50);
            EXPECT_EQ (editor->getWidth(), 330 + (round % 3) * 22);
            EXPECT_EQ (editor->getHeight(), 360 + (round % 3) * 24);

            window.clearContentComponent();
        }

        editor.reset();
        pumpMessages (20);
    }

    // The last size comes back at the next opening.
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (plugin->createEditorIfNeeded());
        HostWindow window;
        window.setContentNonOwned (editor.get(), true);
        window.setVisible (true);
        pumpMessages (150);
        EXPECT_EQ (editor->getWidth(), 374);
        EXPECT_EQ (editor->getHeight(), 408);
        window.clearContentComponent();
    }

    audio.stop();
    EXPECT_GT (audio.blocks(), 50);
    EXPECT_TRUE (audio.allFinite());

    plugin->releaseResources();
    plugin.reset();

    // Destroying the instance writes the size it last had into the settings file.
    const auto xml = juce::parseXML (home.settingsFile());
    ASSERT_NE (xml, nullptr);
    EXPECT_TRUE (home.settingsFile().loadFileAsString().contains ("\"Width\""));
}
