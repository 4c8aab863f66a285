#pragma once

// What the plug-in itself writes into a project chunk, as the tests read and damage it: "VC2!",
// the text's length (32 bits, little endian), one line of XML and a zero byte; the framework's
// trailer follows.

#include <algorithm>
#include <cstdint>
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
} // namespace chunktext
