// The controller's and the component's calls as careless hosts make them: indexes one past the
// end or anywhere else, values that are no position, messages from anyone.
#include "RawHost.h"

#include <pluginterfaces/vst/ivstparameterchanges.h>
#include <pluginterfaces/vst/ivstunits.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

using namespace rawhost;

namespace
{
const int32 oddIndexes[] = { -1, 1, 7, 8, 1000, INT_MAX, INT_MIN };

// A message as a host passes one between component and controller; with or without attributes,
// whose only entry is the controller's address.
struct Message : Vst::IMessage, Vst::IAttributeList
{
    Message (const char* idToUse, bool withAttributes, int64 addressToSend)
        : id (idToUse), hasAttributes (withAttributes), address (addressToSend) {}

    FIDString PLUGIN_API getMessageID() override { return id; }
    void PLUGIN_API setMessageID (FIDString) override {}
    IAttributeList* PLUGIN_API getAttributes() override { return hasAttributes ? this : nullptr; }

    tresult PLUGIN_API getInt (AttrID, int64& value) override { value = address; return kResultTrue; }
    tresult PLUGIN_API getString (AttrID, Vst::TChar*, uint32) override { return kResultFalse; }
    tresult PLUGIN_API setInt (AttrID, int64) override { return kResultFalse; }
    tresult PLUGIN_API setFloat (AttrID, double) override { return kResultFalse; }
    tresult PLUGIN_API getFloat (AttrID, double&) override { return kResultFalse; }
    tresult PLUGIN_API setString (AttrID, const Vst::TChar*) override { return kResultFalse; }
    tresult PLUGIN_API setBinary (AttrID, const void*, uint32) override { return kResultFalse; }
    tresult PLUGIN_API getBinary (AttrID, const void*&, uint32&) override { return kResultFalse; }

    tresult PLUGIN_API queryInterface (const TUID, void** obj) override { *obj = nullptr; return kNoInterface; }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    const char* id;
    bool hasAttributes;
    int64 address;
};

// One parameter change at the start of a block, as a host's automation sends it.
struct OneChange : Vst::IParameterChanges, Vst::IParamValueQueue
{
    OneChange (Vst::ParamID idToChange, double valueToSend) : id (idToChange), value (valueToSend) {}

    int32 PLUGIN_API getParameterCount() override { return 1; }
    IParamValueQueue* PLUGIN_API getParameterData (int32 index) override { return index == 0 ? this : nullptr; }
    IParamValueQueue* PLUGIN_API addParameterData (const Vst::ParamID&, int32&) override { return nullptr; }

    Vst::ParamID PLUGIN_API getParameterId() override { return id; }
    int32 PLUGIN_API getPointCount() override { return 1; }
    tresult PLUGIN_API getPoint (int32 index, int32& offset, Vst::ParamValue& v) override
    {
        offset = 0;
        v = value;
        return index == 0 ? kResultTrue : kResultFalse;
    }
    tresult PLUGIN_API addPoint (int32, Vst::ParamValue, int32&) override { return kResultFalse; }

    tresult PLUGIN_API queryInterface (const TUID, void** obj) override { *obj = nullptr; return kNoInterface; }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    Vst::ParamID id;
    double value;
};

IPtr<Vst::IEditController> unconnectedController (const Plugin& plugin)
{
    TUID cid;
    plugin.component->getControllerClassId (cid);
    Vst::IEditController* controller = nullptr;
    factory().createInstance (cid, Vst::IEditController::iid, reinterpret_cast<void**> (&controller));
    auto owned = Steinberg::owned (controller);
    if (owned != nullptr)
        owned->initialize (nullptr);
    return owned;
}

// The address of the framework's own controller object, as it sends it to its component.
int64 addressOf (Vst::IEditController& controller, const Plugin& plugin)
{
    TUID cid;
    plugin.component->getControllerClassId (cid);
    FUnknown* object = nullptr;
    controller.queryInterface (cid, reinterpret_cast<void**> (&object));
    if (object != nullptr)
        object->release();
    return static_cast<int64> (reinterpret_cast<intptr_t> (object));
}
} // namespace

