// Projects loaded through host streams that behave like files and pipes: short reads, an end
// before the size they announce, counts that cannot be true, no end at all.
#include "RawHost.h"

#include <pluginterfaces/base/ibstream.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace rawhost;

namespace
{
struct HostStream : IBStream, ISizeableStream
{
    HostStream (std::vector<char> content, int32 piece) : bytes (std::move (content)), available (bytes.size()), piece (piece) {}

    tresult PLUGIN_API read (void* buffer, int32 numBytes, int32* numBytesRead) override
    {
        int32 n = 0;
        if (endless)
            std::memset (buffer, 'x', (size_t) (n = numBytes));
        else if (at < available)
            std::memcpy (buffer, bytes.data() + at, (size_t) (n = (int32) std::min<size_t> ({ (size_t) piece, (size_t) numBytes, available - at })));
        at += (size_t) n;
        if (numBytesRead != nullptr)
            *numBytesRead = n > 0 && overstates ? numBytes + 1000 : n;
        return kResultTrue;
    }

    tresult PLUGIN_API seek (int64 pos, int32 mode, int64* result) override
    {
        at = (size_t) (mode == kIBSeekSet ? pos : mode == kIBSeekCur ? (int64) at + pos : (int64) bytes.size() + pos);
        if (result != nullptr)
            *result = (int64) at;
        return kResultTrue;
    }

    tresult PLUGIN_API tell (int64* pos) override { *pos = (int64) at; return kResultTrue; }
    tresult PLUGIN_API write (void*, int32, int32*) override { return kResultFalse; }
    tresult PLUGIN_API getStreamSize (int64& size) override { size = (int64) (bytes.size() + announcedExtra); return kResultTrue; }
    tresult PLUGIN_API setStreamSize (int64) override { return kResultFalse; }

    tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
    {
        *obj = nullptr;
        if (FUnknownPrivate::iidEqual (iid, IBStream::iid) || FUnknownPrivate::iidEqual (iid, FUnknown::iid))
            *obj = static_cast<IBStream*> (this);
        else if (sizeable && FUnknownPrivate::iidEqual (iid, ISizeableStream::iid))
            *obj = static_cast<ISizeableStream*> (this);
        return *obj != nullptr ? kResultOk : kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    std::vector<char> bytes;
    size_t available, at = 0, announcedExtra = 0;
    int32 piece;
    bool sizeable = true, overstates = false, endless = false;
};

struct Values
{
    explicit Values (Plugin& p) : plugin (p)
    {
        for (int32 i = 0; i < p.controller->getParameterCount(); ++i)
        {
            Vst::ParameterInfo info {};
            p.controller->getParameterInfo (i, info);
            ids.push_back (info.id);
        }
    }

    // Every parameter off its default; the last is the host's bypass.
    void set (double base, bool bypassed)
    {
        for (size_t i = 0; i + 1 < ids.size(); ++i)
            plugin.controller->setParamNormalized (ids[i], base + 0.1 * (double) i);
        plugin.controller->setParamNormalized (ids.back(), bypassed ? 1.0 : 0.0);
    }

    std::vector<double> get() const
    {
        std::vector<double> values;
        for (auto id : ids)
            values.push_back (plugin.controller->getParamNormalized (id));
        return values;
    }

    Plugin& plugin;
    std::vector<Vst::ParamID> ids;
};

// Equal as the parameters hold them: a load gives back each value as a float on its grid.
::testing::AssertionResult same (const std::vector<double>& a, const std::vector<double>& b)
{
    for (size_t i = 0; i < a.size(); ++i)
        if (i >= b.size() || std::abs (a[i] - b[i]) > 1.0e-6)
            return ::testing::AssertionFailure() << "parameter " << i << ": " << a[i] << " and " << (i < b.size() ? b[i] : -1.0);
    return a.size() == b.size() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "counts differ";
}
} // namespace

TEST (Vst3Stream, PiecesAreJoinedAndAStreamEndingEarlyIsRefused)
{
    Plugin source, target;
    Values sourceValues (source), targetValues (target);
    sourceValues.set (0.12, true);
    const auto chunk = source.getState();
    target.setState (chunk);
    const auto saved = targetValues.get();

    const auto load = [&] (HostStream& stream)
    {
        targetValues.set (0.3, false);
        const auto result = target.component->setState (&stream);
        stream.seek (0, IBStream::kIBSeekSet, nullptr);
        target.controller->setComponentState (&stream);
        return result;
    };

    // However small its pieces, a whole state loads whole.
    for (const int32 piece : { 1, 7, 64, 4096 })
        for (const bool sizeable : { true, false })
        {
            HostStream stream (chunk, piece);
            stream.sizeable = sizeable;
            EXPECT_EQ (load (stream), kResultOk) << piece << (sizeable ? " sizeable" : "");
            EXPECT_TRUE (same (targetValues.get(), saved)) << piece << (sizeable ? " sizeable" : "");
        }

    // A size announced beyond a whole state, as some hosts give, still loads it.
    HostStream longer (chunk, 64);
    longer.announcedExtra = 100;
    EXPECT_EQ (load (longer), kResultOk);
    EXPECT_TRUE (same (targetValues.get(), saved));

    // A stream that ends early, states a count it was not asked for, or never ends is refused,
    // and the current values stay. (A sizeable one is only read up to its size.)
    targetValues.set (0.3, false);
    const auto current = targetValues.get();
    ASSERT_FALSE (same (current, saved));
    for (size_t end = 1; end < chunk.size(); end += chunk.size() / 7)
    {
        HostStream cut (chunk, 64);
        cut.available = end;
        EXPECT_EQ (load (cut), kResultFalse) << "ends after " << end;
        EXPECT_TRUE (same (targetValues.get(), current)) << "ends after " << end;
    }
    for (const bool sizeable : { true, false })
    {
        HostStream overstating (chunk, 64), endless (chunk, 4096);
        overstating.overstates = true;
        endless.endless = true;
        overstating.sizeable = endless.sizeable = sizeable;
        EXPECT_EQ (load (overstating), kResultFalse);
        EXPECT_TRUE (same (targetValues.get(), current));
        EXPECT_EQ (load (endless) == kResultFalse, ! sizeable);
        EXPECT_TRUE (same (targetValues.get(), current));
    }
}
