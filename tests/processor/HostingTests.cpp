// Loads the built Kelvor58.vst3 the way a host does, through JUCE's VST3 hosting.
#include <juce_audio_processors/juce_audio_processors.h>

#include <pluginterfaces/base/ipluginbase.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <limits>
#include <random>

namespace
{
const juce::File bundle { KELVOR_VST3_BUNDLE };

std::unique_ptr<juce::PluginDescription> describe()
{
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile (types, bundle.getFullPathName());
    if (types.isEmpty())
        return {};
    return std::make_unique<juce::PluginDescription> (*types[0]);
}

std::unique_ptr<juce::AudioPluginInstance> load (double rate = 48000.0, int block = 512)
{
    auto description = describe();
    if (description == nullptr)
        return {};
    juce::VST3PluginFormat format;
    juce::String error;
    auto instance = format.createInstanceFromDescription (*description, rate, block, error);
    EXPECT_TRUE (error.isEmpty()) << error;
    return instance;
}

void processNoise (juce::AudioPluginInstance& plugin, juce::AudioBuffer<float>& buffer, unsigned seed)
{
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> dist (-0.5f, 0.5f);
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (c, i, dist (rng));
    juce::MidiBuffer midi;
    plugin.processBlock (buffer, midi);
}
} // namespace

TEST (Vst3Host, ModuleFactoryAndClassIdentifiers)
{
    const auto library = bundle.getChildFile ("Contents/x86_64-linux/Kelvor58.so");
    ASSERT_TRUE (library.existsAsFile()) << library.getFullPathName();

    void* handle = dlopen (library.getFullPathName().toRawUTF8(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE (handle, nullptr) << dlerror();
    using Entry = bool (*) (void*);
    using GetFactory = Steinberg::IPluginFactory* (*)();
    auto moduleEntry = reinterpret_cast<Entry> (dlsym (handle, "ModuleEntry"));
    auto moduleExit = reinterpret_cast<bool (*)()> (dlsym (handle, "ModuleExit"));
    auto getFactory = reinterpret_cast<GetFactory> (dlsym (handle, "GetPluginFactory"));
    ASSERT_TRUE (moduleEntry && moduleExit && getFactory);
    ASSERT_TRUE (moduleEntry (handle));

    auto* factory = getFactory();
    ASSERT_NE (factory, nullptr);

    Steinberg::PFactoryInfo info;
    ASSERT_EQ (factory->getFactoryInfo (&info), Steinberg::kResultOk);
    EXPECT_STREQ (info.vendor, "Quorvanta");
    EXPECT_STREQ (info.url, KELVOR_MAKER_URL);
    EXPECT_STREQ (info.email, "");
    EXPECT_EQ (info.flags, Steinberg::PFactoryInfo::kUnicode);

    ASSERT_EQ (factory->countClasses(), 2);
    const unsigned char component[16] = { 0xAB, 0xCD, 0xEF, 0x01, 0x91, 0x82, 0xFA, 0xEB, 'M', 'a', 'n', 'u', 'K', 'v', '5', '8' };
    const unsigned char controller[16] = { 0xAB, 0xCD, 0xEF, 0x01, 0x12, 0x34, 0xAB, 0xCD, 'M', 'a', 'n', 'u', 'K', 'v', '5', '8' };

    Steinberg::IPluginFactory2* factory2 = nullptr;
    ASSERT_EQ (factory->queryInterface (Steinberg::IPluginFactory2_iid, reinterpret_cast<void**> (&factory2)), Steinberg::kResultOk);

    bool sawComponent = false, sawController = false;
    for (int i = 0; i < 2; ++i)
    {
        Steinberg::PClassInfo2 c;
        ASSERT_EQ (factory2->getClassInfo2 (i, &c), Steinberg::kResultOk);
        EXPECT_STREQ (c.name, "Kelvor58");
        EXPECT_STREQ (c.subCategories, "Fx");
        EXPECT_STREQ (c.vendor, "Quorvanta");
        EXPECT_STREQ (c.version, "1.0.0");
        EXPECT_STREQ (c.sdkVersion, "VST 3.7.2");
        EXPECT_EQ (c.cardinality, Steinberg::PClassInfo::kManyInstances);
        EXPECT_EQ (c.classFlags, 0u);
        if (std::strcmp (c.category, "Audio Module Class") == 0)
        {
            sawComponent = true;
            EXPECT_EQ (std::memcmp (c.cid, component, 16), 0);
        }
        else if (std::strcmp (c.category, "Component Controller Class") == 0)
        {
            sawController = true;
            EXPECT_EQ (std::memcmp (c.cid, controller, 16), 0);
        }
    }
    EXPECT_TRUE (sawComponent);
    EXPECT_TRUE (sawController);

    factory2->release();
    factory->release();
    moduleExit();
    dlclose (handle);
}

TEST (Vst3Host, WhatAHostSees)
{
    auto description = describe();
    ASSERT_NE (description, nullptr) << bundle.getFullPathName();
    EXPECT_EQ (description->name, "Kelvor58");
    EXPECT_EQ (description->manufacturerName, "Quorvanta");
    EXPECT_EQ (description->version, "1.0.0");
    EXPECT_EQ (description->category, "Fx");
    EXPECT_FALSE (description->isInstrument);

    auto plugin = load();
    ASSERT_NE (plugin, nullptr);

    const char* names[] = { "Pre Gain", "Post Gain", "Dry/Wet", "BypassOff", "Speed", "Synch On", "Bypass" };
    const float starts[] = { 0.4375f, 0.5625f, 1.0f, 0.0f, 0.5f, 0.0f, 0.0f };
    const auto& params = plugin->getParameters();
    ASSERT_EQ (params.size(), 7);
    for (int i = 0; i < 7; ++i)
    {
        EXPECT_EQ (params[i]->getName (64), names[i]);
        EXPECT_NEAR (params[i]->getValue(), starts[i], 1e-6f) << names[i];
    }
    EXPECT_NEAR (params[3]->getDefaultValue(), 0.5f, 1e-6f);

    plugin->prepareToPlay (48000.0, 512);
    // The plug-in learns the rate on activation and announces its latency through the
    // component's restart message, which arrives on the message thread.
    juce::MessageManager::getInstance()->runDispatchLoopUntil (300);
    EXPECT_EQ (plugin->getLatencySamples(), 2);

    juce::AudioBuffer<float> buffer (2, 512);
    for (int b = 0; b < 20; ++b)
    {
        processNoise (*plugin, buffer, (unsigned) b);
        juce::AudioBuffer<float> input (2, 512);
        std::mt19937 rng ((unsigned) b);
        std::uniform_real_distribution<float> dist (-0.5f, 0.5f);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 512; ++i)
                input.setSample (c, i, dist (rng));

        double difference = 0.0;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 512; ++i)
            {
                ASSERT_TRUE (std::isfinite (buffer.getSample (c, i)));
                difference += std::abs (buffer.getSample (c, i) - input.getSample (c, i));
            }
        EXPECT_GT (difference, 1.0) << "block " << b;
    }
    plugin->releaseResources();
}

