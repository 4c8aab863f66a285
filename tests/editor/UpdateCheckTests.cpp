// The update request and how the bar reacts to each kind of reply from a loopback server.

#include "EditorTestSupport.h"

#include <cstring>

#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace kelvortest;

namespace
{
bool barShownFor (const juce::String& replyBody)
{
    LoopbackServer server (replyBody);
    EditorRig rig (server.address());
    rig.openEditor();
    EXPECT_EQ (server.requestCount(), 1) << replyBody;
    auto& panel = rig.panel();
    const auto shown = panel.updateOverlay.isVisible();
    EXPECT_EQ (panel.isTimerRunning (Kelvo58AudioProcessorEditor::updateBarTimer), shown) << replyBody;
    return shown;
}
} // namespace

TEST (UpdateCheck, RequestCarriesTheFixedQueryInOrder)
{
    EXPECT_EQ (UpdateCheck::updateRequestUrl ("https://quorvanta.example"),
               "https://quorvanta.example/api.php?layout=blank&controller=qapi&action=check_for_update"
               "&plugin_id=5&key=ydmvbhhb3p2uc76ouaae1znbd");

    LoopbackServer server (R"({"last_version": 1})");
    EXPECT_EQ (UpdateCheck::fetchLatestVersion (UpdateCheck::updateRequestUrl (server.address())), 1);
    EXPECT_EQ (server.lastRequestLine(),
               "GET /api.php?layout=blank&controller=qapi&action=check_for_update&plugin_id=5"
               "&key=ydmvbhhb3p2uc76ouaae1znbd HTTP/1.1");
}

TEST (UpdateCheck, LinksNameTheMakersSite)
{
    EXPECT_EQ (UpdateCheck::makerUrl(), KELVOR_MAKER_URL);
    EXPECT_EQ (UpdateCheck::siteName ("https://quorvanta.example"), "quorvanta.example");

    UpdateOverlay bar;
    EXPECT_EQ (bar.updateLink.getButtonText(),
               "New update available on " + UpdateCheck::siteName (KELVOR_MAKER_URL) + "!");
    EXPECT_EQ (bar.updateLink.getURL().toString (false), KELVOR_MAKER_URL);
    EXPECT_EQ (bar.updateLink.findColour (juce::HyperlinkButton::textColourId), juce::Colour (0xffc8c8c8));
}

TEST (UpdateCheck, RepliesAreReadAsTheLatestVersion)
{
    EXPECT_EQ (UpdateCheck::parseLatestVersion (R"({"last_version": 1})"), 1);
    EXPECT_EQ (UpdateCheck::parseLatestVersion (R"(  {"name": "x", "last_version": 2})"), 2);
    EXPECT_EQ (UpdateCheck::parseLatestVersion (R"({"last_version": "1"})"), 1);
    EXPECT_EQ (UpdateCheck::parseLatestVersion ("{}"), -1);
    EXPECT_EQ (UpdateCheck::parseLatestVersion ("[1]"), -1);
    EXPECT_EQ (UpdateCheck::parseLatestVersion ("<html>Not Found</html>"), -1);
    EXPECT_EQ (UpdateCheck::parseLatestVersion (R"({"last_version": )"), -1);
    EXPECT_EQ (UpdateCheck::parseLatestVersion (""), -1);
}

TEST (UpdateCheck, RepliesNestingDeeperThanAnAnswerAreRefused)
{
    const auto latest = [] (const juce::String& text) { return UpdateCheck::parseLatestVersion (text); };
    const auto levels = [] (int n) { return juce::String::repeatedString ("[", n) + juce::String::repeatedString ("]", n); };

    EXPECT_EQ (latest (juce::String::repeatedString ("[", 60000)), -1);   // would overflow the stack
    EXPECT_EQ (latest (R"({"last_version": 2, "x": )" + levels (UpdateCheck::maxReplyNesting - 1) + "}"), 2);
    EXPECT_EQ (latest (R"({"last_version": 2, "x": )" + levels (UpdateCheck::maxReplyNesting) + "}"), -1);

    // Brackets in strings are text: either quote, an escaped quote inside, an escaped backslash last.
    const auto text = juce::String::repeatedString ("[{", 100);
    EXPECT_EQ (latest (R"({"a": ')" + text + R"(', "b": "\")" + text + R"(", "last_version": 2})"), 2);
    EXPECT_EQ (latest (R"({"a": "\\", "last_version": 2, "b": ")" + text + R"("})"), 2);
}

