#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The maker's web site and the update request sent to it. */
namespace UpdateCheck
{
    /** The maker's web address fixed at build time, e.g. "https://quorvanta.example". */
    juce::String makerUrl();

    /** The site name shown to users: the host part of a web address ("quorvanta.example"). */
    juce::String siteName (const juce::String& webAddress);

    /** The server that editors opened in this process ask: the maker's address unless
        replaced (tests point it at a server on the loopback interface). */
    juce::String serverAddress();
    void setServerAddress (const juce::String& address);

    /** Full request address for a server base address such as makerUrl(). */
    juce::String updateRequestUrl (const juce::String& serverAddress);

    /** The "last_version" of a reply, or -1 when the reply is not a JSON object holding one. */
    int parseLatestVersion (const juce::String& replyText);

    /** Sends the request and waits for the reply; -1 when there is none or it can't be read.
        Blocks the calling thread for up to the library's 60 s time-out. */
    int fetchLatestVersion (const juce::String& requestAddress);

    /** The bar is shown for every answer except the current version. */
    constexpr int currentVersion = 1;
}

/** Translucent bar at the bottom of the panel carrying the update link. */
class UpdateOverlay : public juce::Component
{
public:
    UpdateOverlay();
    ~UpdateOverlay() override = default;

    void paint (juce::Graphics&) override;
    void resized() override;

    juce::HyperlinkButton updateLink;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateOverlay)
};
