#pragma once

#include <string>

// What the program is asked to do. Options stand before the image path; the
// first argument that does not begin with "--" is the image, and for
// --extract the one after it is the output file; --ls, --copy and --view
// take their operands after the image. Arguments after those are
// ignored, as they always were.
enum class RunMode { kMount, kHelp, kList, kCheck, kExtract, kDetach, kLs, kCopy, kView };

struct CommandLine {
  RunMode mode = RunMode::kMount;
  bool imageGiven = false;
  std::wstring imagePath;
  std::wstring outputPath;     // --extract only
  std::wstring partitionName;  // --partition; empty: the default choice
  std::wstring filePath;       // --ls (may be empty), --copy: PARTITION/PATH
  std::wstring folder;         // --view: where the view goes; --copy: DEST
  bool foreground = false;     // --foreground with --view
  // Why the arguments cannot be run, as one "(Korvex) !ERROR! " line.
  std::wstring fault;
};

// Reads the arguments after the program's own name; `arguments` ends with a
// null pointer.
// Returns: 0 with `line` filled; 1 with `line.fault` set when the arguments
// ask for something that cannot be run (unknown option, missing operand,
// options that do not go together).
int ParseCommandLine(const wchar_t* const* arguments, CommandLine& line);

// The three lines that answer a wrong program name or a missing image.
void PrintUsage();
// The usage lines, then one line for each option.
void PrintHelp();