TEST (UpdateCheck, BarShowsForEveryAnswerButTheCurrentVersion)
{
    EXPECT_FALSE (barShownFor (R"({"last_version": 1})"));
    EXPECT_FALSE (barShownFor (R"({"last_version": "1"})"));
    EXPECT_TRUE (barShownFor (R"({"last_version": 2})"));
    EXPECT_TRUE (barShownFor (R"({"last_version": 0})"));
    EXPECT_TRUE (barShownFor ("{}"));
    EXPECT_TRUE (barShownFor ("[1]"));
    EXPECT_TRUE (barShownFor ("a newer version is out"));
    EXPECT_TRUE (barShownFor (""));
}

TEST (UpdateCheck, UnreachableServerShowsTheBarPromptly)
{
    const auto start = juce::Time::getMillisecondCounter();
    EditorRig rig (LoopbackServer::closedAddress());
    rig.openEditor();
    EXPECT_TRUE (rig.panel().updateOverlay.isVisible());
    EXPECT_LT (juce::Time::getMillisecondCounter() - start, 5000u);
}

TEST (UpdateCheck, BarHidesForGoodTenSecondsLater)
{
    LoopbackServer server (R"({"last_version": 2})");
    EditorRig rig (server.address());
    rig.openEditor();
    auto& panel = rig.panel();

    ASSERT_TRUE (panel.updateOverlay.isVisible());
    EXPECT_EQ (panel.getTimerInterval (Kelvo58AudioProcessorEditor::updateBarTimer), 10000);

    pumpMessages (9000);
    EXPECT_TRUE (panel.updateOverlay.isVisible());
    pumpMessages (1500);
    EXPECT_FALSE (panel.updateOverlay.isVisible());
    EXPECT_FALSE (panel.isTimerRunning (Kelvo58AudioProcessorEditor::updateBarTimer));
    EXPECT_TRUE (panel.isTimerRunning (Kelvo58AudioProcessorEditor::syncFollowTimer));
}

//==============================================================================
// Servers that fail the way bad networks and broken servers do: the editor still opens within
// the request's time limit, with the bar shown, after one request.
namespace
{
struct MisbehavingServers : ::testing::Test
{
    static constexpr int limitMs = 2000;

    void SetUp() override { UpdateCheck::setTimeLimit (limitMs); }
    void TearDown() override { UpdateCheck::setTimeLimit (0); }

    static double openAgainst (const juce::String& address)
    {
        EditorRig rig (address);
        const auto start = juce::Time::getMillisecondCounterHiRes();
        rig.openEditor();
        EXPECT_TRUE (rig.panel().updateOverlay.isVisible()) << address;
        return juce::Time::getMillisecondCounterHiRes() - start;
    }
};
} // namespace

TEST_F (MisbehavingServers, EditorOpensWithinTheLimitWithTheBarShown)
{
    const auto bound = limitMs + 500.0 + openAgainst (LoopbackServer::closedAddress());   // + the editor's own work
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 67108864\r\n\r\n";
    struct Case { const char* name; std::string head, piece; int count, intervalMs; };

    for (const auto& c : { Case { "accepted, silent", {}, {}, 0, 0 },
                           Case { "headers, then nothing", head, {}, 0, 0 },
                           Case { "endless trickle at 200 B/s", head, " ", 1 << 30, 5 },
                           Case { "64 MB", head + "{\"pad\": \"", std::string (65536, 'x'), 1024, 0 } })
    {
        MisbehavingServer server (c.head, c.piece, c.count, c.intervalMs, limitMs + 3000);
        EXPECT_LT (openAgainst (server.address()), bound) << c.name;
        EXPECT_EQ (server.connectionCount(), 1) << c.name;
        EXPECT_LT (server.bytesSent(), 16 << 20) << c.name;   // a few KB read, the rest left in the socket
    }

    LoopbackServer deep (juce::String::repeatedString ("[", 100000));
    EXPECT_LT (openAgainst (deep.address()), bound);
    EXPECT_EQ (deep.requestCount(), 1);
}

