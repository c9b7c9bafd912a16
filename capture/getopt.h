// The launcher's command-line option parser: POSIX single-character options.
// By default non-options may stand anywhere and are moved behind the options
// as parsing goes on; with POSIXLY_CORRECT in the environment parsing stops at
// the first non-option. Pure logic, so that it is tested natively too.
//
// The names are POSIX's; the namespace keeps them apart from a C library's
// own getopt, which the tests compare this one with.
#ifndef VELMORA_CAPTURE_GETOPT_H
#define VELMORA_CAPTURE_GETOPT_H

namespace velmora {

// Argument of the option just returned, or null.
extern char* optarg;
// Index of the next element of argv to examine; setting it to 0 makes the
// next call start afresh (and read POSIXLY_CORRECT again).
extern int optind;
// The option character of the last error.
extern int optopt;

// Returns the next option character; 0 after writing "illegal option" or
// "option requires an argument" to standard error; -1 when no options are
// left, with the non-options then standing from optind to the end of argv.
// In optstring, "c:" takes a required argument (from the rest of the element
// or else the next element), "c::" an optional one (from the rest of the
// element only). Swaps entries of argv; never changes the texts.
int getopt(int argc, char** argv, const char* optstring);

}  // namespace velmora

#endif
