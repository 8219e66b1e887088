#pragma once

// Include in exactly one source file of a program that may host the plug-in's panel in an
// AddressSanitizer build. The panel runs on Qt's offscreen platform there, whose plug-in never frees
// its screen and cursor; Qt has no frame pointers, so only the slow unwinder sees the plug-in on
// those allocation stacks. Built into the program because it also runs outside the test scripts'
// environment (the build lists tests by running them).

#if defined(__SANITIZE_ADDRESS__)
extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n";
}
#endif