//==============================================================================
// Name servers on 127.0.0.1. Port 53 and a resolv.conf naming 127.0.0.1 need a private network
// namespace, so the test runs itself again inside one; it skips where none can be made.
namespace
{
bool bringLoopbackUp()
{
    const auto fd = ::socket (AF_INET, SOCK_DGRAM, 0);
    ifreq loopback {};
    std::strncpy (loopback.ifr_name, "lo", IFNAMSIZ - 1);
    auto up = fd >= 0 && ::ioctl (fd, SIOCGIFFLAGS, &loopback) == 0;
    loopback.ifr_flags |= IFF_UP;
    up = up && ::ioctl (fd, SIOCSIFFLAGS, &loopback) == 0;

    if (fd >= 0)
        ::close (fd);

    return up;
}

void checkAgainstNameServers()
{
    ASSERT_TRUE (bringLoopbackUp());
    LoopbackServer server (R"({"last_version": 1})");
    const auto request = UpdateCheck::updateRequestUrl ("http://updates.quorvanta.example.:" + juce::String (server.port()));
    const auto timedCheck = [&request] (int limitMs, int expected)
    {
        UpdateCheck::setTimeLimit (limitMs);
        const auto start = juce::Time::getMillisecondCounterHiRes();
        EXPECT_EQ (UpdateCheck::fetchLatestVersion (request), expected);
        return juce::Time::getMillisecondCounterHiRes() - start;
    };

    // A name that resolves goes on to the request.
    {
        NameServer prompt (0, 3000);
        ASSERT_TRUE (prompt.isListening());
        EXPECT_LT (timedCheck (2000, 1), 1000.0);
        EXPECT_EQ (server.requestCount(), 1);
    }

    // Answered too slowly for the library's own look-up to end within its time-out.
    {
        NameServer slow (1200, 5000);
        EXPECT_LT (timedCheck (2000, -1), 1600.0);
    }

    // The resolver would wait 4 s for an answer, and libcurl with it; the check ends at its limit.
    NameServer silent (-1, 12000);
    ASSERT_TRUE (silent.isListening());
    const auto blocked = timedCheck (1000, -1);
    EXPECT_GT (blocked, 900.0);
    EXPECT_LT (blocked, 1400.0);
    EXPECT_GT (silent.queryCount(), 0);

    // Each look-up left running holds a resolver thread: once eight are, a check answers at once
    // without asking.
    for (int i = 1; i < 8; ++i)
        timedCheck (200, -1);

    const auto asked = silent.queryCount();
    EXPECT_LT (timedCheck (200, -1), 50.0);
    EXPECT_EQ (silent.queryCount(), asked);

    // When the resolver gives up on them, they are freed and checks ask again.
    for (const auto end = juce::Time::getMillisecondCounter() + 5000;
         silent.queryCount() == asked && juce::Time::getMillisecondCounter() < end;)
    {
        juce::Thread::sleep (100);
        timedCheck (200, -1);
    }

    EXPECT_GT (silent.queryCount(), asked);
    UpdateCheck::setTimeLimit (0);
}
} // namespace

TEST (UpdateCheck, NameServersThatAnswerLateOrNeverEndTheCheckAtTheLimit)
{
    if (std::getenv ("KELVOR_PRIVATE_NETWORK") != nullptr)
        return checkAgainstNameServers();

    TemporaryHome scratch;   // also a private HOME for the run inside
    const auto resolvConf = scratch.folder.getChildFile ("resolv.conf");
    const auto nsswitchConf = scratch.folder.getChildFile ("nsswitch.conf");
    ASSERT_TRUE (resolvConf.replaceWithText ("nameserver 127.0.0.1\noptions timeout:4 attempts:1\n"));
    ASSERT_TRUE (nsswitchConf.replaceWithText ("hosts: files dns\n"));

    const auto run = [&] (const juce::String& script, int timeoutMs, juce::String& output)
    {
        juce::ChildProcess child;

        if (! child.start (juce::StringArray { "unshare", "-rnm", "sh", "-c", script, "sh",
                                               resolvConf.getFullPathName(), nsswitchConf.getFullPathName(),
                                               juce::File::getSpecialLocation (juce::File::currentExecutableFile)
                                                   .getFullPathName() }))
            return -1;

        const auto finished = child.waitForProcessToFinish (timeoutMs);

        if (! finished)
            child.kill();

        output = child.readAllProcessOutput();
        return finished ? (int) child.getExitCode() : -1;
    };

    const juce::String mounts = "mount --bind \"$1\" /etc/resolv.conf && "
                                "{ [ ! -e /etc/nsswitch.conf ] || mount --bind \"$2\" /etc/nsswitch.conf; }";
    juce::String output;

    if (run (mounts, 10000, output) != 0)
        GTEST_SKIP() << "no private network namespace here: " << output;

    EXPECT_EQ (run (mounts + " && KELVOR_PRIVATE_NETWORK=1 exec \"$3\" --gtest_filter="
                             "UpdateCheck.NameServersThatAnswerLateOrNeverEndTheCheckAtTheLimit", 30000, output), 0) << output;
    EXPECT_TRUE (output.contains ("[  PASSED  ] 1 test")) << output;
}
