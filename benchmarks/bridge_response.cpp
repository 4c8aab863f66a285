// What the 44.1 kHz bridge costs at 48 and 96 kHz. A sine runs through the plug-in's processor
// at each host rate with the start settings (In -6 dB, Out +6 dB, Mix 100 %, Speed 0.5, stage
// on); at 44.1 kHz no bridge runs, so the same sine there is the reference. Like is compared
// with like: the network and its LFO run at 44.1 kHz in every case and follow the same course
// in real time, and each level is the power of the tone with its LFO sidebands over the same
// 8 s (about 28 LFO cycles) under a Blackman-Harris window. The stage stays on: switched off,
// the signal only passes a delay line and no bridge runs.
#include "PluginProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace
{
constexpr double settleSeconds = 1.0;   // gain ramps, bridge pre-roll and start state all past
constexpr double measureSeconds = 8.0;
constexpr float toneAmplitude = 0.25f;  // -12 dBFS
constexpr double toneHalfWidth = 50.0;  // Hz either side: a tone and its LFO sidebands
constexpr double guardHalfWidth = 200.0; // Hz either side of the tone kept out of the image search

// The first channel's output for a sine fed to both channels, after the settling time.
std::vector<float> renderTone (double rate, double frequency)
{
    constexpr int blockSize = 512;
    Kelvo58AudioProcessor processor;
    processor.prepareToPlay (rate, blockSize);

    const auto skip = static_cast<long> (settleSeconds * rate);
    const auto length = static_cast<long> (measureSeconds * rate);
    std::vector<float> out;
    out.reserve ((size_t) length);

    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;
    for (long n = 0; n < skip + length; n += blockSize)
    {
        for (int i = 0; i < blockSize; ++i)
        {
            const double phase = std::fmod (frequency * (double) (n + i) / rate, 1.0);
            const auto x = toneAmplitude * (float) std::sin (juce::MathConstants<double>::twoPi * phase);
            buffer.setSample (0, i, x);
            buffer.setSample (1, i, x);
        }
        processor.processBlock (buffer, midi);
        for (int i = 0; i < blockSize; ++i)
            if (n + i >= skip && n + i < skip + length)
                out.push_back (buffer.getSample (0, i));
    }
    return out;
}

// One-sided power per bin, scaled so that the bins of a tone add up to its mean square.
struct Spectrum
{
    std::vector<double> power;
    double binHz = 0.0;

    double band (double centre, double halfWidth) const
    {
        const auto lo = std::max<long> (1, std::lround ((centre - halfWidth) / binHz));
        const auto hi = std::min<long> ((long) power.size() - 1, std::lround ((centre + halfWidth) / binHz));
        double sum = 0.0;
        for (long k = lo; k <= hi; ++k)
            sum += power[(size_t) k];
        return sum;
    }
};

Spectrum spectrumOf (const std::vector<float>& x, double rate)
{
    int order = 1;
    while ((size_t (1) << order) < x.size())
        ++order;
    const size_t size = size_t (1) << order;

    // Blackman-Harris: sidelobes below -92 dB, far under any image worth naming.
    std::vector<float> data (2 * size, 0.0f);
    double windowEnergy = 0.0;
    for (size_t n = 0; n < x.size(); ++n)
    {
        const double t = juce::MathConstants<double>::twoPi * (double) n / (double) (x.size() - 1);
        const double w = 0.35875 - 0.48829 * std::cos (t) + 0.14128 * std::cos (2 * t) - 0.01168 * std::cos (3 * t);
        data[n] = (float) (w * x[n]);
        windowEnergy += w * w;
    }
    juce::dsp::FFT (order).performRealOnlyForwardTransform (data.data(), true);

    Spectrum s;
    s.binHz = rate / (double) size;
    s.power.resize (size / 2 + 1);
    for (size_t k = 0; k < s.power.size(); ++k)
    {
        const double re = data[2 * k], im = data[2 * k + 1];
        s.power[k] = 2.0 * (re * re + im * im) / ((double) size * windowEnergy);
    }
    return s;
}

double decibels (double powerRatio) { return 10.0 * std::log10 (std::max (powerRatio, 1.0e-30)); }

struct Component
{
    double frequency = 0.0, power = 0.0;
};

// The strongest component between lo and hi Hz other than the tone, as the power around its peak.
Component largestOther (const Spectrum& s, double tone, double lo, double hi)
{
    long best = -1;
    for (long k = std::lround (lo / s.binHz); k <= std::lround (hi / s.binHz) && k < (long) s.power.size(); ++k)
        if (std::abs ((double) k * s.binHz - tone) > guardHalfWidth && (best < 0 || s.power[(size_t) k] > s.power[(size_t) best]))
            best = k;
    const double f = (double) best * s.binHz;
    return { f, s.band (f, toneHalfWidth) };
}

struct Measurement
{
    double tonePower = 0.0;
    Component audible, anywhere; // below 20 kHz; below the host's Nyquist
};

Measurement measure (double rate, double tone)
{
    const auto s = spectrumOf (renderTone (rate, tone), rate);
    return { s.band (tone, toneHalfWidth), largestOther (s, tone, 20.0, 20000.0),
             largestOther (s, tone, 20.0, 0.5 * rate - toneHalfWidth) };
}

void printComponent (const Component& c, double tonePower)
{
    std::printf ("  %6.1f @ %4.1f", decibels (c.power / tonePower), c.frequency / 1000.0);
}
} // namespace

int main()
{
    juce::ScopedJuceInitialiser_GUI juce;
    const double tones[] = { 1000.0, 5000.0, 10000.0, 12000.0, 15000.0, 20000.0 };
    const double rates[] = { 48000.0, 96000.0 };

    std::printf ("Sine at -12 dBFS, start settings; level against the same sine at 44.1 kHz (no bridge there);\n"
                 "largest other component in dB re the tone @ kHz, below 20 kHz and below the host's Nyquist.\n\n");
    std::printf ("tone kHz | rate kHz | level dB | other < 20 kHz | other, any\n");
    for (double tone : tones)
    {
        const auto reference = measure (44100.0, tone);
        std::printf ("%8.1f | %8.1f | %8s |", tone / 1000.0, 44.1, "0 (ref)");
        printComponent (reference.audible, reference.tonePower);
        printComponent (reference.anywhere, reference.tonePower);
        std::printf ("\n");
        for (double rate : rates)
        {
            const auto m = measure (rate, tone);
            std::printf ("%8s | %8.1f | %8.2f |", "", rate / 1000.0, decibels (m.tonePower / reference.tonePower));
            printComponent (m.audible, m.tonePower);
            printComponent (m.anywhere, m.tonePower);
            std::printf ("\n");
        }
    }
    return 0;
}
