#include "TestSupport.h"

#include <cstring>

using namespace kelvor::test;

namespace
{
juce::MemoryBlock saveState (Kelvo58AudioProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation (block);
    return block;
}

juce::String savedText (Kelvo58AudioProcessor& p)
{
    const auto block = saveState (p);
    return juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8, (int) block.getSize() - 9);
}

const char* const stateXml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <Kelvo58Quorvanta plugin_version=\"1\">"
                             "<PARAM id=\"drywet\" value=\"40.0\"/><PARAM id=\"p0\" value=\"1.0\"/>"
                             "<PARAM id=\"p1\" value=\"0.25\"/><PARAM id=\"postgain\" value=\"-3.0\"/>"
                             "<PARAM id=\"pregain\" value=\"12.0\"/><PARAM id=\"synchOn\" value=\"1.0\"/>"
                             "</Kelvo58Quorvanta>";

std::vector<float> values (Kelvo58AudioProcessor& p)
{
    std::vector<float> v;
    for (auto* param : p.getParameters())
        v.push_back (static_cast<FlexyParameter*> (param)->value.load());
    return v;
}

void writeSettings (const juce::String& body)
{
    auto file = IsolatedHome::settingsFile();
    file.getParentDirectory().createDirectory();
    file.replaceWithText ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>" + body + "</PROPERTIES>\n");
}
} // namespace

TEST (SavedState, FreshInstanceBlockByteByByte)
{
    Kelvo58AudioProcessor p;
    const auto block = saveState (p);
    const juce::String expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <Kelvo58Quorvanta plugin_version=\"1\">"
        "<PARAM id=\"drywet\" value=\"100.0\"/><PARAM id=\"p0\" value=\"0.0\"/>"
        "<PARAM id=\"p1\" value=\"0.5\"/><PARAM id=\"postgain\" value=\"6.0\"/>"
        "<PARAM id=\"pregain\" value=\"-6.0\"/><PARAM id=\"synchOn\" value=\"0.0\"/>"
        "</Kelvo58Quorvanta>";

    const auto* bytes = static_cast<const unsigned char*> (block.getData());
    ASSERT_EQ (block.getSize(), expected.getNumBytesAsUTF8() + 9);
    EXPECT_EQ (std::memcmp (bytes, "VC2!", 4), 0);
    EXPECT_EQ (juce::ByteOrder::littleEndianInt (bytes + 4), (juce::uint32) block.getSize() - 9);
    EXPECT_EQ (juce::String::fromUTF8 ((const char*) bytes + 8, (int) block.getSize() - 9), expected);
    EXPECT_EQ (bytes[block.getSize() - 1], 0);
}

TEST (SavedState, RoundTripAndVersionAttributeKeptSingle)
{
    Kelvo58AudioProcessor a;
    a.setStateInformation (stateChunk (stateXml).getData(), (int) stateChunk (stateXml).getSize());
    const std::vector<float> expected { 12.0f, -3.0f, 40.0f, 1.0f, 0.25f, 1.0f };
    EXPECT_EQ (values (a), expected);

    const auto saved = saveState (a);
    Kelvo58AudioProcessor b;
    b.setStateInformation (saved.getData(), (int) saved.getSize());
    EXPECT_EQ (values (b), expected);
    const auto text = savedText (b);
    EXPECT_TRUE (text.contains ("plugin_version=\"1\""));
    EXPECT_EQ (text.indexOf ("plugin_version"), text.lastIndexOf ("plugin_version"));
}

TEST (SavedState, MalformedBlocksAreIgnored)
{
    Kelvo58AudioProcessor p;
    const auto before = values (p);
    const auto good = stateChunk (stateXml);

    for (int size = 0; size <= 8; ++size)
        p.setStateInformation (good.getData(), size);

    auto wrongMagic = good;
    static_cast<char*> (wrongMagic.getData())[0] = 'X';
    auto zeroLength = stateChunk (stateXml, 0);
    auto negativeLength = stateChunk (stateXml, -5);
    negativeLength.copyFrom ("\xfb\xff\xff\xff", 4, 4);
    auto emptyText = stateChunk ("");
    auto notXml = stateChunk ("this is not xml <<<");
    auto otherRoot = stateChunk (juce::String (stateXml).replace ("Kelvo58Quorvanta", "SomethingElse"));

    for (auto* block : { &wrongMagic, &zeroLength, &negativeLength, &emptyText, &notXml, &otherRoot })
        p.setStateInformation (block->getData(), (int) block->getSize());
    p.setStateInformation (nullptr, 100);

    EXPECT_EQ (values (p), before);
}

