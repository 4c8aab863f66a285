#include "UpdateOverlay.h"
#include "LookAndFeels.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <netdb.h>

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

namespace
{
    std::atomic<int> replacedTimeLimit { 0 };

    /** Deepest nesting of arrays and objects, counted as the parser will meet them: brackets
        inside quoted strings (either quote, with backslash escapes) don't count. */
    int nestingDepth (const juce::String& text)
    {
        int depth = 0, deepest = 0;
        juce::juce_wchar quote = 0;

        for (auto p = text.getCharPointer(); ! p.isEmpty();)
        {
            const auto c = p.getAndAdvance();

            if (quote != 0)
            {
                if (c == '\\')
                {
                    if (p.isEmpty())
                        break;
                    ++p;
                }
                else if (c == quote)
                {
                    quote = 0;
                }
            }
            else if (c == '"' || c == '\'')
            {
                quote = c;
            }
            else if (c == '[' || c == '{')
            {
                deepest = juce::jmax (deepest, ++depth);
            }
            else if (c == ']' || c == '}')
            {
                depth = juce::jmax (0, depth - 1);
            }
        }

        return deepest;
    }
}

int timeLimitMs()
{
    const auto replaced = replacedTimeLimit.load();
    return replaced > 0 ? replaced : defaultTimeLimitMs;
}

void setTimeLimit (int milliseconds)
{
    replacedTimeLimit = juce::jmax (0, milliseconds);
}

int parseLatestVersion (const juce::String& replyText)
{
    // The parser recurses once per level and a few tens of thousands of levels overflow the
    // host's stack, so nothing deeper than a real answer reaches it.
    if (nestingDepth (replyText) > maxReplyNesting)
        return -1;

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

namespace
{
    /** The host part of a web address; an IPv6 literal without its brackets. */
    juce::String hostName (const juce::String& address)
    {
        auto netLocation = address.contains ("://") ? address.fromFirstOccurrenceOf ("://", false, false) : address;
        netLocation = netLocation.upToFirstOccurrenceOf ("/", false, false)
                                 .upToFirstOccurrenceOf ("?", false, false)
                                 .upToFirstOccurrenceOf ("#", false, false)
                                 .fromLastOccurrenceOf ("@", false, false);

        if (netLocation.startsWithChar ('['))
            return netLocation.substring (1).upToFirstOccurrenceOf ("]", false, false);

        return netLocation.upToFirstOccurrenceOf (":", false, false);
    }

    /** One asynchronous name look-up, with everything the resolver reads and writes while it runs. */
    struct NameLookup
    {
        explicit NameLookup (const juce::String& hostToFind) : host (hostToFind.toStdString())
        {
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            request.ar_name = host.c_str();
            request.ar_request = &hints;
        }

        ~NameLookup()
        {
            if (request.ar_result != nullptr)
                freeaddrinfo (request.ar_result);
        }

        /** True once the resolver is done with the request: finished and off its queue, or taken
            off the queue before it started. Only then may the request be freed. */
        bool resolverHasLetGo() { return gai_cancel (&request) != EAI_NOTCANCELED; }

        const std::string host;
        addrinfo hints {};
        gaicb request {};

        JUCE_DECLARE_NON_COPYABLE (NameLookup)
    };

    // Look-ups still running when their check gave up on them. The resolver's thread goes on
    // writing into them and cannot be stopped, so they are kept until it has let go. Each one
    // holds a resolver thread, so a dead name server gets no more than a few; the list is never
    // destroyed, since at exit its look-ups may still be running.
    constexpr size_t maxAbandonedLookups = 8;
    std::mutex lookupLock;

    std::vector<std::unique_ptr<NameLookup>>& abandonedLookups()
    {
        static auto* lookups = new std::vector<std::unique_ptr<NameLookup>>();
        return *lookups;
    }

    /** Looks the host up before the request is sent, waiting no later than the deadline. libcurl
        would wait for its own look-up to end whatever its time-out, and the system resolver
        gives each name server that never answers 10 s. True when the name resolved in time. */
    bool hostResolvesBefore (const juce::String& host, double deadline)
    {
        {
            const std::lock_guard<std::mutex> lock (lookupLock);
            auto& abandoned = abandonedLookups();

            abandoned.erase (std::remove_if (abandoned.begin(), abandoned.end(),
                                             [] (const auto& l) { return l->resolverHasLetGo(); }),
                             abandoned.end());

            if (abandoned.size() >= maxAbandonedLookups)
                return false;
        }

        auto lookup = std::make_unique<NameLookup> (host);
        gaicb* list[] = { &lookup->request };
        auto status = getaddrinfo_a (GAI_NOWAIT, list, 1, nullptr) == 0 ? EAI_INPROGRESS : EAI_SYSTEM;

        while (status == EAI_INPROGRESS)
        {
            status = gai_error (&lookup->request);
            const auto left = deadline - juce::Time::getMillisecondCounterHiRes();

            if (status != EAI_INPROGRESS || left <= 0.0)
                break;

            const auto wait = timespec { (time_t) (left / 1000.0), (long) (std::fmod (left, 1000.0) * 1.0e6) };
            gai_suspend (list, 1, &wait);   // returns when done, at the time-out or on a signal
        }

        // A failed start may still have queued the request, so that case is checked too.
        if (! lookup->resolverHasLetGo())
        {
            const std::lock_guard<std::mutex> lock (lookupLock);
            abandonedLookups().push_back (std::move (lookup));
        }

        return status == 0;
    }
}

int fetchLatestVersion (const juce::String& requestAddress)
{
    const auto start = juce::Time::getMillisecondCounterHiRes();
    const auto deadline = start + timeLimitMs();

    // Without an answer from the name server in time, the check fails as any failed request does.
    if (! hostResolvesBefore (hostName (requestAddress), deadline))
        return -1;

    const auto lookedUp = juce::Time::getMillisecondCounterHiRes();

    // The library gives its connection time-out, in whole seconds, twice: once to connecting
    // (look-up, TCP and TLS) and once to a reply that stays below 100 bytes a second. Half the
    // time left each keeps a slow connection followed by a silent server within the limit.
    // Both start again at each redirect.
    const auto phaseSeconds = juce::jmax (1, (int) (deadline - lookedUp) / 2000);

    // libcurl looks the name up again, and waits for that to end whatever its time-out. A name
    // server as slow again would fail the request anyway, after carrying it past the limit.
    if (lookedUp - start >= phaseSeconds * 1000.0)
        return -1;

    const auto options = juce::URL::InputStreamOptions (juce::URL::ParameterHandling::inAddress)
                             .withConnectionTimeoutMs (phaseSeconds * 1000);
    const auto stream = juce::URL (requestAddress).createInputStream (options);

    if (stream == nullptr)
        return -1;

    // A server trickling faster than 100 bytes a second never trips the library's time-out,
    // so the reply is read in small pieces against the deadline, and never beyond the cap.
    // A read still waits for the next byte: a server that sends a burst and then pauses for a
    // little less than the library needs to notice can hold the last one past the deadline.
    juce::MemoryBlock reply;
    char piece[16];

    while (reply.getSize() < (size_t) maxReplyBytes && juce::Time::getMillisecondCounterHiRes() < deadline)
    {
        const auto wanted = juce::jmin ((int) sizeof (piece), maxReplyBytes - (int) reply.getSize());
        const auto got = stream->read (piece, wanted);

        if (got <= 0)
            break;

        reply.append (piece, (size_t) got);
    }

    return parseLatestVersion (juce::String::createStringFromData (reply.getData(), (int) reply.getSize()));
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
