#include "PluginProcessor.h"

#include "NumberText.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
// A real state or settings file is well under a kilobyte; a larger one is not worth reading.
constexpr size_t maximumXmlBytes = 1 << 20;
// The framework first reads a settings file's root tag from its first 8 KB alone: a character
// cut at that point sends its reader past the end, so the root tag must end before it.
constexpr size_t frameworkFirstReadBytes = 8192;

// The framework's XML reader trusts its text: it loops for ever on a processing instruction
// followed by text, reads past the end on a broken character, expands entities declared in
// the file. So only text shaped as its writer lays out our state and settings file reaches it:
// an optional declaration, then elements with attributes and whitespace between them, valid
// UTF-8, the references the writer uses, within the size and depth bounds. Nothing else.
class WriterShape
{
public:
    static bool matches (const char* text, size_t length)
    {
        return length <= maximumXmlBytes && WriterShape (text, length).document();
    }

private:
    WriterShape (const char* textToRead, size_t textLength)
        : text (reinterpret_cast<const unsigned char*> (textToRead)), length (textLength) {}

    const unsigned char* text;
    size_t length, at = 0;
    std::vector<std::string_view> attributeNames;

    int next() const noexcept { return at < length ? text[at] : -1; }

    bool skip (std::string_view literal) noexcept
    {
        if (length - at < literal.size() || std::memcmp (text + at, literal.data(), literal.size()) != 0)
            return false;
        at += literal.size();
        return true;
    }

    bool space() noexcept
    {
        const auto from = at;
        while (next() == ' ' || next() == '\n' || next() == '\r' || next() == '\t')
            ++at;
        return at > from;
    }

