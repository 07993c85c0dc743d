// Diagnostic trace lines; compiled out unless TARVEL_TRACE is defined.
#pragma once

#ifdef TARVEL_TRACE
#include <cstdio>
#define TRACE(...) (std::fprintf(stderr, __VA_ARGS__), std::fflush(stderr))
#else
#define TRACE(...) ((void)0)
#endif