TEST (Vst3Controller, IndexesOutsideTheirRangesAreRefusedAndWriteNothing)
{
    Plugin plugin;
    auto& controller = *plugin.controller;
    const auto numParameters = controller.getParameterCount();
    ASSERT_EQ (numParameters, 7);

    for (const auto index : oddIndexes)
    {
        if (index >= 0 && index < numParameters)
            continue;
        Vst::ParameterInfo info;
        std::memset (&info, 0x5a, sizeof (info));
        const auto before = info;
        EXPECT_NE (controller.getParameterInfo (index, info), kResultOk) << index;
        EXPECT_EQ (std::memcmp (&info, &before, sizeof (info)), 0) << index;
    }

    // Units and program lists, of the controller and of the component.
    for (FUnknownPtr<Vst::IUnitInfo> units : { FUnknownPtr<Vst::IUnitInfo> (plugin.controller),
                                               FUnknownPtr<Vst::IUnitInfo> (plugin.component) })
    {
        ASSERT_NE (units, nullptr);
        Vst::ProgramListInfo list {};
        ASSERT_EQ (units->getProgramListInfo (0, list), kResultOk);
        ASSERT_EQ (list.programCount, 1);

        for (const auto index : oddIndexes)
        {
            Vst::UnitInfo unit {};
            Vst::ProgramListInfo otherList {};
            Vst::String128 name {};
            Vst::UnitID unitId = 0;
            EXPECT_NE (units->getUnitInfo (index, unit), kResultOk) << index;
            EXPECT_NE (units->getProgramListInfo (index, otherList), kResultOk) << index;
            EXPECT_NE (units->getProgramName (list.id, index, name), kResultOk) << index;
            EXPECT_NE (units->getProgramName (index, 0, name), kResultOk) << index;
            EXPECT_NE (units->hasProgramPitchNames (list.id, index), kResultTrue) << index;
            EXPECT_NE (units->getProgramPitchName (list.id, index, -1, name), kResultTrue) << index;
            units->getUnitByBus (Vst::kAudio, Vst::kInput, index, index, unitId);
            EXPECT_EQ (unitId, Vst::kRootUnitId);
        }
    }

    // Buses of every media type and direction, real or not.
    auto& component = *plugin.component;
    for (const int32 type : { (int32) Vst::kAudio, (int32) Vst::kEvent, 7, -1 })
        for (const int32 direction : { (int32) Vst::kInput, (int32) Vst::kOutput, 5, -1 })
            for (const auto index : oddIndexes)
            {
                Vst::BusInfo bus {};
                Vst::SpeakerArrangement arrangement = 0;
                EXPECT_NE (component.getBusInfo (type, direction, index, bus), kResultOk);
                EXPECT_NE (component.activateBus (type, direction, index, true), kResultOk);
                if (type == Vst::kAudio)
                    EXPECT_NE (plugin.processor->getBusArrangement (direction, index, arrangement), kResultOk);
            }

    // Arrangements for buses the plug-in does not have, or counted without their arrays.
    Vst::SpeakerArrangement stereo[2] = { Vst::SpeakerArr::kStereo, Vst::SpeakerArr::kStereo };
    EXPECT_NE (plugin.processor->setBusArrangements (stereo, 2, stereo, 2), kResultOk);
    EXPECT_NE (plugin.processor->setBusArrangements (nullptr, 1, nullptr, 1), kResultOk);
    EXPECT_NE (plugin.processor->setBusArrangements (stereo, -1, stereo, 1), kResultOk);
    EXPECT_NE (plugin.processor->setBusArrangements (stereo, INT_MIN, stereo, INT_MIN), kResultOk);
    EXPECT_EQ (plugin.processor->setBusArrangements (stereo, 1, stereo, 1), kResultTrue);

    // The factory's class list, as scanners probe it.
    FUnknownPtr<IPluginFactory3> classes (&factory());
    ASSERT_NE (classes, nullptr);
    for (const auto index : oddIndexes)
    {
        if (index >= 0 && index < factory().countClasses())
            continue;
        PClassInfo info {};
        PClassInfo2 info2 {};
        PClassInfoW infoW {};
        EXPECT_NE (classes->getClassInfo (index, &info), kResultOk) << index;
        EXPECT_NE (classes->getClassInfo2 (index, &info2), kResultOk) << index;
        EXPECT_NE (classes->getClassInfoUnicode (index, &infoW), kResultOk) << index;
    }

    // The plug-in plays on.
    plugin.prepare (256);
    StereoBlock block (256);
    block.fillInput (3);
    auto call = block.data (256);
    EXPECT_EQ (plugin.processor->process (call), kResultTrue);
    EXPECT_TRUE (block.outputFinite());
}

