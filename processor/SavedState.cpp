#include "PluginProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{
juce::PropertiesFile::Options settingsOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "Kelvor58";
    options.filenameSuffix = ".settings";
    options.folderName = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                             .getChildFile ("Kelvor58")
                             .getFullPathName();
    options.osxLibrarySubFolder = "Application Support";
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    options.commonToAllUsers = false;
    options.ignoreCaseOfKeyNames = false;
    options.doNotSave = false;
    options.millisecondsBeforeSaving = 3000;
    options.processLock = nullptr;
    return options;
}

// The saved state and the settings file are two levels deep; anything nested deeper is not
// ours, and the framework's XML reader recurses once per level.
constexpr int maximumXmlDepth = 16;
// A real settings file holds two numbers; a larger one is not worth reading.
constexpr juce::int64 maximumSettingsFileBytes = 1 << 20;

// True when the text opens elements more than maxDepth levels deep. Comments, CDATA,
// declarations and quoted attribute values are skipped the way the XML reader skips them.
bool xmlNestsDeeperThan (const char* text, size_t length, int maxDepth) noexcept
{
    auto startsWith = [&] (size_t at, const char* prefix)
    {
        const auto n = std::strlen (prefix);
        return at + n <= length && std::memcmp (text + at, prefix, n) == 0;
    };
    auto skipPast = [&] (size_t from, const char* terminator)
    {
        const auto n = std::strlen (terminator);
        for (size_t i = from; i + n <= length; ++i)
            if (std::memcmp (text + i, terminator, n) == 0)
                return i + n;
        return length;
    };

    int depth = 0;
    size_t i = 0;
    while (i < length)
    {
        if (text[i] != '<')
            ++i;
        else if (startsWith (i, "<!--"))
            i = skipPast (i + 4, "-->");
        else if (startsWith (i, "<![CDATA["))
            i = skipPast (i + 9, "]]>");
        else if (startsWith (i, "<?"))
            i = skipPast (i + 2, "?>");
        else if (startsWith (i, "<!"))
            i = skipPast (i + 2, ">");
        else if (startsWith (i, "</"))
        {
            depth = std::max (0, depth - 1);
            i = skipPast (i + 2, ">");
        }
        else
        {
            char quote = 0;
            size_t end = i + 1;
            for (; end < length; ++end)
            {
                const char c = text[end];
                if (quote != 0)
                    quote = (c == quote) ? 0 : quote;
                else if (c == '"' || c == '\'')
                    quote = c;
                else if (c == '>')
                    break;
            }
            const bool selfClosing = end < length && text[end - 1] == '/';
            if (! selfClosing && ++depth > maxDepth)
                return true;
            i = end + 1;
        }
    }
    return false;
}

// A settings file that is too large or too deep to read safely is dropped, so the framework
// never parses it; the editor size falls back to none and the next change writes a fresh file.
void discardUnreadableSettings (const juce::PropertiesFile::Options& options)
{
    const auto file = options.getDefaultFile();
    if (! file.existsAsFile())
        return;

    bool readable = file.getSize() <= maximumSettingsFileBytes;
    if (readable)
    {
        juce::MemoryBlock content;
        readable = file.loadFileAsData (content)
                   && ! xmlNestsDeeperThan (static_cast<const char*> (content.getData()), content.getSize(), maximumXmlDepth);
    }
    if (! readable)
        file.deleteFile();
}
} // namespace

//==============================================================================
void Kelvo58AudioProcessor::openSettings()
{
    discardUnreadableSettings (settingsOptions());
    appProperties.setStorageParameters (settingsOptions());

    if (auto* settings = appProperties.getUserSettings())
    {
        // A size is only taken whole, and "inf" or "nan" is no size.
        const double width = settings->getDoubleValue ("Width");
        if (width > 0.0 && std::isfinite (width))
        {
            const double height = settings->getDoubleValue ("Height");
            if (height > 0.0 && std::isfinite (height))
            {
                editorWidth = static_cast<float> (width);
                editorHeight = static_cast<float> (height);
            }
        }
    }
}

//==============================================================================
void Kelvo58AudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    // copyState flushes the parameters and copies the tree under the state's lock.
    const auto state = valueTreeState.copyState();
    if (auto xml = state.createXml())
    {
        xml->setAttribute ("plugin_version", "1");
        destData.reset();
        copyXmlToBinary (*xml, destData);
    }

    if (auto* settings = appProperties.getUserSettings())
    {
        settings->setValue ("Width", static_cast<double> (editorWidth.load()));
        settings->setValue ("Height", static_cast<double> (editorHeight.load()));
    }
}

void Kelvo58AudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8)
        return;

    const auto* bytes = static_cast<const char*> (data);
    if (juce::ByteOrder::littleEndianInt (bytes) != 0x21324356u)
        return;

    const auto length = static_cast<int32_t> (juce::ByteOrder::littleEndianInt (bytes + 4));
    if (length <= 0)
        return;

    // The text ends at the bytes present or at the first zero byte, whichever comes first.
    const auto available = static_cast<size_t> (std::min (length, sizeInBytes - 8));
    const auto* text = bytes + 8;
    const auto* end = static_cast<const char*> (std::memchr (text, 0, available));
    const auto textLength = end != nullptr ? static_cast<size_t> (end - text) : available;
    if (textLength == 0 || xmlNestsDeeperThan (text, textLength, maximumXmlDepth))
        return;

    const auto xml = juce::XmlDocument::parse (juce::String::fromUTF8 (text, static_cast<int> (textLength)));
    if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase (valueTreeState.state.getType().toString()))
        return;

    auto tree = juce::ValueTree::fromXml (*xml);
    keepCurrentValuesWhereTheChunkHasNone (tree);
    valueTreeState.replaceState (tree);
}

void Kelvo58AudioProcessor::keepCurrentValuesWhereTheChunkHasNone (juce::ValueTree& tree) const
{
    static const juce::Identifier paramType ("PARAM"), idKey ("id"), valueKey ("value");

    // In ID order, as the framework would append them.
    auto parameters = getParameters();
    std::sort (parameters.begin(), parameters.end(), [] (auto* a, auto* b)
               { return static_cast<FlexyParameter*> (a)->getParameterID() < static_cast<FlexyParameter*> (b)->getParameterID(); });

    for (auto* parameter : parameters)
    {
        auto* flexy = static_cast<FlexyParameter*> (parameter);
        auto child = tree.getChildWithProperty (idKey, flexy->getParameterID());

        // A parameter the chunk does not mention keeps its value; the framework would
        // otherwise reset it to its default.
        if (! child.isValid())
        {
            child = juce::ValueTree (paramType);
            child.setProperty (idKey, flexy->getParameterID(), nullptr);
            child.setProperty (valueKey, static_cast<double> (flexy->value.load()), nullptr);
            tree.appendChild (child, nullptr);
            continue;
        }

        // "nan" and "inf" read as numbers; a value with no position keeps the current one.
        if (child.hasProperty (valueKey))
        {
            const double stored = child[valueKey];
            if (std::isnan (stored))
                child.setProperty (valueKey, static_cast<double> (flexy->value.load()), nullptr);
            else if (std::isinf (stored))
                child.setProperty (valueKey, static_cast<double> (stored > 0 ? flexy->range.end : flexy->range.start), nullptr);
        }
    }
}
