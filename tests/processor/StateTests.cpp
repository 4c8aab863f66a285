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

juce::MemoryBlock chunk (const juce::String& xml, int declaredLength = -1)
{
    juce::MemoryBlock block;
    juce::MemoryOutputStream out (block, false);
    out.writeInt (0x21324356);
    out.writeInt (declaredLength >= 0 ? declaredLength : (int) xml.getNumBytesAsUTF8() + 1);
    out.write (xml.toRawUTF8(), xml.getNumBytesAsUTF8());
    out.writeByte (0);
    out.flush();
    return block;
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
    a.setStateInformation (chunk (stateXml).getData(), (int) chunk (stateXml).getSize());
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
    const auto good = chunk (stateXml);

    for (int size = 0; size <= 8; ++size)
        p.setStateInformation (good.getData(), size);

    auto wrongMagic = good;
    static_cast<char*> (wrongMagic.getData())[0] = 'X';
    auto zeroLength = chunk (stateXml, 0);
    auto negativeLength = chunk (stateXml, -5);
    negativeLength.copyFrom ("\xfb\xff\xff\xff", 4, 4);
    auto emptyText = chunk ("");
    auto notXml = chunk ("this is not xml <<<");
    auto otherRoot = chunk (juce::String (stateXml).replace ("Kelvo58Quorvanta", "SomethingElse"));

    for (auto* block : { &wrongMagic, &zeroLength, &negativeLength, &emptyText, &notXml, &otherRoot })
        p.setStateInformation (block->getData(), (int) block->getSize());
    p.setStateInformation (nullptr, 100);

    EXPECT_EQ (values (p), before);
}

TEST (SavedState, LenientRootTagVersionAndLength)
{
    const std::vector<float> expected { 12.0f, -3.0f, 40.0f, 1.0f, 0.25f, 1.0f };

    Kelvo58AudioProcessor capitals;
    const auto upper = chunk (juce::String (stateXml).replace ("Kelvo58Quorvanta", "KELVO58QUORVANTA"));
    capitals.setStateInformation (upper.getData(), (int) upper.getSize());
    EXPECT_EQ (values (capitals), expected);
    EXPECT_TRUE (savedText (capitals).contains ("<KELVO58QUORVANTA"));

    Kelvo58AudioProcessor noVersion;
    const auto bare = chunk (juce::String (stateXml).replace (" plugin_version=\"1\"", ""));
    noVersion.setStateInformation (bare.getData(), (int) bare.getSize());
    EXPECT_EQ (values (noVersion), expected);

    // A declared length beyond the bytes present: the text is cut to what is there.
    Kelvo58AudioProcessor longLength;
    const auto overlong = chunk (stateXml, 1 << 20);
    longLength.setStateInformation (overlong.getData(), (int) overlong.getSize());
    EXPECT_EQ (values (longLength), expected);
}

TEST (SavedState, UnknownParamChildIsKeptAndWrittenAgain)
{
    Kelvo58AudioProcessor p;
    const auto block = chunk (juce::String (stateXml).replace ("</Kelvo58Quorvanta>",
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
