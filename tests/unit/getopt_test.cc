// The launcher's getopt: the worked example call by call, golden traces of
// every edge case in both orderings, and re-initialisation.
#include "getopt.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "getopt_args.h"
#include "stderr_capture.h"

namespace {

// Inside this namespace they hide the C library's, which gtest declares.
using velmora::getopt;
using velmora::optarg;
using velmora::optind;
using velmora::optopt;

// In-order ordering for as long as it lives; getopt reads the variable when
// it initialises.
class PosixlyCorrect {
 public:
  PosixlyCorrect() { setenv("POSIXLY_CORRECT", "", 1); }
  ~PosixlyCorrect() { unsetenv("POSIXLY_CORRECT"); }
};

// Parses elements with optstring from a fresh start until -1 and describes
// each call: OPT(c) an option, ARG(text) its argument, ERR(c) an illegal
// option, NOARG(c) a missing argument; then, in brackets, the array
// afterwards with "|" at optind. Checks along the way that each message is
// the one its error calls for, optopt and optarg, that no more than one call
// per character is needed, and that the array is a permutation of its start.
std::string Trace(const char* optstring, const std::vector<std::string>& elements) {
  GetoptArgs args(elements);
  StderrCapture errors;
  std::string trace;
  optind = 0;
  for (size_t calls = 0;; calls++) {
    int c = getopt(args.argc(), args.argv(), optstring);
    std::string message = errors.Take();
    if (c == -1) {
      EXPECT_EQ(message, "");
      EXPECT_EQ(optarg, nullptr);
      break;
    }
    if (c == 0) {
      std::string option(1, static_cast<char>(optopt));
      EXPECT_EQ(optarg, nullptr);
      if (message == "prog: illegal option -- " + option + "\n") {
        trace += "ERR(" + option + ")";
      } else if (message == "prog: option requires an argument -- " + option + "\n") {
        trace += "NOARG(" + option + ")";
      } else {
        ADD_FAILURE() << "message: " << message;
      }
    } else {
      EXPECT_EQ(message, "");
      trace += "OPT(" + std::string(1, static_cast<char>(c)) + ")";
      if (optarg != nullptr) trace += "ARG(" + std::string(optarg) + ")";
    }
    if (calls > 100) {
      ADD_FAILURE() << "no end after " << calls << " calls";
      break;
    }
  }
  EXPECT_TRUE(args.IsPermutationOfStart(elements));
  return trace + " [" + args.Describe(optind) + "]";
}

TEST(Getopt, WorkedExampleCallByCall) {
  // start and end are not visible from outside; what they mean is: the
  // pending non-options stand at [start, end), the options taken since them
  // at [end, optind).
  GetoptArgs args({"a", "-o", "x", "b", "-k", "y"});
  optind = 0;

  EXPECT_EQ(getopt(args.argc(), args.argv(), "o:k:l:"), 'o');
  EXPECT_STREQ(optarg, "x");
  EXPECT_EQ(optind, 4);
  EXPECT_EQ(args.Describe(1), "| a -o x b -k y");  // start 1, end 2: "a" pending

  EXPECT_EQ(getopt(args.argc(), args.argv(), "o:k:l:"), 'k');
  EXPECT_STREQ(optarg, "y");
  EXPECT_EQ(optind, 7);
  EXPECT_EQ(args.Describe(3), "-o x | a b -k y");  // start 3, end 5: "a b" pending

  EXPECT_EQ(getopt(args.argc(), args.argv(), "o:k:l:"), -1);
  EXPECT_EQ(optarg, nullptr);
  EXPECT_EQ(optind, 5);
  EXPECT_EQ(args.Describe(5), "-o x -k y | a b");

  EXPECT_TRUE(args.IsPermutationOfStart({"a", "-o", "x", "b", "-k", "y"}));
}

TEST(Getopt, EndsWhereThereAreNoOptions) {
  EXPECT_EQ(Trace("o:", {}), " [|]");
  EXPECT_EQ(Trace("o:", {"a", "b"}), " [| a b]");
  EXPECT_EQ(Trace("o:", {"-", "a"}), " [| - a]");
  EXPECT_EQ(Trace("o:", {""}), " [| '']");
}

TEST(Getopt, RequiredArgumentsFromTheSameOrTheNextElement) {
  EXPECT_EQ(Trace("o:k:", {"-ofile"}), "OPT(o)ARG(file) [-ofile |]");
  EXPECT_EQ(Trace("o:k:", {"-o", "file"}), "OPT(o)ARG(file) [-o file |]");
  // The next element is the argument, whatever it looks like.
  EXPECT_EQ(Trace("o:k:", {"-o", "-k"}), "OPT(o)ARG(-k) [-o -k |]");
  EXPECT_EQ(Trace("o:k:", {"-o", "--", "-k", "y"}), "OPT(o)ARG(--)OPT(k)ARG(y) [-o -- -k y |]");
  EXPECT_EQ(Trace("o:k:", {"-o", "-"}), "OPT(o)ARG(-) [-o - |]");
  EXPECT_EQ(Trace("o:k:", {"-o", ""}), "OPT(o)ARG() [-o '' |]");
  // The rest of a group is the argument.
  EXPECT_EQ(Trace("ao:", {"-aofile"}), "OPT(a)OPT(o)ARG(file) [-aofile |]");
}

TEST(Getopt, MissingArgumentIsReportedAndEndsParsing) {
  EXPECT_EQ(Trace("o:", {"-o"}), "NOARG(o) [-o |]");
  EXPECT_EQ(Trace("ao:", {"-ao"}), "OPT(a)NOARG(o) [-ao |]");
  EXPECT_EQ(Trace("o:", {"a", "-o"}), "NOARG(o) [-o | a]");
}

TEST(Getopt, OptionalArgumentsOnlyFromTheSameElement) {
  EXPECT_EQ(Trace("a::b", {"-afoo", "-a", "bar", "-ab"}), "OPT(a)ARG(foo)OPT(a)OPT(a)ARG(b) [-afoo -a -ab | bar]");
  EXPECT_EQ(Trace("a::b", {"-ba"}), "OPT(b)OPT(a) [-ba |]");
}

TEST(Getopt, IllegalOptionsAreReportedAndTheGroupGoesOn) {
  EXPECT_EQ(Trace("o:", {"-x"}), "ERR(x) [-x |]");
  EXPECT_EQ(optopt, 'x');
  EXPECT_EQ(Trace("o:", {"-xo", "v"}), "ERR(x)OPT(o)ARG(v) [-xo v |]");
  EXPECT_EQ(Trace("ab", {"-axb"}), "OPT(a)ERR(x)OPT(b) [-axb |]");
  // ':' is never an option character, wherever it stands in optstring.
  EXPECT_EQ(Trace("o:", {"-:"}), "ERR(:) [-: |]");
  EXPECT_EQ(Trace(":a", {"-:a"}), "ERR(:)OPT(a) [-:a |]");
  // "--x" is the group of options '-' and 'x'.
  EXPECT_EQ(Trace("x", {"--x"}), "ERR(-)OPT(x) [--x |]");
}

TEST(Getopt, NoModePrefixInOptstring) {
  EXPECT_EQ(Trace("+a", {"b", "-+", "-a"}), "OPT(+)OPT(a) [-+ -a | b]");
  EXPECT_EQ(Trace("-a", {"b", "-a"}), "OPT(a) [-a | b]");
  EXPECT_EQ(Trace(":o:", {"-o"}), "NOARG(o) [-o |]");
}

TEST(Getopt, BytesAbove127AreOptionCharactersNotTheEnd) {
  EXPECT_EQ(Trace("\xe9", {"-\xe9"}), "OPT(\xe9) [-\xe9 |]");
  EXPECT_EQ(Trace("a", {"-\xff", "-a"}), "ERR(\xff)OPT(a) [-\xff -a |]");
  EXPECT_EQ(optopt, 0xff);
}

TEST(Getopt, AnOptionGivenTwiceIsReturnedTwice) {
  EXPECT_EQ(Trace("o:", {"-o", "a", "-ob"}), "OPT(o)ARG(a)OPT(o)ARG(b) [-o a -ob |]");
}

TEST(Getopt, PermuteMovesNonOptionsBehindTheOptions) {
  EXPECT_EQ(Trace("o:k:", {"a", "-o", "x", "b", "c", "-k", "y", "d"}), "OPT(o)ARG(x)OPT(k)ARG(y) [-o x -k y | a b c d]");
  EXPECT_EQ(Trace("ab", {"-", "-a", "c", "-b", "-"}), "OPT(a)OPT(b) [-a -b | - c -]");
  EXPECT_EQ(Trace("o:", {"", "-o", "x"}), "OPT(o)ARG(x) [-o x | '']");
}

TEST(Getopt, DoubleDashEndsParsingAndJoinsTheOptions) {
  EXPECT_EQ(Trace("o:k:", {"a", "-o", "x", "--", "-k", "y"}), "OPT(o)ARG(x) [-o x -- | a -k y]");
  EXPECT_EQ(Trace("o:", {"--", "-o", "x"}), " [-- | -o x]");
  EXPECT_EQ(Trace("o:", {"a", "b", "--", "c"}), " [-- | a b c]");
  EXPECT_EQ(Trace("o:", {"-o", "x", "--"}), "OPT(o)ARG(x) [-o x -- |]");
  EXPECT_EQ(Trace("o:", {"a", "-ox", "b", "--", "--"}), "OPT(o)ARG(x) [-ox -- | a b --]");
}

TEST(Getopt, InOrderStopsAtTheFirstNonOption) {
  PosixlyCorrect inOrder;
  EXPECT_EQ(Trace("o:", {"file", "-o", "x"}), " [| file -o x]");
  EXPECT_EQ(Trace("o:k:", {"-o", "x", "a", "-k", "y"}), "OPT(o)ARG(x) [-o x | a -k y]");
  EXPECT_EQ(Trace("o:", {"-o", "x", "-", "-o", "y"}), "OPT(o)ARG(x) [-o x | - -o y]");
  EXPECT_EQ(Trace("o:", {"-o", "x", "--", "-o", "y"}), "OPT(o)ARG(x) [-o x -- | -o y]");
  EXPECT_EQ(Trace("o:", {"-x", "-o"}), "ERR(x)NOARG(o) [-x -o |]");
}

TEST(Getopt, OrderingIsReadOnlyWhenInitialising) {
  GetoptArgs args({"a", "-b"});
  optind = 0;
  EXPECT_EQ(getopt(args.argc(), args.argv(), "b"), 'b');
  {
    PosixlyCorrect inOrder;
    EXPECT_EQ(getopt(args.argc(), args.argv(), "b"), -1);
    EXPECT_EQ(args.Describe(optind), "-b | a");  // still permuting
    EXPECT_EQ(Trace("b", {"a", "-b"}), " [| a -b]");  // optind 0 reads it again
  }
  EXPECT_EQ(Trace("b", {"a", "-b"}), "OPT(b) [-b | a]");
}

TEST(Getopt, SettingOptindToZeroStartsAfresh) {
  GetoptArgs first({"-ab", "x"});
  optind = 0;
  // Left in the middle of a group.
  EXPECT_EQ(getopt(first.argc(), first.argv(), "ab"), 'a');

  GetoptArgs second({"c", "-b"});
  optind = 0;
  EXPECT_EQ(getopt(second.argc(), second.argv(), "ab"), 'b');
  EXPECT_EQ(optind, 3);
  EXPECT_EQ(getopt(second.argc(), second.argv(), "ab"), -1);
  EXPECT_EQ(optind, 2);
  EXPECT_EQ(second.Describe(optind), "-b | c");
}

TEST(Getopt, CallsAfterTheEndStayAtTheEnd) {
  GetoptArgs args({"a", "-b", "c"});
  optind = 0;
  EXPECT_EQ(getopt(args.argc(), args.argv(), "b"), 'b');
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(getopt(args.argc(), args.argv(), "b"), -1);
    EXPECT_EQ(args.Describe(optind), "-b | a c");
  }
}

TEST(Getopt, EmptyArrayReadsNoElement) {
  // An array of one null pointer, as a C runtime may give for argc 0.
  char* argv[] = {nullptr};
  optind = 0;
  EXPECT_EQ(getopt(0, argv, "o:"), -1);
  EXPECT_EQ(getopt(0, argv, "o:"), -1);
}

}  // namespace