TEST (Vst3Host, StateRoundTripThroughTheChunk)
{
    auto first = load();
    ASSERT_NE (first, nullptr);
    const float changed[] = { 0.75f, 0.25f, 0.4f, 1.0f, 0.3f, 1.0f };
    for (int i = 0; i < 6; ++i)
        first->getParameters()[i]->setValueNotifyingHost (changed[i]);

    juce::MemoryBlock chunk;
    first->getStateInformation (chunk);
    EXPECT_GT (chunk.getSize(), 100u);

    auto second = load();
    ASSERT_NE (second, nullptr);
    second->setStateInformation (chunk.getData(), (int) chunk.getSize());
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR (second->getParameters()[i]->getValue(), changed[i], 1e-4f) << i;
}

// The host's own Bypass (the "Bypass" a DAW's button drives, the framework's parameter), pressed
// at block boundaries while a 220 Hz tone plays, let go and pressed again mid-fade, with empty
// blocks between: bypassed, the output is the input delayed as every other path, NaN and
// infinity cleared; each press changes the output no faster than the tone itself does.
TEST (Vst3Host, HostBypassKeepsTheLagClearsNonFiniteAndFades)
{
    for (auto [rate, lag] : { std::pair { 44100.0, 0 }, { 48000.0, 4 }, { 96000.0, 6 } })
    {
        SCOPED_TRACE (testing::Message() << rate << " Hz");
        auto plugin = load (rate, 256);
        ASSERT_NE (plugin, nullptr);
        auto* bypass = plugin->getBypassParameter();
        ASSERT_NE (bypass, nullptr);
        plugin->prepareToPlay (rate, 256);

        const int n = (int) (2.0 * rate), quarter = n / 4;
        std::vector<float> in ((size_t) n + 256), out ((size_t) n + 256);
        for (int i = 0; i < n; ++i)
            in[(size_t) i] = 0.5f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 220.0 * i / rate);
        // Bypassed after the tone: non-finite input among it.
        for (int i = n; i < n + 256; ++i)
            in[(size_t) i] = i % 3 ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();

        juce::MidiBuffer midi;
        for (int start = 0; start < n + 256; start += 256)
        {
            // On at 0.5 s, off 256 samples later and on again; off at 1 s, on at 1.5 s.
            const int q = std::min (start / quarter, 3), sincePress = start % quarter;
            bypass->setValue (q % 2 == 1 && ! (q == 1 && sincePress >= 256 && sincePress < 512) ? 1.0f : 0.0f);
            juce::AudioBuffer<float> block (2, std::min (256, n + 256 - start));
            for (int c = 0; c < 2; ++c)
                block.copyFrom (c, 0, in.data() + start, block.getNumSamples());
            plugin->processBlock (block, midi);
            juce::AudioBuffer<float> empty (2, 0);
            plugin->processBlock (empty, midi);
            std::copy (block.getReadPointer (0), block.getReadPointer (0) + block.getNumSamples(), out.begin() + start);
        }

        for (int i = 3 * quarter + (int) (0.02 * rate); i < n + 256; ++i)
            ASSERT_EQ (out[(size_t) i], i - lag < n ? in[(size_t) (i - lag)] : 0.0f) << i;

        float steady = 0.0f, around = 0.0f;
        for (int i = quarter / 2; i < n; ++i)
        {
            const float step = std::abs (out[(size_t) i] - out[(size_t) i - 1]);
            float& worst = i % quarter < (int) (0.05 * rate) + 512 ? around : steady;
            worst = std::max (worst, step);
        }
        EXPECT_LE (around, steady * 1.02f);
        plugin->releaseResources();
    }
}

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    // Keep the plug-in's settings file away from the real user's folder.
    const auto home = juce::File::createTempFile ("kelvor-host-home");
    home.createDirectory();
    setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
    unsetenv ("XDG_CONFIG_HOME");

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        result = RUN_ALL_TESTS();
    }
    home.deleteRecursively();
    return result;
}
