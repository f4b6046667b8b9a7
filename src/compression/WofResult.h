#pragma once

// What reading a file that Windows keeps compressed through its overlay
// filter came to. Every value but kWofOk fails the read: the caller turns it
// into EIO (or its own failure) and prints WofResultText once; the bytes of
// a failed read are never handed out.
enum WofResult : int {
  kWofOk = 0,
  kWofNotWof,              // the reparse point is not of the overlay filter's tag
  kWofBadReparseData,      // the reparse data is shorter or longer than its records
  kWofUnknownVersion,      // a record's version is not 1
  kWofUnknownProvider,     // a provider other than the file provider (the WIM-backed one, say)
  kWofUnknownAlgorithm,    // an algorithm past the four known ones
  kWofStreamReadFailed,    // the compressed stream could not be read (cut short, or the disk failed)
  kWofBadChunkTable,       // a chunk offset that goes backwards or past the stream
  kWofBadChunk,            // a chunk that does not decompress to its size
};

// Returns: the line that says why a read failed, without a newline
// ("the compressed stream is cut short", ...); "" for kWofOk.
const wchar_t* WofResultText(WofResult result);
