#include "UpdateOverlay.h"
#include "LookAndFeels.h"

#ifndef KELVOR_MAKER_URL
 #define KELVOR_MAKER_URL "https://quorvanta.example"
#endif

namespace UpdateCheck
{
namespace
{
    constexpr const char* updateKey = "ydmvbhhb3p2uc76ouaae1znbd";
}

namespace
{
    juce::SpinLock serverLock;
    juce::String& replacedServer()
    {
        static juce::String address;
        return address;
    }
}

juce::String serverAddress()
{
    const juce::SpinLock::ScopedLockType lock (serverLock);
    return replacedServer().isNotEmpty() ? replacedServer() : makerUrl();
}

void setServerAddress (const juce::String& address)
{
    const juce::SpinLock::ScopedLockType lock (serverLock);
    replacedServer() = address;
}

juce::String makerUrl()
{
    return KELVOR_MAKER_URL;
}

juce::String siteName (const juce::String& webAddress)
{
    return juce::URL (webAddress).getDomain();
}

juce::String updateRequestUrl (const juce::String& serverAddress)
{
    return serverAddress.trimCharactersAtEnd ("/")
         + "/api.php?layout=blank&controller=qapi&action=check_for_update&plugin_id=5&key="
         + updateKey;
}

int parseLatestVersion (const juce::String& replyText)
{
    juce::var reply;

    // JSON::parse reports syntax errors through its result, never by throwing; the guard only
    // keeps anything unexpected from escaping into the editor's constructor.
    try
    {
        if (juce::JSON::parse (replyText, reply).failed())
            return -1;
    }
    catch (...)
    {
        return -1;
    }

    return (int) reply.getProperty ("last_version", -1);
}

int fetchLatestVersion (const juce::String& requestAddress)
{
    const auto options = juce::URL::InputStreamOptions (juce::URL::ParameterHandling::inAddress);
    const auto stream = juce::URL (requestAddress).createInputStream (options);

    if (stream == nullptr)
        return -1;

    return parseLatestVersion (stream->readEntireStreamAsString());
}
} // namespace UpdateCheck

//==============================================================================
UpdateOverlay::UpdateOverlay()
    : updateLink ("New update available on " + UpdateCheck::siteName (UpdateCheck::makerUrl()) + "!",
                  juce::URL (UpdateCheck::makerUrl()))
{
    updateLink.setFont (getEurostileBold().withHeight (12.0f), true, juce::Justification::horizontallyCentred);
    updateLink.setColour (juce::HyperlinkButton::textColourId, juce::Colour (0xffc8c8c8));
    addAndMakeVisible (updateLink);
}

void UpdateOverlay::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0x80000000));
}

void UpdateOverlay::resized()
{
    const auto w = (double) getWidth();
    const auto h = (double) getHeight();
    updateLink.setBounds ((int) (w * 0.2), (int) (h * 0.2), (int) (w * 0.6), (int) (h * 0.6));

    // The link draws its text at 70 % of its height. A long site name would then end in an
    // ellipsis and hide where the update is, so such a text gets a smaller fixed height instead.
    const auto naturalHeight = (float) updateLink.getHeight() * 0.7f;
    const auto available = (float) (updateLink.getWidth() - 2);
    const auto textWidth = getEurostileBold().withHeight (naturalHeight)
                                             .getStringWidthFloat (updateLink.getButtonText());

    if (naturalHeight > 0.0f && textWidth > available && available > 0.0f)
        updateLink.setFont (getEurostileBold().withHeight (naturalHeight * 0.97f * available / textWidth),
                            false, juce::Justification::horizontallyCentred);
    else
        updateLink.setFont (getEurostileBold().withHeight (12.0f), true, juce::Justification::horizontallyCentred);
}
