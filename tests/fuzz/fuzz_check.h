// What the fuzz targets share: a broken invariant is a crash libFuzzer keeps.
#pragma once

#include <cstdlib>

inline void Require(bool holds)
{
    if (!holds) std::abort();
}
