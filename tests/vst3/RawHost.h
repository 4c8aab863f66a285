#pragma once

// A host written straight against the VST3 interfaces: it loads the built Kelvor58.so with
// dlopen and calls the module's entry points as a careless host or a damaged project would,
// with nothing of the framework's hosting in between.

#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/base/smartpointer.h>
#include <pluginterfaces/gui/iplugview.h>
#include <pluginterfaces/gui/iplugviewcontentscalesupport.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace rawhost
{
using namespace Steinberg;

/** The plug-in module, loaded once for the whole program. */
IPluginFactory& factory();

/** One plug-in as a host holds it: component and controller created by the factory,
    initialised and connected to each other. */
struct Plugin
{
    Plugin();
    ~Plugin();

    std::vector<char> getState();
    tresult setState (const std::vector<char>& chunk);

    /** setupProcessing at 48 kHz for blocks up to maxBlock, stereo buses on, active, processing. */
    void prepare (int32 maxBlock);

    /** The controller's parameter with this title; with no title, the host's bypass switch. */
    Vst::ParamID parameter (const char* title = nullptr);

    IPtr<Vst::IComponent> component;
    IPtr<Vst::IAudioProcessor> processor;
    IPtr<Vst::IEditController> controller;
};

/** Stereo host buffers of a given length, each channel with spare room after its end that the
    plug-in must leave alone. */
struct StereoBlock
{
    explicit StereoBlock (int32 length, int32 spare = 256);

    void fillInput (unsigned seed);
    void fillOutput (float value);
    bool outputFinite() const;
    bool spareUntouched() const;
    const float* output (int channel) const { return out[(size_t) channel].data(); }

    /** The process call for this block, with the given sample count. */
    Vst::ProcessData data (int32 numSamples);

    int32 length;
    std::vector<float> in[2], out[2];
    float* inPointers[2];
    float* outPointers[2];
    Vst::AudioBusBuffers inBus, outBus;

    static constexpr float guard = 12345.0f;
};

/** Ends the test program, saying what it was doing, if the work it watches is not done within
    the time limit or grows the process's resident memory beyond the memory limit: a hang or a
    flood must fail the run, not stall or sink it. */
class Watchdog
{
public:
    Watchdog (std::string what, std::chrono::milliseconds timeLimit, long megabytesLimit = 100000);
    ~Watchdog();

    std::atomic<int> count { 0 }; // how far the work got, for the message

private:
    std::atomic<bool> done { false };
    std::thread thread;
};
} // namespace rawhost
