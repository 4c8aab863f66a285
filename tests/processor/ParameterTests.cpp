#include "TestSupport.h"

using namespace kelvor::test;

namespace
{
struct Row
{
    const char* id;
    const char* hostName;
    float min, max, defaultNormalised, startValue;
};

const Row table[] = {
    { "pregain", "Pre Gain", -48.0f, 48.0f, 0.4375f, -6.0f },
    { "postgain", "Post Gain", -48.0f, 48.0f, 0.5625f, 6.0f },
    { "drywet", "Dry/Wet", 0.0f, 100.0f, 1.0f, 100.0f },
    { "p0", "BypassOff", 0.0f, 1.0f, 0.5f, 0.0f },
    { "p1", "Speed", 0.0f, 1.0f, 0.5f, 0.5f },
    { "synchOn", "Synch On", 0.0f, 1.0f, 0.0f, 0.0f },
};
} // namespace

TEST (Parameters, TableOrderNamesRangesDefaultsAndStartValues)
{
    Kelvo58AudioProcessor p;
    const auto& params = p.getParameters();
    ASSERT_EQ (params.size(), 6);

    for (int i = 0; i < 6; ++i)
    {
        SCOPED_TRACE (table[i].id);
        auto* flexy = dynamic_cast<FlexyParameter*> (params[i]);
        ASSERT_NE (flexy, nullptr);
        EXPECT_EQ (flexy->getParameterID(), table[i].id);
        EXPECT_EQ (flexy->getName (128), table[i].hostName);
        EXPECT_EQ (flexy->range.start, table[i].min);
        EXPECT_EQ (flexy->range.end, table[i].max);
        EXPECT_FLOAT_EQ (flexy->range.interval, 0.01f);
        EXPECT_FLOAT_EQ (flexy->getDefaultValue(), table[i].defaultNormalised);
        EXPECT_FLOAT_EQ (flexy->value.load(), table[i].startValue);
        EXPECT_EQ (flexy->getNumSteps(), 2147483647);
        EXPECT_FALSE (flexy->isDiscrete());
        EXPECT_FALSE (flexy->isBoolean());
        EXPECT_TRUE (flexy->isAutomatable());
        EXPECT_EQ (flexy->getLabel(), "");
    }

    // The base keeps the construction names; only what hosts see changes.
    EXPECT_EQ (p.p0Param->name, "Parameter 1");
    EXPECT_EQ (p.p1Param->name, "Parameter 2");

    EXPECT_EQ (p.pregainParam, params[0]);
    EXPECT_EQ (p.postgainParam, params[1]);
    EXPECT_EQ (p.drywetParam, params[2]);
    EXPECT_EQ (p.p0Param, params[3]);
    EXPECT_EQ (p.p1Param, params[4]);
    EXPECT_EQ (p.synchOnParam, params[5]);
}

TEST (Parameters, NameIsCutByCharactersNeverBytes)
{
    Kelvo58AudioProcessor p;
    EXPECT_EQ (p.p0Param->getName (0), "");
    EXPECT_EQ (p.p0Param->getName (-1), "");
    EXPECT_EQ (p.p0Param->getName (3), "Byp");

    FlexyParameter umlaut ("x", juce::String::fromUTF8 ("Gr\xc3\xb6\xc3\x9f" "e"), 0.0f, 1.0f, 0.0f);
    EXPECT_EQ (umlaut.getName (3), juce::String::fromUTF8 ("Gr\xc3\xb6"));
    EXPECT_EQ (umlaut.getName (3).getNumBytesAsUTF8(), 4u);
}

TEST (Parameters, TextConversions)
{
    Kelvo58AudioProcessor p;
    EXPECT_EQ (p.pregainParam->getText (0.5f, 0), "0.00");
    EXPECT_EQ (p.pregainParam->getText (0.0f, 0), "-48.00");
    EXPECT_EQ (p.pregainParam->getText (0.4375f, 0), "-6.00");
    EXPECT_EQ (p.drywetParam->getText (1.0f, 3), "100");
    EXPECT_EQ (p.drywetParam->getText (1.0f, 0), "100.00");
    EXPECT_EQ (p.p1Param->getText (0.5f, 0), "0.50");

    EXPECT_FLOAT_EQ (p.pregainParam->getValueForText ("-6.00"), 0.4375f);
    EXPECT_FLOAT_EQ (p.pregainParam->getValueForText ("abc"), 0.5f);
    EXPECT_FLOAT_EQ (p.drywetParam->getValueForText ("abc"), 0.0f);
    EXPECT_FLOAT_EQ (p.drywetParam->getValueForText ("250"), 1.0f);
    EXPECT_FLOAT_EQ (p.postgainParam->getValueForText ("12.004 dB"), 0.625f);
}

