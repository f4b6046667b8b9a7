#include "app/CommandLine.h"

#include <cwchar>

#include "common/ProgramLines.h"
#include "platform.h"

namespace {
struct ModeOption {
  const wchar_t* name;
  RunMode mode;
};

constexpr ModeOption kModeOptions[] = {
    {L"--help", RunMode::kHelp},       {L"--list", RunMode::kList},
    {L"--check", RunMode::kCheck},     {L"--extract", RunMode::kExtract},
    {L"--detach", RunMode::kDetach},   {L"--ls", RunMode::kLs},
    {L"--copy", RunMode::kCopy},       {L"--view", RunMode::kView},
};

constexpr wchar_t kPartitionOption[] = L"--partition";

bool IsOption(const wchar_t* argument) { return std::wcsncmp(argument, L"--", 2) == 0; }

const wchar_t* ModeName(RunMode mode) {
  for (const ModeOption& option : kModeOptions)
    if (option.mode == mode) return option.name;
  return L"";
}

int Refuse(CommandLine& line, const std::wstring& fault) {
  line.fault = std::wstring(kProgramPrefix) + kErrorPrefix + fault + L"\n";
  return 1;
}

// Takes one option and, for --partition, its operand.
// Returns: 0, or 1 with the fault set.
int ReadOption(const wchar_t* const*& argument, CommandLine& line, bool& partitionGiven) {
  std::wstring name = *argument;
  if (name == L"--foreground") {
    line.foreground = true;
    return 0;
  }
  if (name == kPartitionOption) {
    if (partitionGiven) return Refuse(line, L"The option --partition is given twice.");
    const wchar_t* operand = argument[1];
    if (operand == nullptr || operand[0] == L'\0')
      return Refuse(line, L"The option --partition needs a partition name.");
    line.partitionName = operand;
    partitionGiven = true;
    ++argument;
    return 0;
  }
  for (const ModeOption& option : kModeOptions) {
    if (name != option.name) continue;
    if (line.mode != RunMode::kMount)
      return Refuse(line, std::wstring(L"The options ") + ModeName(line.mode) + L" and " +
                              option.name + L" cannot be used together.");
    line.mode = option.mode;
    return 0;
  }
  return Refuse(line, L"Unknown option : '" + PrintableName(name) + L"'");
}

// Checks that the operands and options fit the mode.
int CheckOperands(CommandLine& line, bool partitionGiven, bool outputGiven) {
  std::wstring mode = ModeName(line.mode);
  switch (line.mode) {
    case RunMode::kHelp:
      return 0;
    case RunMode::kDetach:
      if (line.imageGiven) return Refuse(line, L"The option --detach takes no image file.");
      break;
    case RunMode::kMount:
      if (line.imageGiven) return 0;
      return Refuse(line, partitionGiven ? L"The option --partition needs an image file."
                                         : L"No image file is given.");
    case RunMode::kExtract:
      if (!line.imageGiven || !outputGiven)
        return Refuse(line, L"The option --extract needs an image file and an output file.");
      return 0;
    case RunMode::kCopy:
      if (!line.imageGiven || line.filePath.empty() || line.folder.empty())
        return Refuse(line, L"The option --copy needs an image file, a PARTITION/PATH and a "
                            L"destination.");
      break;
    case RunMode::kView:
      if (!line.imageGiven || line.folder.empty())
        return Refuse(line, L"The option --view needs an image file and a folder.");
      break;
    default:
      if (!line.imageGiven) return Refuse(line, L"The option " + mode + L" needs an image file.");
      break;
  }
  if (partitionGiven)
    return Refuse(line, L"The options " + mode + L" and --partition cannot be used together.");
  if (line.foreground && line.mode != RunMode::kView)
    return Refuse(line, L"The option --foreground goes with --view only.");
  return 0;
}

// The operands after the image of --ls, --copy and --view; `argument` moves
// past them, so that only what is left over is refused.
void ReadFileOperands(const wchar_t* const*& argument, CommandLine& line) {
  if (line.mode == RunMode::kView) {
    if (*argument != nullptr) line.folder = *argument++;
    return;
  }
  if (*argument != nullptr) line.filePath = *argument++;
  if (line.mode == RunMode::kCopy && *argument != nullptr) line.folder = *argument++;
}
}  // namespace

int ParseCommandLine(const wchar_t* const* arguments, CommandLine& line) {
  line = CommandLine();
  bool partitionGiven = false;
  bool outputGiven = false;
  const wchar_t* const* argument = arguments;
  for (; *argument != nullptr && IsOption(*argument); ++argument) {
    // "--" alone ends the options, for an image whose name begins with "--".
    if (std::wcscmp(*argument, L"--") == 0) {
      ++argument;
      break;
    }
    if (ReadOption(argument, line, partitionGiven) != 0) return 1;
  }
  if (*argument != nullptr) {
    line.imageGiven = true;
    line.imagePath = *argument++;
    if (line.mode == RunMode::kExtract && *argument != nullptr) {
      outputGiven = true;
      line.outputPath = *argument++;
    }
    if (line.mode == RunMode::kLs || line.mode == RunMode::kCopy || line.mode == RunMode::kView)
      ReadFileOperands(argument, line);
  }
  if (outputGiven && line.outputPath.empty())
    return Refuse(line, L"The option --extract needs an output file.");
  if (CheckOperands(line, partitionGiven, outputGiven) != 0) return 1;
  // The plain form (no option) ignores what follows the image, as it always
  // has; with an option, an argument left over is a mistake.
  const bool optionGiven = line.mode != RunMode::kMount || partitionGiven;
  if (*argument != nullptr && optionGiven && line.mode != RunMode::kHelp)
    return Refuse(line, L"Unexpected argument : '" + std::wstring(*argument) + L"'");
  return 0;
}

void PrintUsage() {
  PrintWide(L"Brackwen Usage:\n");
  PrintWide(L"Brackwen Mount an image file as a virtual hard drive.\n");
  PrintWide(L"Brackwen <ImageFile>\n");
}

void PrintHelp() {
  PrintUsage();
  PrintWide(L"Brackwen --partition <Name> <ImageFile>  Mount the partition of that name instead.\n");
  PrintWide(L"Brackwen --list <ImageFile>  Show the image's headers, stores and partitions.\n");
  PrintWide(L"Brackwen --check <ImageFile>  Check the whole image against its hash table.\n");
  PrintWide(L"Brackwen --extract [--partition <Name>] <ImageFile> <OutFile>  Write the disk, or "
            L"one partition, to a new raw image file (a VHDX or VHD file for .vhdx or .vhd).\n");
  PrintWide(L"Brackwen --ls <ImageFile> [<Partition>/<Path>]  List the partitions, or the "
            L"entries of one folder, without a mount.\n");
  PrintWide(L"Brackwen --copy <ImageFile> <Partition>/<Path> <Dest>  Copy a file or a folder "
            L"out to the new path Dest.\n");
  PrintWide(L"Brackwen --view [--foreground] <ImageFile> <Folder>  Show the image's files on an "
            L"empty folder of yours, as any user (fusermount3 -u <Folder> ends it).\n");
  PrintWide(L"Brackwen --detach  Unmount and detach the disks of earlier mounts.\n");
  PrintWide(L"Brackwen --help  Show this text.\n");
}
