#include "RawHost.h"

// The interface identifiers and the memory stream, from the SDK sources that come with the
// framework.
#include <pluginterfaces/base/funknown.cpp>
#include <pluginterfaces/base/coreiids.cpp>
#include <public.sdk/source/common/memorystream.cpp>
#include <public.sdk/source/vst/vstinitiids.cpp>

namespace Steinberg
{
DEF_CLASS_IID (IPlugView)
DEF_CLASS_IID (IPlugFrame)
DEF_CLASS_IID (IPlugViewContentScaleSupport)
DEF_CLASS_IID (Linux::IRunLoop)
DEF_CLASS_IID (Linux::IEventHandler)
} // namespace Steinberg

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

namespace rawhost
{
namespace
{
struct Module
{
    Module()
    {
        const auto path = std::string (KELVOR_VST3_BUNDLE) + "/Contents/x86_64-linux/Kelvor58.so";
        handle = dlopen (path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            throw std::runtime_error (dlerror());

        auto entry = reinterpret_cast<bool (*) (void*)> (dlsym (handle, "ModuleEntry"));
        auto get = reinterpret_cast<IPluginFactory* (*)()> (dlsym (handle, "GetPluginFactory"));
        if (entry == nullptr || get == nullptr || ! entry (handle) || (pluginFactory = get()) == nullptr)
            throw std::runtime_error ("no VST3 entry points in " + path);
    }

    // The module stays loaded until the process ends, as hosts keep theirs.
    ~Module()
    {
        if (auto exit = reinterpret_cast<bool (*)()> (dlsym (handle, "ModuleExit")))
            exit();
    }

    void* handle = nullptr;
    IPluginFactory* pluginFactory = nullptr;
};

template <typename Interface>
IPtr<Interface> create (const TUID classId)
{
    Interface* object = nullptr;
    factory().createInstance (classId, Interface::iid, reinterpret_cast<void**> (&object));
    return owned (object);
}
} // namespace

IPluginFactory& factory()
{
    static Module module;
    return *module.pluginFactory;
}

Plugin::Plugin()
{
    for (int32 i = 0; i < factory().countClasses() && component == nullptr; ++i)
    {
        PClassInfo info;
        if (factory().getClassInfo (i, &info) == kResultOk && std::strcmp (info.category, kVstAudioEffectClass) == 0)
            component = create<Vst::IComponent> (info.cid);
    }
    if (component == nullptr || component->initialize (nullptr) != kResultOk)
        throw std::runtime_error ("no audio component");

    processor = FUnknownPtr<Vst::IAudioProcessor> (component);
    TUID controllerId;
    if (processor == nullptr || component->getControllerClassId (controllerId) != kResultOk)
        throw std::runtime_error ("no audio processor or controller class");

    controller = create<Vst::IEditController> (controllerId);
    if (controller == nullptr || controller->initialize (nullptr) != kResultOk)
        throw std::runtime_error ("no edit controller");

    FUnknownPtr<Vst::IConnectionPoint> componentPoint (component), controllerPoint (controller);
    componentPoint->connect (controllerPoint);
    controllerPoint->connect (componentPoint);
}

Plugin::~Plugin()
{
    processor->setProcessing (false);
    component->setActive (false);
    FUnknownPtr<Vst::IConnectionPoint> componentPoint (component), controllerPoint (controller);
    componentPoint->disconnect (controllerPoint);
    controllerPoint->disconnect (componentPoint);
    controller->terminate();
    component->terminate();
}

std::vector<char> Plugin::getState()
{
    IPtr<MemoryStream> stream = owned (new MemoryStream());
    component->getState (stream);
    return { stream->getData(), stream->getData() + stream->getSize() };
}

tresult Plugin::setState (const std::vector<char>& chunk)
{
    IPtr<MemoryStream> stream = owned (new MemoryStream (const_cast<char*> (chunk.data()), (TSize) chunk.size()));
    const auto result = component->setState (stream);
    stream->seek (0, IBStream::kIBSeekSet, nullptr);
    controller->setComponentState (stream);
    return result;
}

void Plugin::prepare (int32 maxBlock)
{
    Vst::ProcessSetup setup { Vst::kRealtime, Vst::kSample32, maxBlock, 48000.0 };
    processor->setupProcessing (setup);
    component->activateBus (Vst::kAudio, Vst::kInput, 0, true);
    component->activateBus (Vst::kAudio, Vst::kOutput, 0, true);
    component->setActive (true);
    processor->setProcessing (true);
}

Vst::ParamID Plugin::parameter (const char* title)
{
    for (int32 i = 0; i < controller->getParameterCount(); ++i)
    {
        Vst::ParameterInfo info {};
        controller->getParameterInfo (i, info);
        const std::string name (info.title, std::find (info.title, info.title + 128, 0));
        if (title == nullptr ? (info.flags & Vst::ParameterInfo::kIsBypass) != 0 : name == title)
            return info.id;
    }
    throw std::runtime_error ("no parameter " + std::string (title != nullptr ? title : "bypass"));
}

StereoBlock::StereoBlock (int32 n, int32 spare) : length (n)
{
    for (int c = 0; c < 2; ++c)
    {
        in[c].assign ((size_t) (n + spare), guard);
        out[c].assign ((size_t) (n + spare), guard);
        inPointers[c] = in[c].data();
        outPointers[c] = out[c].data();
    }
    inBus.numChannels = outBus.numChannels = 2;
    inBus.channelBuffers32 = inPointers;
    outBus.channelBuffers32 = outPointers;
}

void StereoBlock::fillInput (unsigned seed)
{
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> dist (-0.5f, 0.5f);
    for (auto& channel : in)
        for (int32 i = 0; i < length; ++i)
            channel[(size_t) i] = dist (rng);
}

void StereoBlock::fillOutput (float value)
{
    for (auto& channel : out)
        std::fill (channel.begin(), channel.begin() + length, value);
}

bool StereoBlock::outputFinite() const
{
    for (auto& channel : out)
        for (int32 i = 0; i < length; ++i)
            if (! std::isfinite (channel[(size_t) i]))
                return false;
    return true;
}

bool StereoBlock::spareUntouched() const
{
    for (auto* buffers : { in, out })
        for (int c = 0; c < 2; ++c)
            for (auto i = (size_t) length; i < buffers[c].size(); ++i)
                if (buffers[c][i] != guard)
                    return false;
    return true;
}

Vst::ProcessData StereoBlock::data (int32 numSamples)
{
    Vst::ProcessData d;
    d.processMode = Vst::kRealtime;
    d.symbolicSampleSize = Vst::kSample32;
    d.numSamples = numSamples;
    d.numInputs = d.numOutputs = 1;
    d.inputs = &inBus;
    d.outputs = &outBus;
    return d;
}

namespace
{
long residentMegabytes()
{
    std::ifstream statm ("/proc/self/statm");
    long size = 0, pages = 0;
    statm >> size >> pages;
    return (pages * sysconf (_SC_PAGESIZE)) >> 20;
}
} // namespace

Watchdog::Watchdog (std::string what, std::chrono::milliseconds timeLimit, long megabytesLimit)
{
    factory(); // the module loads once, outside the limits
    thread = std::thread ([this, what, timeLimit, megabytesLimit, start = std::chrono::steady_clock::now(),
                           memory = residentMegabytes()]
    {
        while (! done)
        {
            std::this_thread::sleep_for (std::chrono::milliseconds (5));
            const auto elapsed = std::chrono::steady_clock::now() - start;
            const auto grown = residentMegabytes() - memory;
            if (elapsed > timeLimit || grown > megabytesLimit)
            {
                std::fprintf (stderr, "\n%s: not done after %.1f s (%d so far), memory grown by %ld MB\n", what.c_str(),
                              std::chrono::duration<double> (elapsed).count(), count.load(), grown);
                std::abort();
            }
        }
    });
}

Watchdog::~Watchdog()
{
    done = true;
    thread.join();
}
} // namespace rawhost

// HOME points at a fresh folder for the whole run, so the plug-in's per-user settings are
// never the real user's.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

    char pattern[] = "/tmp/kelvor-rawhost-XXXXXX";
    const std::filesystem::path home (mkdtemp (pattern));
    setenv ("HOME", home.c_str(), 1);
    unsetenv ("XDG_CONFIG_HOME");

    const auto result = RUN_ALL_TESTS();
    std::filesystem::remove_all (home);
    return result;
}
