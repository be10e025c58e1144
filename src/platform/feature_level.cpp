// The POSIX layer is written for POSIX.1-2008 with its XSI option (ptsname
// is XSI there) and nothing beyond. The build asks for that level and takes
// away the _GNU_SOURCE that g++ and clang++ define on their own, so that a
// call from outside it does not compile; this stops a build that lost either.
#if defined(_GNU_SOURCE) || !defined(_XOPEN_SOURCE) || _XOPEN_SOURCE != 700
#error "the POSIX layer is built with _XOPEN_SOURCE=700 and without _GNU_SOURCE"
#endif
