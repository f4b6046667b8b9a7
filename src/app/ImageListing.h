#pragma once

#include <cstdint>
#include <string>

class FfuImage;

// Prints what a loaded image says about itself: its headers, the identity
// lines of its manifest, each store with its header, and each store's
// partitions. Only the headers, tables and the few blocks they name are
// read, so it answers at once for an image of any size.
// Returns: 0, or non-zero after printing why a store could not be read.
int ListImage(FfuImage& image);

// Returns: narrow text from the image with every byte outside printable
// ASCII shown as '?', so that the image cannot steer the terminal.
std::wstring PrintableText(const char* text, size_t length);
