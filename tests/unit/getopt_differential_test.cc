// The launcher's getopt against glibc's getopt on generated argument arrays,
// in glibc's permuting ordering and in its POSIXLY_CORRECT ordering: after
// every call the same return value, optarg, optind, optopt after an error,
// array and message. The differences allowed are the ones ours is built to
// have:
// - an error returns 0 where glibc returns '?';
// - glibc's messages read "invalid option -- 'x'" and "option requires an
//   argument -- 'x'"; ours "illegal option -- x" and "option requires an
//   argument -- x".
// And inputs where glibc is not comparable are not generated:
// - option strings starting with '+', '-' or ':' (mode prefixes to glibc,
//   ordinary characters to ours) or holding "W;" (long options to glibc);
// - bytes above 127 as option characters (glibc returns them sign-extended,
//   a negative value; ours returns them as unsigned values).
#include "getopt.h"

#include <getopt.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

#include "getopt_args.h"
#include "stderr_capture.h"

namespace {

// One getopt implementation and its state.
struct Parser {
  int (*getopt)(int argc, char** argv, const char* optstring);
  char** optarg;
  int* optind;
  int* optopt;
};

int GlibcGetopt(int argc, char** argv, const char* optstring) {
  return ::getopt(argc, argv, optstring);
}

const Parser kOurs = {velmora::getopt, &velmora::optarg, &velmora::optind, &velmora::optopt};
const Parser kGlibc = {GlibcGetopt, &::optarg, &::optind, &::optopt};

// glibc's message in our words: "invalid option -- 'x'" becomes "illegal
// option -- x", "option requires an argument -- 'x'" loses its quotes.
std::string InOurWords(std::string message) {
  size_t quote = message.find("-- '");
  if (quote != std::string::npos) message.erase(quote + 3, 1).erase(quote + 4, 1);
  if (message.find("invalid option") != std::string::npos) message.replace(message.find("invalid"), 7, "illegal");
  return message;
}

// Every call with its result and the state after it, one line a call, with
// glibc's deviations translated to ours.
std::string Run(const Parser& parser, const char* optstring, const std::vector<std::string>& elements) {
  GetoptArgs args(elements);
  StderrCapture errors;
  std::string record;
  *parser.optind = 0;
  for (int c = 0; c != -1;) {
    c = parser.getopt(args.argc(), args.argv(), optstring);
    std::string message = errors.Take();
    if (parser.getopt == GlibcGetopt) {
      if (c == '?') c = 0;
      message = InOurWords(message);
    }
    record += std::to_string(c) + " optind " + std::to_string(*parser.optind);
    if (*parser.optarg != nullptr) record += " optarg " + std::string(*parser.optarg);
    record += " [" + args.Describe(*parser.optind) + "]";
    // The message ends the line; a call without one writes none.
    record += c == 0 ? " optopt " + std::to_string(*parser.optopt) + " " + message : message + "\n";
  }
  EXPECT_TRUE(args.IsPermutationOfStart(elements));
  return record;
}

// Option strings from a few letters, each taking no, a required or an
// optional argument; elements from words, "-", "--", "" and groups of option
// characters (known, unknown, ':' and '-') with or without attached text.
class Generator {
 public:
  std::string Optstring() {
    std::string optstring;
    for (char c : std::string("abcd")) {
      if (Pick(3) == 0) continue;
      optstring += c;
      optstring += std::vector<const char*>{"", ":", "::"}[Pick(3)];
    }
    return optstring;
  }

  std::vector<std::string> Elements() {
    std::vector<std::string> elements(Pick(9));
    for (std::string& element : elements) {
      switch (Pick(6)) {
        case 0: element = std::vector<const char*>{"-", "--", ""}[Pick(3)]; break;
        case 1: element = "w" + std::to_string(Pick(10)); break;
        default: element = Group(); break;
      }
    }
    return elements;
  }

 private:
  std::string Group() {
    static const char kCharacters[] = "abcdabcdex:-";
    std::string group = "-";
    for (int count = 1 + Pick(3); count > 0; count--) group += kCharacters[Pick(sizeof(kCharacters) - 1)];
    if (Pick(4) == 0) group += "v" + std::to_string(Pick(10));
    return group;
  }

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  std::mt19937 random_{20240613};
};

void CompareOnGeneratedArrays(int count) {
  Generator generator;
  for (int i = 0; i < count; i++) {
    std::string optstring = generator.Optstring();
    std::vector<std::string> elements = generator.Elements();
    std::string ours = Run(kOurs, optstring.c_str(), elements);
    std::string glibc = Run(kGlibc, optstring.c_str(), elements);
    if (ours != glibc) {
      std::string joined;
      for (const std::string& element : elements) joined += " '" + element + "'";
      ADD_FAILURE() << "optstring \"" << optstring << "\", elements" << joined << "\nours:\n"
                    << ours << "glibc:\n" << glibc;
      return;
    }
  }
}

TEST(GetoptAgainstGlibc, Permuting) {
  unsetenv("POSIXLY_CORRECT");
  CompareOnGeneratedArrays(20000);
}

TEST(GetoptAgainstGlibc, InOrder) {
  setenv("POSIXLY_CORRECT", "1", 1);
  CompareOnGeneratedArrays(20000);
  unsetenv("POSIXLY_CORRECT");
}

}  // namespace
