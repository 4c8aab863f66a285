#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Describes the LFO table set: numLevels single-cycle tables at 44100 Hz, slowest first.
// A plain view, passed by value; LfoTableSet owns the arrays.
struct Wavetable2D
{
    int32_t numLevels = 0;
    int32_t* sizes = nullptr;
    float** tables = nullptr;
};

// LFO value at phase (0 <= phase < 1) for a rate of freq Hz (> 0): interpolated within
// a table and between the two tables whose periods bracket 44100 / freq. Below the
// slowest table the weight extrapolates; above the fastest, that table is used alone.
float output2DFreqLerpedSample (Wavetable2D table, float phase, float freq) noexcept;

// Owns a copy of the table file: sizes, table pointers and one array per level.
// A file whose lengths do not cover it exactly yields a single silent level, so the
// lookup stays safe.
class LfoTableSet
{
public:
    LfoTableSet (const void* fileData, std::size_t numBytes);
    ~LfoTableSet();

    LfoTableSet (const LfoTableSet&) = delete;
    LfoTableSet& operator= (const LfoTableSet&) = delete;

    Wavetable2D view() const noexcept { return table; }
    bool isValid() const noexcept { return valid; }

private:
    void allocate (int32_t numLevels);
    void release() noexcept;

    Wavetable2D table;
    bool valid = false;
};
