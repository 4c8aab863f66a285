#pragma once

// What the plug-in itself writes into a project chunk, as the tests read and damage it: "VC2!",
// the text's length (32 bits, little endian), one line of XML and a zero byte; the framework's
// trailer follows.

#include <algorithm>
#include <cstdint>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace chunktext
{
inline std::string xmlOf (const std::vector<char>& chunk)
{
    return { chunk.begin() + 8, std::find (chunk.begin() + 8, chunk.end(), 0) };
}

/** The chunk with other XML in place of its own, the trailer kept. */
inline std::vector<char> withXml (const std::vector<char>& chunk, const std::string& xml)
{
    std::vector<char> result (chunk.begin(), chunk.begin() + 4);
    for (int i = 0; i < 4; ++i)
        result.push_back ((char) ((uint32_t) xml.size() >> (8 * i)));
    result.insert (result.end(), xml.begin(), xml.end());
    result.insert (result.end(), std::find (chunk.begin() + 8, chunk.end(), 0), chunk.end());
    return result;
}

/** The XML with the value text of one parameter's PARAM replaced. */
inline std::string withValue (std::string xml, const std::string& id, const std::string& value)
{
    const std::string start = "<PARAM id=\"" + id + "\" value=\"";
    const auto from = xml.find (start) + start.size();
    return xml.replace (from, xml.find ('"', from) - from, value);
}

struct Element
{
    std::string tag;
    std::map<std::string, std::string> attributes;
    int depth; // the root is 0
};

/** Every element of XML laid out as the framework writes it, in document order. */
inline std::vector<Element> elementsOf (const std::string& xml)
{
    static const std::regex tag ("<(/?)([\\w.:-]+)([^>]*?)(/?)>"), attribute ("([\\w.:-]+)=\"([^\"]*)\"");
    std::vector<Element> elements;
    int depth = 0;
    for (std::sregex_iterator t (xml.begin(), xml.end(), tag), end; t != end; ++t)
    {
        if ((*t)[1].length() > 0)
        {
            --depth;
            continue;
        }
        Element element { (*t)[2], {}, depth };
        const auto attributes = (*t)[3].str();
        for (std::sregex_iterator a (attributes.begin(), attributes.end(), attribute); a != end; ++a)
            element.attributes[(*a)[1]] = (*a)[2];
        depth += (*t)[4].length() == 0 ? 1 : 0;
        elements.push_back (element);
    }
    return elements;
}
} // namespace chunktext