TEST (SavedState, LenientRootTagVersionAndLength)
{
    const std::vector<float> expected { 12.0f, -3.0f, 40.0f, 1.0f, 0.25f, 1.0f };

    Kelvo58AudioProcessor capitals;
    const auto upper = stateChunk (juce::String (stateXml).replace ("Kelvo58Quorvanta", "KELVO58QUORVANTA"));
    capitals.setStateInformation (upper.getData(), (int) upper.getSize());
    EXPECT_EQ (values (capitals), expected);
    EXPECT_TRUE (savedText (capitals).contains ("<KELVO58QUORVANTA"));

    Kelvo58AudioProcessor noVersion;
    const auto bare = stateChunk (juce::String (stateXml).replace (" plugin_version=\"1\"", ""));
    noVersion.setStateInformation (bare.getData(), (int) bare.getSize());
    EXPECT_EQ (values (noVersion), expected);

    // A declared length beyond the bytes present: the text is cut to what is there.
    Kelvo58AudioProcessor longLength;
    const auto overlong = stateChunk (stateXml, 1 << 20);
    longLength.setStateInformation (overlong.getData(), (int) overlong.getSize());
    EXPECT_EQ (values (longLength), expected);
}

TEST (SavedState, UnknownParamChildIsKeptAndWrittenAgain)
{
    Kelvo58AudioProcessor p;
    const auto block = stateChunk (juce::String (stateXml).replace ("</Kelvo58Quorvanta>",
                                                               "<PARAM id=\"mystery\" value=\"3.0\"/></Kelvo58Quorvanta>"));
    p.setStateInformation (block.getData(), (int) block.getSize());
    EXPECT_TRUE (savedText (p).contains ("mystery"));
}

TEST (Settings, SizeIsTakenOnlyWhenBothArePositive)
{
    auto sizeFor = [] (const juce::String& body) -> std::pair<float, float>
    {
        writeSettings (body);
        Kelvo58AudioProcessor p;
        return { p.editorWidth.load(), p.editorHeight.load() };
    };

    IsolatedHome::settingsFile().deleteFile();
    {
        Kelvo58AudioProcessor p;
        EXPECT_EQ (p.editorWidth.load(), 0.0f);
        EXPECT_EQ (p.editorHeight.load(), 0.0f);
    }

    using Size = std::pair<float, float>;
    EXPECT_EQ (sizeFor ("<VALUE name=\"Width\" val=\"600\"/><VALUE name=\"Height\" val=\"654\"/>"), (Size { 600.0f, 654.0f }));
    EXPECT_EQ (sizeFor ("<VALUE name=\"Width\" val=\"600\"/>"), (Size { 0.0f, 0.0f }));
    EXPECT_EQ (sizeFor ("<VALUE name=\"Width\" val=\"500\"/><VALUE name=\"Height\" val=\"0\"/>"), (Size { 0.0f, 0.0f }));
    EXPECT_EQ (sizeFor ("<VALUE name=\"width\" val=\"500\"/><VALUE name=\"height\" val=\"400\"/>"), (Size { 0.0f, 0.0f }));
    EXPECT_EQ (sizeFor ("<VALUE name=\"Width\" val=\"300.7\"/><VALUE name=\"Height\" val=\"400\"/>"), (Size { 300.7f, 400.0f }));
    EXPECT_EQ (sizeFor ("<VALUE name=\"Width\" val=\"wide\"/><VALUE name=\"Height\" val=\"400\"/>"), (Size { 0.0f, 0.0f }));
    EXPECT_EQ (sizeFor ("garbage"), (Size { 0.0f, 0.0f }));
}

