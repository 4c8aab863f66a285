// process() as hosts outside the VST3 contract call it: longer blocks than they set up,
// negative lengths, missing or mismatched buffers.
#include "RawHost.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

using namespace rawhost;

TEST (Vst3Process, CallsOutsideTheContractStayInsideTheBuffers)
{
    // A block eight times the prepared maximum is processed whole: sample for sample what
    // the same audio gives in prepared-size blocks.
    constexpr int32 prepared = 512, blocks = 8;
    Plugin sliced, reference;
    sliced.prepare (prepared);
    reference.prepare (prepared);

    StereoBlock longBlock (prepared * blocks);
    longBlock.fillInput (1);
    auto data = longBlock.data (longBlock.length);
    ASSERT_EQ (sliced.processor->process (data), kResultTrue);
    EXPECT_TRUE (longBlock.spareUntouched());
    EXPECT_TRUE (longBlock.outputFinite());

    StereoBlock shortBlock (prepared);
    double energy = 0.0;
    for (int b = 0; b < blocks; ++b)
    {
        for (int c = 0; c < 2; ++c)
            std::copy_n (longBlock.in[c].begin() + b * prepared, prepared, shortBlock.in[c].begin());
        auto part = shortBlock.data (prepared);
        reference.processor->process (part);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < prepared; ++i)
            {
                const auto expected = shortBlock.output (c)[i];
                ASSERT_EQ (longBlock.output (c)[b * prepared + i], expected) << "block " << b << " sample " << i;
                energy += (double) expected * expected;
            }
    }
    EXPECT_GT (energy, 1.0);

    // Calls that cannot be processed as given leave the host's buffers finite and write
    // nothing outside them.
    Plugin* plugin = &sliced;
    const auto odd = [&] (auto&& mangle, bool outputWritable = true)
    {
        StereoBlock block (prepared);
        block.fillInput (2);
        block.fillOutput (NAN);
        auto call = block.data (prepared);
        mangle (block, call);
        plugin->processor->process (call);
        EXPECT_TRUE (block.spareUntouched());
        if (outputWritable)
            EXPECT_TRUE (block.outputFinite());
    };

    for (const int32 length : { -1, -prepared, INT_MIN })
        odd ([length] (StereoBlock&, Vst::ProcessData& d) { d.numSamples = length; }, false);

    odd ([] (StereoBlock& b, Vst::ProcessData&) { b.inBus.channelBuffers32 = nullptr; });
    odd ([] (StereoBlock& b, Vst::ProcessData&) { b.inPointers[1] = nullptr; });
    odd ([] (StereoBlock&, Vst::ProcessData& d) { d.inputs = nullptr; });
    odd ([] (StereoBlock& b, Vst::ProcessData&) { b.inBus.numChannels = 1; });
    odd ([] (StereoBlock& b, Vst::ProcessData&) { b.inBus.numChannels = -2; });
    odd ([] (StereoBlock&, Vst::ProcessData& d) { d.numInputs = -1; });
    odd ([] (StereoBlock& b, Vst::ProcessData&) { b.outBus.numChannels = 1; b.outPointers[1] = nullptr; }, false);
    odd ([] (StereoBlock& b, Vst::ProcessData&) { b.outPointers[0] = nullptr; }, false);
    odd ([] (StereoBlock& b, Vst::ProcessData&) { b.outBus.channelBuffers32 = nullptr; }, false);
    odd ([] (StereoBlock&, Vst::ProcessData& d) { d.outputs = nullptr; }, false);
    odd ([] (StereoBlock&, Vst::ProcessData& d) { d.numOutputs = -1; }, false);

    const auto plays = [] (StereoBlock&, Vst::ProcessData&) {};

    // A set-up with no block size is refused, one beyond any host's is held to what memory
    // can give; either way the plug-in plays on.
    for (const int32 maxBlock : { 0, -5, INT_MIN, INT_MAX })
    {
        Vst::ProcessSetup setup { Vst::kRealtime, Vst::kSample32, maxBlock, 48000.0 };
        sliced.component->setActive (false);
        EXPECT_EQ (sliced.processor->setupProcessing (setup) == kResultTrue, maxBlock > 0) << maxBlock;
        sliced.component->setActive (true);
        odd (plays);
    }

    // A layout changed after preparation gets buffers for that layout, even when the host
    // processes before activating the plug-in again.
    Plugin relaid;
    Vst::SpeakerArrangement mono = Vst::SpeakerArr::kMono, stereo = Vst::SpeakerArr::kStereo;
    ASSERT_EQ (relaid.processor->setBusArrangements (&mono, 1, &mono, 1), kResultTrue);
    relaid.prepare (prepared);
    relaid.component->setActive (false);
    ASSERT_EQ (relaid.processor->setBusArrangements (&stereo, 1, &stereo, 1), kResultTrue);
    plugin = &relaid;
    odd (plays);
}
