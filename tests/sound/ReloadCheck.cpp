// Replays a PyTorch fixture through a freshly exported weights file.
//   sound_reload_check WEIGHTS FIXTURE [TOLERANCE]
#include "NetworkFixture.h"

#include <cstdio>
#include <cstdlib>

int main (int argc, char** argv)
{
    if (argc < 3)
    {
        std::fprintf (stderr, "usage: sound_reload_check WEIGHTS FIXTURE [TOLERANCE]\n");
        return 2;
    }
    const float tolerance = argc > 3 ? std::strtof (argv[3], nullptr) : 1e-4f;
    const auto fixture = NetworkFixture::load (argv[2]);
    if (! fixture)
    {
        std::fprintf (stderr, "unreadable fixture %s\n", argv[2]);
        return 1;
    }
    const auto worst = replayFixture (readWholeFile (argv[1]), *fixture);
    if (! worst)
    {
        std::fprintf (stderr, "unreadable weights file %s\n", argv[1]);
        return 1;
    }
    std::printf ("%zu steps, largest difference to PyTorch %.3g\n", fixture->audio.size(), *worst);
    return *worst <= tolerance ? 0 : 1;
}
