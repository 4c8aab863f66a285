// The editor's view embedded in a host window (under Xvfb) and sized as careless hosts do.
#include "RawHost.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <limits>
#include <poll.h>

using namespace rawhost;

namespace
{
// Without a window manager some property requests fail; Xlib's default handler would end
// the process.
int ignoreXErrors (Display*, XErrorEvent*) { return 0; }

// A host frame with the run loop Linux hosts give their views: the plug-in's file descriptors
// are watched and it is called back on this (the host's UI) thread. It gives the view the size
// the view asks for, as most hosts do.
struct Frame : IPlugFrame, Linux::IRunLoop
{
    tresult PLUGIN_API resizeView (IPlugView* view, ViewRect* size) override { return view->onSize (size); }

    tresult PLUGIN_API registerEventHandler (Linux::IEventHandler* handler, Linux::FileDescriptor fd) override
    {
        handlers.push_back ({ handler, fd });
        return kResultTrue;
    }

    tresult PLUGIN_API unregisterEventHandler (Linux::IEventHandler* handler) override
    {
        handlers.erase (std::remove_if (handlers.begin(), handlers.end(), [&] (auto& h) { return h.first == handler; }),
                        handlers.end());
        return kResultTrue;
    }

    tresult PLUGIN_API registerTimer (Linux::ITimerHandler*, Linux::TimerInterval) override { return kNotImplemented; }
    tresult PLUGIN_API unregisterTimer (Linux::ITimerHandler*) override { return kNotImplemented; }

    tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
    {
        *obj = FUnknownPrivate::iidEqual (iid, Linux::IRunLoop::iid) ? static_cast<Linux::IRunLoop*> (this) : nullptr;
        return *obj != nullptr ? kResultOk : kNoInterface;
    }

    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    // Runs the loop for a while: long enough for the plug-in to lay out and paint.
    void run (std::chrono::milliseconds duration)
    {
        for (const auto end = std::chrono::steady_clock::now() + duration; std::chrono::steady_clock::now() < end;)
        {
            const auto watched = handlers;
            std::vector<pollfd> fds;
            for (auto& h : watched)
                fds.push_back ({ h.second, POLLIN, 0 });
            if (poll (fds.data(), fds.size(), 5) > 0)
                for (size_t i = 0; i < fds.size(); ++i)
                    if (fds[i].revents != 0)
                        watched[i].first->onFDIsSet (watched[i].second);
        }
    }

    std::vector<std::pair<Linux::IEventHandler*, Linux::FileDescriptor>> handlers;
};

class Vst3View : public ::testing::Test
{
protected:
    void SetUp() override
    {
        XSetErrorHandler (ignoreXErrors);
        display = XOpenDisplay (nullptr);
        ASSERT_NE (display, nullptr) << "needs an X display (run under xvfb-run)";
        window = XCreateSimpleWindow (display, DefaultRootWindow (display), 0, 0, 440, 480, 0, 0, 0);
        XMapWindow (display, window);
        XFlush (display);

        view = owned (plugin.controller->createView (Vst::ViewType::kEditor));
        ASSERT_NE (view, nullptr);
        view->setFrame (&frame);
        ASSERT_EQ (view->attached (reinterpret_cast<void*> (window), kPlatformTypeX11EmbedWindowID), kResultTrue);
        settle();
    }

    void TearDown() override
    {
        if (view != nullptr)
            view->removed();
        view = nullptr;
        if (display != nullptr)
            XCloseDisplay (display);
    }

    void settle() { frame.run (std::chrono::milliseconds (150)); }

    ViewRect size()
    {
        ViewRect rect;
        EXPECT_EQ (view->getSize (&rect), kResultTrue);
        return rect;
    }

    // The editor's limits at scale 1: 264 x 288 to 440 x 480, at the panel's aspect ratio.
    static void expectWithinLimits (const ViewRect& r, const char* what)
    {
        EXPECT_TRUE (r.getWidth() >= 264 && r.getWidth() <= 440 && r.getHeight() >= 288 && r.getHeight() <= 480)
            << what << ": " << r.getWidth() << " x " << r.getHeight();
        EXPECT_NEAR ((double) r.getWidth() / r.getHeight(), 440.0 / 480.0, 0.01) << what;
    }

    Plugin plugin;
    Frame frame;
    IPtr<IPlugView> view;
    Display* display = nullptr;
    Window window = 0;
};
} // namespace

TEST_F (Vst3View, SizesOutsideTheEditorLimitsAreBroughtWithinThem)
{
    const ViewRect asks[] = { { 0, 0, 0, 0 },         { 0, 0, 1, 1 },           { 0, 0, 23000, 23000 },
                              { 0, 0, 23200, 23200 }, { 0, 0, 100000, 100000 }, { 0, 0, INT_MAX, INT_MAX },
                              { 0, 0, -300, -300 },   { 0, 0, 100000, 300 },    { 0, 0, 300, 400 } };

    for (const auto& ask : asks)
    {
        auto allowed = ask;
        view->checkSizeConstraint (&allowed);
        expectWithinLimits (allowed, "checkSizeConstraint");

        auto asked = ask;
        EXPECT_EQ (view->onSize (&asked), kResultTrue);
        settle();

        const auto now = size();
        expectWithinLimits (now, "after onSize");
        EXPECT_EQ (now.getWidth(), allowed.getWidth()) << ask.getWidth() << " x " << ask.getHeight();
        EXPECT_EQ (now.getHeight(), allowed.getHeight()) << ask.getWidth() << " x " << ask.getHeight();
    }
}

TEST_F (Vst3View, ScaleFactorsNoDisplayUsesAreIgnored)
{
    FUnknownPtr<IPlugViewContentScaleSupport> scaling (view);
    ASSERT_NE (scaling, nullptr);

    const auto before = size();
    expectWithinLimits (before, "at first");

    constexpr auto inf = std::numeric_limits<float>::infinity();
    for (const float factor : { 0.0f, -1.0f, -inf, inf, std::numeric_limits<float>::quiet_NaN(), 1000.0f, 0.001f, 1.0f })
    {
        scaling->setContentScaleFactor (factor);
        settle();
        const auto now = size();
        EXPECT_EQ (now.getWidth(), before.getWidth()) << "factor " << factor;
        EXPECT_EQ (now.getHeight(), before.getHeight()) << "factor " << factor;
    }

    // A real factor still scales the view.
    scaling->setContentScaleFactor (2.0f);
    settle();
    EXPECT_NEAR (size().getWidth(), 2 * before.getWidth(), 2);
    scaling->setContentScaleFactor (1.0f);
    settle();
    EXPECT_EQ (size().getWidth(), before.getWidth());
}
