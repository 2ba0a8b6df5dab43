// What WebAssembly for WASI does differently, all in one place.
#pragma once

#ifdef __wasi__
// Its C library's getc_unlocked and putc_unlocked are functions, not macros, and a call out of
// the module for every byte costs three times the rest of the run: runs of bytes go through
// fread and fwrite there, which give and take the same bytes.
constexpr bool kWholeRuns = true;
#else
constexpr bool kWholeRuns = false;
#endif