TEST (Parameters, DecimalPlacesFollowTheGrid)
{
    EXPECT_EQ (FlexyParameter::decimalPlacesForInterval (0.01f), 2);
    EXPECT_EQ (FlexyParameter::decimalPlacesForInterval (0.5f), 1);
    EXPECT_EQ (FlexyParameter::decimalPlacesForInterval (0.25f), 2);
    EXPECT_EQ (FlexyParameter::decimalPlacesForInterval (0.001f), 3);
    EXPECT_EQ (FlexyParameter::decimalPlacesForInterval (1.0f), 0);
    EXPECT_EQ (FlexyParameter::decimalPlacesForInterval (0.0f), 7);
}

TEST (Parameters, SetValueSnapsClampsAndNotifiesNobody)
{
    Kelvo58AudioProcessor p;

    struct Counter : juce::AudioProcessorParameter::Listener
    {
        int calls = 0;
        void parameterValueChanged (int, float) override { ++calls; }
        void parameterGestureChanged (int, bool) override {}
    } counter;
    p.p1Param->addListener (&counter);

    p.p1Param->setValue (0.123f);
    EXPECT_FLOAT_EQ (p.p1Param->value.load(), 0.12f);
    EXPECT_FLOAT_EQ (p.p1Param->getValue(), 0.12f);
    p.p1Param->setValue (1.7f);
    EXPECT_EQ (p.p1Param->value.load(), 1.0f);
    p.p1Param->setValue (-0.3f);
    EXPECT_EQ (p.p1Param->value.load(), 0.0f);
    EXPECT_EQ (counter.calls, 0);

    p.p1Param->sendValueChangedMessageToListeners (0.0f);
    EXPECT_EQ (counter.calls, 1);
    p.p1Param->removeListener (&counter);

    // Gain grid: -6.004 dB lands on -6.00.
    p.pregainParam->setValue (p.pregainParam->convertTo0to1 (-6.004f));
    EXPECT_FLOAT_EQ (p.pregainParam->value.load(), -6.0f);
}

// NaN and infinities can come from a host, a project file or a text box; none may reach
// the stored value, and the audio must stay finite afterwards.
TEST (Parameters, NonFiniteValuesNeverReachTheStoredValue)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();

    auto checkAudio = [] (Kelvo58AudioProcessor& p)
    {
        for (double rate : { 44100.0, 96000.0 })
        {
            p.prepareToPlay (rate, 128);
            std::vector<std::vector<float>> audio (2, std::vector<float> (1024));
            for (size_t i = 0; i < audio[0].size(); ++i)
                audio[0][i] = audio[1][i] = 0.3f * std::sin (0.02f * (float) i);
            runInBlocks (p, audio, 128);
            for (auto& ch : audio)
                for (float x : ch)
                    ASSERT_TRUE (std::isfinite (x));
        }
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.id);

        // Through the host's setValue.
        Kelvo58AudioProcessor host;
        auto* param = static_cast<FlexyParameter*> (host.valueTreeState.getParameter (row.id));
        param->setValue (0.3f);
        const float kept = param->value.load();
        param->setValue (nan);
        EXPECT_EQ (param->value.load(), kept);
        EXPECT_TRUE (std::isfinite (param->getValue()));
        param->setValue (inf);
        EXPECT_EQ (param->value.load(), row.max);
        param->setValue (-inf);
        EXPECT_EQ (param->value.load(), row.min);
        param->setValue (nan);
        checkAudio (host);

        // Through a text box: "nan" names no value, "inf" the end of the range.
        Kelvo58AudioProcessor text;
        auto* textParam = static_cast<FlexyParameter*> (text.valueTreeState.getParameter (row.id));
        const float before = textParam->getValue();
        EXPECT_EQ (textParam->getValueForText ("nan"), before);
        EXPECT_EQ (textParam->getValueForText ("inf"), 1.0f);
        EXPECT_EQ (textParam->getValueForText ("-inf"), 0.0f);
        setParam (textParam, textParam->getValueForText ("nan"));
        EXPECT_TRUE (textParam->getText (nan, 0).containsOnly ("-0123456789."));
        checkAudio (text);

        // Through a project file.
        Kelvo58AudioProcessor chunkProc;
        auto* chunkParam = static_cast<FlexyParameter*> (chunkProc.valueTreeState.getParameter (row.id));
        const float start = chunkParam->value.load();
        struct HostNotes : juce::AudioProcessorParameter::Listener
        {
            bool sawNonFinite = false;
            void parameterValueChanged (int, float v) override { sawNonFinite |= ! std::isfinite (v); }
            void parameterGestureChanged (int, bool) override {}
        } notes;
        chunkParam->addListener (&notes);
        for (auto [textValue, expected] : { std::pair { "nan", start }, { "inf", row.max }, { "-inf", row.min }, { "nan", row.min } })
        {
            const auto block = stateChunk (juce::String ("<Kelvo58Quorvanta><PARAM id=\"") + row.id + "\" value=\""
                                           + textValue + "\"/></Kelvo58Quorvanta>");
            chunkProc.setStateInformation (block.getData(), (int) block.getSize());
            EXPECT_EQ (chunkParam->value.load(), expected) << textValue;
        }
        chunkParam->removeListener (&notes);
        EXPECT_FALSE (notes.sawNonFinite);
        checkAudio (chunkProc);
    }
}