    static bool isNameStart (int c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':'; }
    static bool isNameCharacter (int c) noexcept { return isNameStart (c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

    std::string_view name() noexcept
    {
        const auto from = at;
        if (isNameStart (next()))
            while (isNameCharacter (next()))
                ++at;
        return { reinterpret_cast<const char*> (text + from), at - from };
    }

    bool document()
    {
        space();
        if (skip ("<?xml") && ! (attributes (true) && skip ("?>")))
            return false;
        space();

        std::string_view open[maximumXmlDepth];
        int depth = 0;
        do
        {
            if (depth > 0 && skip ("</"))
            {
                if (name() != open[--depth])
                    return false;
                space();
                if (! skip (">"))
                    return false;
            }
            else
            {
                const auto tag = skip ("<") ? name() : std::string_view();
                const bool isRoot = depth == 0;
                if (tag.empty() || ! attributes (false))
                    return false;
                if (skip (">"))
                {
                    if (depth == maximumXmlDepth)
                        return false;
                    open[depth++] = tag;
                }
                else if (! skip ("/>"))
                    return false;
                if (isRoot && at > frameworkFirstReadBytes)
                    return false;
            }
            space();
        } while (depth > 0);

        return at == length;
    }

    // Attributes, each separated by whitespace and named once; a "base64:" name stands for
    // the one the state tree stores it under.
    bool attributes (bool declaration)
    {
        attributeNames.clear();
        for (;;)
        {
            const bool separated = space();
            if (! isNameStart (next()))
                break;
            auto attribute = name();
            if (! separated)
                return false;
            if (attribute.substr (0, 7) == "base64:")
                attribute.remove_prefix (7);
            attributeNames.push_back (attribute);

            space();
            if (! skip ("="))
                return false;
            space();
            const int quote = next();
            if (quote != '"' && quote != '\'')
                return false;
            for (++at; next() != quote;)
                if (! (declaration ? declarationCharacter() : valueCharacter()))
                    return false;
            ++at;
        }
        std::sort (attributeNames.begin(), attributeNames.end());
        return std::adjacent_find (attributeNames.begin(), attributeNames.end()) == attributeNames.end();
    }

    // The reader ends the declaration at the first "?>", so its values hold only what
    // version="1.0" encoding="UTF-8" needs.
    bool declarationCharacter() noexcept
    {
        if (! isNameCharacter (next()) || next() == ':')
            return false;
        ++at;
        return true;
    }

    bool valueCharacter() noexcept
    {
        const int c = next();
        if (c == '&')
            return reference();
        if (c >= 0x80)
            return utf8Sequence();
        if (c == '<' || c < 0 || (c < ' ' && c != '\t' && c != '\n' && c != '\r'))
            return false;
        ++at;
        return true;
    }

    // The references the framework's writer escapes with, and &apos;; numeric ones only for
    // a real character.
    bool reference() noexcept
    {
        for (std::string_view named : { "&amp;", "&lt;", "&gt;", "&quot;", "&apos;" })
            if (skip (named))
                return true;
        if (! skip ("&#"))
            return false;
        long code = 0;
        int digits = 0;
        for (; digits < 7 && next() >= '0' && next() <= '9'; ++digits, ++at)
            code = code * 10 + (next() - '0');
        return digits > 0 && skip (";") && code > 0 && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff);
    }

    // One multi-byte character, neither overlong, nor a surrogate, nor beyond U+10FFFF.
    bool utf8Sequence() noexcept
    {
        const int lead = next();
        if (lead < 0xc2 || lead > 0xf4)
            return false;
        const int following = lead < 0xe0 ? 1 : (lead < 0xf0 ? 2 : 3);

        // The second byte's range rules out the overlong forms, surrogates and code points
        // beyond U+10FFFF.
        int low = lead == 0xe0 ? 0xa0 : (lead == 0xf0 ? 0x90 : 0x80);
        int high = lead == 0xed ? 0x9f : (lead == 0xf4 ? 0x8f : 0xbf);
        ++at;
        for (int i = 0; i < following; ++i, low = 0x80, high = 0xbf)
        {
            if (next() < low || next() > high)
                return false;
            ++at;
        }
        return true;
    }
};

const juce::Identifier paramType ("PARAM"), idKey ("id"), valueKey ("value");

// The number at the start of a value's text, or none where the framework would find none and
// read 0: "", "abc", and "true" or "false" alike.
std::optional<double> numberIn (const juce::var& value)
{
    if (! value.isString())
        return std::nullopt; // binary, from a "base64:" attribute
    return numberAtStartOf (value.toString());
}

bool namesParameter (const juce::ValueTree& element, const juce::AudioProcessorValueTreeState& state)
{
    return state.getParameter (element[idKey].toString()) != nullptr;
}

void dropElementsNamingParameters (juce::ValueTree& parent, const juce::AudioProcessorValueTreeState& state)
{
    for (int i = parent.getNumChildren(); --i >= 0;)
    {
        auto child = parent.getChild (i);
        if (namesParameter (child, state))
            parent.removeChild (i, nullptr);
        else
            dropElementsNamingParameters (child, state);
    }
}

// The framework takes a value from any top-level child naming a parameter, whatever its tag,
// and would save a nested one back with its stale value beside the live one. Only top-level
// PARAMs are ours; of several for one parameter the framework ends on the last, so that one
// stays. Elements naming no parameter are kept as they came.
void keepOnlyTopLevelParams (juce::ValueTree& tree, const juce::AudioProcessorValueTreeState& state)
{
    juce::StringArray seen;
    for (int i = tree.getNumChildren(); --i >= 0;)
    {
        auto child = tree.getChild (i);
        if (namesParameter (child, state))
        {
            const auto id = child[idKey].toString();
            if (! child.hasType (paramType) || seen.contains (id))
            {
                tree.removeChild (i, nullptr);
                continue;
            }
            seen.add (id);
        }
        dropElementsNamingParameters (child, state);
    }
}

// Reads a regular file whole, up to the size bound. Opened without waiting, so a FIFO put there
// since it was looked at cannot block, and checked on the descriptor opened.
bool readRegularFile (const char* path, std::vector<char>& content)
{
    const int fd = ::open (path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;

    struct stat info;
    bool complete = ::fstat (fd, &info) == 0 && S_ISREG (info.st_mode)
                    && info.st_size <= static_cast<off_t> (maximumXmlBytes);
    if (complete)
    {
        // One byte beyond the bound tells a file that grew since.
        content.resize (maximumXmlBytes + 1);
        size_t got = 0;
        while (got < content.size())
        {
            const auto n = ::read (fd, content.data() + got, content.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
            {
                complete = n == 0;
                break;
            }
            got += static_cast<size_t> (n);
        }
        content.resize (got);
        complete = complete && got <= maximumXmlBytes;
    }
    ::close (fd);
    return complete;
}

// A settings file not shaped as the framework writes it is dropped, so the framework never
// parses it; the editor size falls back to none and the next change writes a fresh file. Only
// a regular file, there or at the end of a link, is opened (looked at first, so no device is
// ever opened; checked again on the descriptor): a device, a FIFO, a socket, or a link to one
// of them or to nothing would hang or flood the reader, and goes unread. Answers whether the
// framework may open the path afterwards: not while such an entry could not be removed (a
// folder that cannot be written to).
bool discardUnreadableSettings (const juce::PropertiesFile::Options& options)
{
    const auto path = options.getDefaultFile().getFullPathName();
    struct stat entry, target;
    if (::lstat (path.toRawUTF8(), &entry) != 0)
        return true;

    // A folder there is the user's: it stays, nothing loads from it and nothing is saved over it.
    if (S_ISDIR (entry.st_mode))
        return true;

    std::vector<char> content;
    const bool readable = ::stat (path.toRawUTF8(), &target) == 0 && S_ISREG (target.st_mode)
                          && readRegularFile (path.toRawUTF8(), content)
                          && WriterShape::matches (content.data(), content.size());

    // The entry itself goes: a link, never what it points at.
    return readable || ::unlink (path.toRawUTF8()) == 0 || errno == ENOENT;
}
} // namespace

//==============================================================================
juce::PropertiesFile* Kelvo58AudioProcessor::userSettings()
{
    return settingsUsable ? appProperties.getUserSettings() : nullptr;
}

void Kelvo58AudioProcessor::openSettings()
{
    // Where an entry no reader may open cannot be removed, the settings are not opened at all:
    // the editor size is then neither taken nor kept.
    settingsUsable = discardUnreadableSettings (settingsOptions());
    appProperties.setStorageParameters (settingsOptions());

    if (auto* settings = userSettings())
    {
        // A size is only taken whole, and "inf", "nan" or beyond float range is no size.
        const auto sizeIn = [settings] (const char* key)
        {
            const double size = numberAtStartOf (settings->getValue (key)).value_or (0.0);
            return size > 0.0 && size <= static_cast<double> (std::numeric_limits<float>::max()) ? size : 0.0;
        };
        const double width = sizeIn ("Width");
        if (width > 0.0)
        {
            const double height = sizeIn ("Height");
            if (height > 0.0)
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

    if (auto* settings = userSettings())
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
    if (textLength == 0 || ! WriterShape::matches (text, textLength))
        return;

    const auto xml = juce::XmlDocument::parse (juce::String::fromUTF8 (text, static_cast<int> (textLength)));
    if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase (valueTreeState.state.getType().toString()))
        return;

    auto tree = juce::ValueTree::fromXml (*xml);
    keepOnlyTopLevelParams (tree, valueTreeState);
    keepCurrentValuesWhereTheChunkHasNone (tree);
    valueTreeState.replaceState (tree);

    // The state holds what is live, clamped into range, not the text that was loaded, so the
    // next save and every other reader of the tree see values the parameters can take. Set on
    // a copy and put back whole, the tree only changes under the state's lock.
    auto live = valueTreeState.copyState();
    for (auto child : live)
        if (auto* value = valueTreeState.getRawParameterValue (child[idKey].toString()))
            child.setProperty (valueKey, static_cast<double> (value->load()), nullptr);
    valueTreeState.replaceState (live);
}

void Kelvo58AudioProcessor::keepCurrentValuesWhereTheChunkHasNone (juce::ValueTree& tree) const
{
    // One top-level PARAM per parameter is left. Each value becomes a number here, so the
    // framework never reads the text itself.
    for (auto child : tree)
    {
        const auto* parameter = valueTreeState.getParameter (child[idKey].toString());
        // A child without a value means the default, as it always has.
        if (parameter == nullptr || ! child.hasProperty (valueKey))
            continue;

        // "nan", and text with no number at all, keep the current value; the framework would
        // read the latter as 0. Beyond float range the value clamps to the end it points at.
        const auto stored = numberIn (child[valueKey]);
        double value = stored.value_or (std::numeric_limits<double>::quiet_NaN());
        if (std::isnan (value))
            value = static_cast<double> (valueTreeState.getRawParameterValue (parameter->paramID)->load());
        else if (std::abs (value) > static_cast<double> (std::numeric_limits<float>::max()))
        {
            const auto& range = parameter->getNormalisableRange();
            value = static_cast<double> (value > 0 ? range.end : range.start);
        }
        child.setProperty (valueKey, value, nullptr);
    }

    // A parameter the chunk does not mention keeps its value; the framework would otherwise
    // reset it to its default. In ID order, as the framework would append them.
    auto parameters = getParameters();
    std::sort (parameters.begin(), parameters.end(), [] (auto* a, auto* b)
               { return static_cast<FlexyParameter*> (a)->getParameterID() < static_cast<FlexyParameter*> (b)->getParameterID(); });

    for (auto* parameter : parameters)
    {
        const auto id = static_cast<FlexyParameter*> (parameter)->getParameterID();
        if (! tree.getChildWithProperty (idKey, id).isValid())
        {
            juce::ValueTree child (paramType);
            child.setProperty (idKey, id, nullptr);
            child.setProperty (valueKey, static_cast<double> (valueTreeState.getRawParameterValue (id)->load()), nullptr);
            tree.appendChild (child, nullptr);
        }
    }
}