TEST (Settings, SavingStateWritesTheEditorSize)
{
    IsolatedHome::settingsFile().deleteFile();
    {
        Kelvo58AudioProcessor p;
        saveState (p); // fresh install: 0 x 0, written when the processor goes
    }
    auto xml = juce::parseXML (IsolatedHome::settingsFile());
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getChildByAttribute ("name", "Width")->getDoubleAttribute ("val", -1), 0.0);
    {
        Kelvo58AudioProcessor p;
        EXPECT_EQ (p.editorWidth.load(), 0.0f);
        p.editorWidth = 352.0f;
        p.editorHeight = 384.0f;
        saveState (p);
    }
    Kelvo58AudioProcessor later;
    EXPECT_EQ (later.editorWidth.load(), 352.0f);
    EXPECT_EQ (later.editorHeight.load(), 384.0f);
}

TEST (SavedState, PartialChunkKeepsWhatItDoesNotMention)
{
    Kelvo58AudioProcessor p;
    setParam (p.p0Param, 0.0f);
    setParam (p.pregainParam, p.pregainParam->convertTo0to1 (24.0f));
    setParam (p.p1Param, 0.25f);

    const auto onlyMix = stateChunk ("<Kelvo58Quorvanta><PARAM id=\"drywet\" value=\"30.0\"/></Kelvo58Quorvanta>");
    p.setStateInformation (onlyMix.getData(), (int) onlyMix.getSize());
    const std::vector<float> expected { 24.0f, 6.0f, 30.0f, 0.0f, 0.25f, 0.0f };
    EXPECT_EQ (values (p), expected);

    // The missing children are added, so the next save holds all six again.
    const auto text = savedText (p);
    for (auto* id : { "drywet", "p0", "p1", "postgain", "pregain", "synchOn" })
        EXPECT_TRUE (text.contains (juce::String ("id=\"") + id + "\"")) << id;
    Kelvo58AudioProcessor reloaded;
    const auto saved = saveState (p);
    reloaded.setStateInformation (saved.getData(), (int) saved.getSize());
    EXPECT_EQ (values (reloaded), expected);

    // A child without a value still means the default.
    const auto bareChild = stateChunk ("<Kelvo58Quorvanta><PARAM id=\"pregain\"/></Kelvo58Quorvanta>");
    p.setStateInformation (bareChild.getData(), (int) bareChild.getSize());
    EXPECT_EQ (p.pregainParam->value.load(), -6.0f);
    EXPECT_EQ (p.drywetParam->value.load(), 30.0f);
}

TEST (SavedState, HostileTextIsIgnoredWithoutHarm)
{
    Kelvo58AudioProcessor p;
    const auto before = values (p);

    // Nesting the XML reader would follow until the stack runs out, and just past the bound.
    for (int depth : { 100000, 17 })
    {
        juce::String deep;
        deep.preallocateBytes ((size_t) depth * 8);
        for (int i = 0; i < depth; ++i)
            deep << "<a>";
        const auto block = stateChunk ("<Kelvo58Quorvanta>" + deep + "</Kelvo58Quorvanta>");
        p.setStateInformation (block.getData(), (int) block.getSize());
        EXPECT_EQ (values (p), before) << depth;
    }

    // Quoted '>' and comments do not fool the depth count; a real state still loads.
    const auto decorated = stateChunk (juce::String (stateXml).replace ("<PARAM id=\"p1\"", "<!-- <a><b><c> --><PARAM note=\"<x>/>\" id=\"p1\""));
    p.setStateInformation (decorated.getData(), (int) decorated.getSize());
    EXPECT_EQ (p.p1Param->value.load(), 0.25f);
}

TEST (Settings, UnreadableFileIsDroppedAndTheEditorSizeForgotten)
{
    std::string deep, hugeButFlat;
    for (int i = 0; i < 100000; ++i)
        deep += "<VALUE>";
    for (int i = 0; i < 60000; ++i)
        hugeButFlat += "<VALUE name=\"x\" val=\"1\"/>";

    for (const auto& body : { deep, hugeButFlat })
    {
        writeSettings ("<VALUE name=\"Width\" val=\"400\"/><VALUE name=\"Height\" val=\"436\"/>" + juce::String (body));
        Kelvo58AudioProcessor p;
        EXPECT_EQ (p.editorWidth.load(), 0.0f);
        EXPECT_FALSE (IsolatedHome::settingsFile().existsAsFile());
    }

    // Infinite sizes are no sizes.
    writeSettings ("<VALUE name=\"Width\" val=\"inf\"/><VALUE name=\"Height\" val=\"400\"/>");
    Kelvo58AudioProcessor p;
    EXPECT_EQ (p.editorWidth.load(), 0.0f);
}
