#pragma once
// A Windows command line is one text that the child splits again by the rules
// CommandLineToArgvW and the C runtime follow. Building it by those rules is
// what keeps a word with blanks, quotes or backslashes one word.
#include <string>
#include <vector>

namespace zelvo {

// One argument: as it stands when it holds no blank, tab, line break or quote
// (unless `always`); otherwise in quotes, with the backslashes before a quote and
// at the end doubled and each quote escaped.
std::string quoteWindowsArgument(const std::string& argument, bool always = false);
// The program (in plain quotes when it holds a blank: a path never holds a
// quote) and then every argument quoted as above, separated by blanks.
std::string windowsCommandLine(const std::vector<std::string>& words);

}  // namespace zelvo
