// mkdtemp, which the Windows C library lacks, for the tests' shared helpers
// (tests/support/TestSupport.cpp): CMake includes this ahead of them there.
#pragma once

extern "C" char* mkdtemp(char* templ);
