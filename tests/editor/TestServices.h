#pragma once

// Test services that need no plug-in code: a private HOME, a tiny HTTP server on the
// loopback interface and a way to let the message loop run.

#include <gtest/gtest.h>

#include <juce_events/juce_events.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sys/socket.h>

namespace juce
{
// Defined by the framework's Linux message loop; not in its public headers.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace kelvortest
{

/** Points HOME (and with it the per-user settings) at a fresh temporary folder. */
class TemporaryHome
{
public:
    TemporaryHome()
    {
        char pattern[] = "/tmp/kelvor-editor-home-XXXXXX";
        folder = juce::File (juce::String (mkdtemp (pattern)));
        previousHome = juce::SystemStats::getEnvironmentVariable ("HOME", {});
        setenv ("HOME", folder.getFullPathName().toRawUTF8(), 1);
        unsetenv ("XDG_CONFIG_HOME");
    }

    ~TemporaryHome()
    {
        folder.deleteRecursively();
        setenv ("HOME", previousHome.toRawUTF8(), 1);
    }

    juce::File settingsFile() const
    {
        return folder.getChildFile (".config/Kelvor58/Kelvor58.settings");
    }

    /** Writes a settings file as an earlier run (or a hand edit) would have left it. */
    void writeSettings (const juce::StringPairArray& values) const
    {
        juce::XmlElement root ("PROPERTIES");

        for (const auto& key : values.getAllKeys())
        {
            auto* e = root.createNewChildElement ("VALUE");
            e->setAttribute ("name", key);
            e->setAttribute ("val", values[key]);
        }

        settingsFile().getParentDirectory().createDirectory();
        ASSERT_TRUE (root.writeTo (settingsFile()));
    }

    juce::File folder;

private:
    juce::String previousHome;
};

/** Answers every request with one fixed body, on 127.0.0.1, from its own thread. */
class LoopbackServer : private juce::Thread
{
public:
    explicit LoopbackServer (juce::String replyBody)
        : juce::Thread ("loopback http"), body (std::move (replyBody))
    {
        if (listener.createListener (0, "127.0.0.1"))
            startThread();
    }

    ~LoopbackServer() override
    {
        signalThreadShouldExit();
        listener.close();
        stopThread (4000);
    }

    int port() const { return listener.getBoundPort(); }
    juce::String address() const { return "http://127.0.0.1:" + juce::String (port()); }
    int requestCount() const { return requests.load(); }

    juce::String lastRequestLine() const
    {
        const std::lock_guard<std::mutex> lock (requestLock);
        return lastLine;
    }

    /** An address on which nothing listens: the connection is refused at once. */
    static juce::String closedAddress()
    {
        juce::StreamingSocket probe;
        probe.createListener (0, "127.0.0.1");
        const auto freePort = probe.getBoundPort();
        probe.close();
        return "http://127.0.0.1:" + juce::String (freePort);
    }

private:
    void run() override
    {
        while (! threadShouldExit())
        {
            std::unique_ptr<juce::StreamingSocket> client (listener.waitForNextConnection());

            if (client == nullptr)
                return;

            juce::String request;
            char buffer[2048];

            while (! request.contains ("\r\n\r\n") && client->waitUntilReady (true, 2000) == 1)
            {
                const auto n = client->read (buffer, (int) sizeof (buffer), false);

                if (n <= 0)
                    break;

                request += juce::String::fromUTF8 (buffer, n);
            }

            {
                const std::lock_guard<std::mutex> lock (requestLock);
                lastLine = request.upToFirstOccurrenceOf ("\r\n", false, false);
            }
            ++requests;

            const auto bytes = body.toStdString();
            const auto reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                             + std::to_string (bytes.size()) + "\r\nConnection: close\r\n\r\n" + bytes;
            client->write (reply.data(), (int) reply.size());
            client->close();
        }
    }

    juce::StreamingSocket listener;
    juce::String body;
    std::atomic<int> requests { 0 };
    mutable std::mutex requestLock;
    juce::String lastLine;
};

/** A server on 127.0.0.1 that answers the way broken servers and bad networks do. It takes one
    connection, sends `head`, then `piece` up to `count` times, one every intervalMs, then holds
    the connection open and silent; it stops by itself lifetimeMs after it started. */
class MisbehavingServer : private juce::Thread
{
public:
    MisbehavingServer (std::string headToSend, std::string pieceToSend, int count, int intervalMs, int lifetimeMs)
        : juce::Thread ("misbehaving http"), head (std::move (headToSend)), piece (std::move (pieceToSend)),
          pieces (count), interval (intervalMs), end (juce::Time::getMillisecondCounter() + (juce::uint32) lifetimeMs)
    {
        if (listener.createListener (0, "127.0.0.1"))
            startThread();
    }

    ~MisbehavingServer() override { stopThread (4000); }

    juce::String address() const { return "http://127.0.0.1:" + juce::String (listener.getBoundPort()); }
    int connectionCount() const { return connections.load(); }
    juce::int64 bytesSent() const { return sent.load(); }

private:
    bool running() const { return ! threadShouldExit() && juce::Time::getMillisecondCounter() < end; }

    void run() override
    {
        while (running() && listener.waitUntilReady (true, 50) != 1) {}
        std::unique_ptr<juce::StreamingSocket> client (running() ? listener.waitForNextConnection() : nullptr);

        if (client == nullptr)
            return;

        ++connections;

        if (send (*client, head))
            for (int i = 0; i < pieces && send (*client, piece); ++i)
                wait (interval);

        while (running())
            wait (50);
    }

    /** False once the client has gone or the time is up; without SIGPIPE, which would end the
        test program. */
    bool send (juce::StreamingSocket& client, const std::string& text)
    {
        for (size_t done = 0; done < text.size();)
        {
            if (! running())
                return false;

            if (client.waitUntilReady (false, 50) != 1)
                continue;

            const auto n = ::send (client.getRawSocketHandle(), text.data() + done, text.size() - done,
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n <= 0)
                return false;

            done += (size_t) n;
            sent += n;
        }

        return true;
    }

    const std::string head, piece;
    const int pieces, interval;
    const juce::uint32 end;
    juce::StreamingSocket listener;
    std::atomic<int> connections { 0 };
    std::atomic<juce::int64> sent { 0 };
};

/** A name server on 127.0.0.1:53 that answers every query for an address with 127.0.0.1,
    answerAfterMs late, or never when that is negative. It stops by itself lifetimeMs after it
    started. The port needs a private network namespace. */
class NameServer : private juce::Thread
{
public:
    NameServer (int answerAfterMs, int lifetimeMs)
        : juce::Thread ("loopback dns"), delay (answerAfterMs),
          end (juce::Time::getMillisecondCounter() + (juce::uint32) lifetimeMs)
    {
        if (socket.bindToPort (53, "127.0.0.1"))
            startThread();
    }

    ~NameServer() override { stopThread (2000); }

    bool isListening() const { return isThreadRunning(); }
    int queryCount() const { return queries.load(); }

private:
    struct Answer { juce::uint32 due; std::string bytes; juce::String host; int port; };

    void run() override
    {
        std::vector<Answer> pending;
        unsigned char query[512];

        while (! threadShouldExit() && juce::Time::getMillisecondCounter() < end)
        {
            juce::String host;
            int port = 0;
            const auto n = socket.waitUntilReady (true, 10) == 1 ? socket.read (query, (int) sizeof (query), false, host, port) : 0;

            if (n > 12)
            {
                ++queries;
                auto q = 12;                                  // the question: the name, then type and class
                while (q < n && query[q] != 0)
                    q += query[q] + 1;

                if (delay >= 0 && q + 5 <= n)
                {
                    // The query's id and question; flags "response, no error"; one answer when
                    // an IPv4 address was asked for: type A, class IN, 60 s, 127.0.0.1.
                    const bool forAddress = query[q + 1] == 0 && query[q + 2] == 1;
                    std::string reply ((const char*) query, (size_t) q + 5);
                    reply.replace (2, 10, std::string ("\x81\x80\0\1\0", 5) + (forAddress ? '\1' : '\0') + std::string (4, '\0'));

                    if (forAddress)
                        reply += std::string ("\xc0\x0c\0\1\0\1\0\0\0\x3c\0\4\x7f\0\0\1", 16);

                    pending.push_back ({ juce::Time::getMillisecondCounter() + (juce::uint32) delay, reply, host, port });
                }
            }

            for (auto a = pending.begin(); a != pending.end();)
                if (juce::Time::getMillisecondCounter() >= a->due)
                {
                    socket.write (a->host, a->port, a->bytes.data(), (int) a->bytes.size());
                    a = pending.erase (a);
                }
                else
                {
                    ++a;
                }
        }

        socket.shutdown();
    }

    const int delay;
    const juce::uint32 end;
    juce::DatagramSocket socket;
    std::atomic<int> queries { 0 };
};

/** Lets timers and asynchronous updates run for a while on this (the message) thread.
    The plug-in is built without modal loops, so the framework's own loop step is used. */
inline void pumpMessages (int milliseconds)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;

    while (juce::Time::getMillisecondCounter() < end)
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
}

} // namespace kelvortest
