#pragma once

// An editor on a real processor, its update check pointed at the loopback interface.

#include "EditorHolderWindow.h"
#include "PluginProcessor.h"

#include "TestServices.h"

namespace kelvortest
{

/** A processor and its editor in a private HOME, with the update check sent to a loopback
    address so no test reaches the internet or waits for a time-out. */
struct EditorRig
{
    explicit EditorRig (const juce::String& updateServer = LoopbackServer::closedAddress(),
                        juce::StringPairArray storedSettings = {})
    {
        UpdateCheck::setServerAddress (updateServer);
        home.writeSettings (storedSettings);
        processor = std::make_unique<Kelvo58AudioProcessor>();
    }

    ~EditorRig()
    {
        holder.reset();
        processor.reset();
        UpdateCheck::setServerAddress ({});
    }

    EditorHolderWindow& openEditor()
    {
        holder = std::make_unique<EditorHolderWindow> (*processor);
        return *holder;
    }

    Kelvo58AudioProcessorEditor& panel() { return *holder->mainEditor; }

    TemporaryHome home;
    std::unique_ptr<Kelvo58AudioProcessor> processor;
    std::unique_ptr<EditorHolderWindow> holder;
};

} // namespace kelvortest
