// An argument array for the getopt tests: "prog" and the given elements,
// each text in a buffer of its own, so that a test can tell moved pointers
// from changed texts.
#ifndef VELMORA_TESTS_GETOPT_ARGS_H
#define VELMORA_TESTS_GETOPT_ARGS_H

#include <algorithm>
#include <string>
#include <vector>

class GetoptArgs {
 public:
  explicit GetoptArgs(const std::vector<std::string>& elements) : texts_{"prog"} {
    texts_.insert(texts_.end(), elements.begin(), elements.end());
    for (std::string& text : texts_) argv_.push_back(&text[0]);
  }
  GetoptArgs(const GetoptArgs&) = delete;
  GetoptArgs& operator=(const GetoptArgs&) = delete;

  int argc() const { return static_cast<int>(argv_.size()); }
  char** argv() { return argv_.data(); }

  // The elements after "prog" as they stand now, with "|" at index divider
  // and '' for an empty element: "-o x | a b".
  std::string Describe(int divider) const {
    std::string text;
    for (int i = 1; i <= argc(); i++) {
      if (i == divider) text += text.empty() ? "|" : " |";
      if (i == argc()) break;
      text += text.empty() ? "" : " ";
      text += argv_[i][0] == '\0' ? "''" : argv_[i];
    }
    return text;
  }

  // Whether the array holds the same text buffers as at the start, with
  // "prog" still first, and no text changed.
  bool IsPermutationOfStart(const std::vector<std::string>& elements) const {
    std::vector<const char*> now(argv_.begin(), argv_.end());
    std::vector<const char*> start;
    for (const std::string& text : texts_) start.push_back(text.c_str());
    if (now[0] != start[0] || !std::is_permutation(now.begin(), now.end(), start.begin())) return false;
    for (size_t i = 1; i < texts_.size(); i++) {
      if (texts_[i] != elements[i - 1]) return false;
    }
    return true;
  }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> argv_;
};

#endif
