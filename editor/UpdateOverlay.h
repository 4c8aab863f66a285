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

    /** The longest the request holds up the editor's opening: looking the server's name up,
        connecting, the TLS handshake, waiting for the reply and reading it, together. A name
        server that never answers ends the check at this limit. Three things can take longer,
        out of the plug-in's reach: a name server that stops answering between the check's
        look-up and the library's own, a chain of slow redirects, and a server that pauses
        between bursts. */
    constexpr int defaultTimeLimitMs = 5000;

    /** The limit that requests sent from now on keep to: defaultTimeLimitMs unless replaced
        (tests use a short one). Limits below 2 s cannot be kept; 0 restores the default. */
    int timeLimitMs();
    void setTimeLimit (int milliseconds);

    /** The most of a reply that is read. A real answer is a few dozen bytes. */
    constexpr int maxReplyBytes = 4096;

    /** Deepest nesting of arrays and objects a reply may have; a real answer has one level. */
    constexpr int maxReplyNesting = 32;

    /** The "last_version" of a reply, or -1 when the reply is not a JSON object holding one
        or nests deeper than maxReplyNesting. */
    int parseLatestVersion (const juce::String& replyText);

    /** Sends the request and waits for the reply; -1 when there is none or it can't be read.
        Blocks the calling thread for at most timeLimitMs() (see defaultTimeLimitMs) and reads
        at most maxReplyBytes. */
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
