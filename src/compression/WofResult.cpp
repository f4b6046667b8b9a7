#include "compression/WofResult.h"

const wchar_t* WofResultText(WofResult result) {
  switch (result) {
    case kWofOk:
      return L"";
    case kWofNotWof:
      return L"the reparse point is not of a compressed file";
    case kWofBadReparseData:
      return L"the compressed file's reparse data has the wrong length";
    case kWofUnknownVersion:
      return L"the compressed file's reparse data has a version this program does not know";
    case kWofUnknownProvider:
      return L"the file's data lies with a provider this program does not know "
             L"(only compressed files are read)";
    case kWofUnknownAlgorithm:
      return L"the file is compressed with an algorithm this program does not know";
    case kWofStreamReadFailed:
      return L"the compressed stream cannot be read (it is cut short or the read failed)";
    case kWofBadChunkTable:
      return L"the compressed stream's chunk table does not fit the file";
    case kWofBadChunk:
      return L"a chunk of the compressed stream does not decompress to its size";
  }
  return L"the compressed file cannot be read";
}
