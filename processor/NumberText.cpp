#include "NumberText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

std::optional<double> numberAtStartOf (const juce::String& text) noexcept
{
    auto p = text.getCharPointer().findEndOfWhitespace();

    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;

    // As the framework reads them: "nan" whatever its sign, "inf" (so "infinity" too).
    const auto letterAt = [&p] (int index, char lower)
    {
        const auto c = p[index];
        return c == (juce::juce_wchar) lower || c == (juce::juce_wchar) (lower - 'a' + 'A');
    };
    if (letterAt (0, 'n'))
    {
        if (letterAt (1, 'a') && letterAt (2, 'n'))
            return std::numeric_limits<double>::quiet_NaN();
        return std::nullopt;
    }
    if (letterAt (0, 'i'))
    {
        if (letterAt (1, 'n') && letterAt (2, 'f'))
            return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        return std::nullopt;
    }

    // The first 18 significant digits are kept, as many as the framework keeps; the others only
    // move the decimal exponent. Leading zeros, before or after the point, only move it too.
    constexpr int keptDigits = 18;
    char number[keptDigits + 16];
    int kept = 0;
    long long exponent = 0; // of the kept digits read as a whole number
    bool anyDigit = false, pointFound = false;

    for (;; ++p)
    {
        const auto c = *p;
        if (c >= '0' && c <= '9')
        {
            anyDigit = true;
            if (kept == 0 && c == '0')
            {
                exponent -= pointFound ? 1 : 0;
            }
            else if (kept < keptDigits)
            {
                number[kept++] = (char) c;
                exponent -= pointFound ? 1 : 0;
            }
            else
            {
                exponent += pointFound ? 0 : 1;
            }
        }
        else if (c == '.' && ! pointFound)
        {
            pointFound = true;
        }
        else
        {
            break;
        }
    }

    if (! anyDigit)
        return std::nullopt;

    // An exponent without digits counts as none, as "3e" reads 3. Its digits are taken only up
    // to a size no double comes near, so a run of any length stays in range.
    constexpr long long exponentBound = 100000;
    if (*p == 'e' || *p == 'E')
    {
        ++p;
        const bool negativeExponent = *p == '-';
        if (*p == '-' || *p == '+')
            ++p;

        long long written = 0;
        for (; p.isDigit(); ++p)
            if (written < exponentBound)
                written = written * 10 + (*p - '0');

        exponent += negativeExponent ? -written : written;
    }

    if (kept == 0)
        return negative ? -0.0 : 0.0;

    // Whole digits and an exponent, no decimal point: the C library rounds it correctly in any
    // locale, beyond range to an infinity or a zero.
    std::snprintf (number + kept, sizeof (number) - (size_t) kept, "e%lld",
                   std::clamp (exponent, -exponentBound, exponentBound));
    const double magnitude = std::strtod (number, nullptr);
    return negative ? -magnitude : magnitude;
}
