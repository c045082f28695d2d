// Run-time choice between a baseline and an AVX2 build of a hot loop.
//
// A function marked ZELVAR_CLONES is compiled twice from the same source; the
// loader picks the AVX2 build on processors that have it (GCC target_clones
// through a glibc ifunc).  Building with ZELVAR_BASELINE_ONLY keeps only the
// baseline build: the ThreadSanitizer build needs that (the clones' resolvers run
// before its runtime is ready), and its test run thereby covers the baseline
// loops on any processor.
#pragma once

#ifdef ZELVAR_BASELINE_ONLY
#define ZELVAR_CLONES
#define ZELVAR_POPCNT_CLONES
#else
#define ZELVAR_CLONES __attribute__((target_clones("avx2", "default")))
#define ZELVAR_POPCNT_CLONES __attribute__((target_clones("popcnt", "default")))
#endif