TEST (Vst3Controller, MessagesNamingNoLiveControllerAreIgnored)
{
    Plugin plugin;
    FUnknownPtr<Vst::IConnectionPoint> component (plugin.component), controller (plugin.controller);
    component->disconnect (controller);

    auto other = unconnectedController (plugin);
    ASSERT_NE (other, nullptr);
    ASSERT_EQ (other->getParameterCount(), 0);

    // Without attributes, or with an address no controller has: nothing happens.
    Message noAttributes ("JuceVST3EditController", false, 0);
    Message forged ("JuceVST3EditController", true, 0x1234);
    Message text ("TextMessage", false, 0);
    component->notify (&noAttributes);
    component->notify (&forged);
    FUnknownPtr<Vst::IConnectionPoint> (other)->notify (&text);
    controller->notify (&text);
    EXPECT_EQ (other->getParameterCount(), 0);

    // A live controller's address connects it, as hosts that pass messages rely on.
    Message real ("JuceVST3EditController", true, addressOf (*other, plugin));
    component->notify (&real);
    EXPECT_EQ (other->getParameterCount(), 7);
    other->terminate();
}

TEST (Vst3Controller, ValuesThatAreNoPositionKeepTheValueOthersAreClamped)
{
    constexpr auto nan = std::numeric_limits<double>::quiet_NaN();
    constexpr auto inf = std::numeric_limits<double>::infinity();
    const std::pair<double, double> sentAndKept[] = { { nan, 0.25 }, { inf, 1.0 }, { -inf, 0.0 }, { 7.0, 1.0 },
                                                      { -3.0, 0.0 }, { 1e300, 1.0 }, { -1e300, 0.0 } };
    Plugin plugin;
    auto& controller = *plugin.controller;

    for (int32 i = 0; i < controller.getParameterCount(); ++i)
    {
        Vst::ParameterInfo info {};
        ASSERT_EQ (controller.getParameterInfo (i, info), kResultOk);
        for (const auto& [sent, kept] : sentAndKept)
        {
            controller.setParamNormalized (info.id, 0.25);
            controller.setParamNormalized (info.id, sent);
            EXPECT_EQ (controller.getParamNormalized (info.id), kept) << "parameter " << i << " sent " << sent;

            Vst::String128 text {};
            EXPECT_EQ (controller.getParamStringByValue (info.id, sent, text), kResultTrue);
        }
    }

    // The same values as automation in a process call: NaN leaves the host's bypass as it was,
    // and the saved state still holds it.
    plugin.prepare (256);
    const auto bypass = plugin.parameter();
    StereoBlock block (256);
    for (const double sent : { 1.0, nan, 1e300 })
    {
        OneChange change (bypass, sent);
        auto call = block.data (256);
        call.inputParameterChanges = &change;
        EXPECT_EQ (plugin.processor->process (call), kResultTrue);
    }
    Plugin reloaded;
    reloaded.setState (plugin.getState());
    EXPECT_EQ (reloaded.controller->getParamNormalized (reloaded.parameter()), 1.0);
}
