#pragma once

#include <cstdint>

class DamageReport;
class FfuImage;

// What a check of the whole image file found. The values are the exit codes
// the command line gives for them.
enum ImageCheckResult : int {
  kImageIntact = 0,        // every chunk matches the image's hash table
  kImageDamaged = 2,       // one or more chunks do not
  kImageUncheckable = 3,   // the image has no usable hash table, or hashing failed
  kCatalogFailed = 4,      // every chunk matches, but the catalog does not vouch for the
                           // table: it differs, a signature fails, or it cannot be read
  kImageUnreadable = 73,   // the file could not be read to its end
};

// Checks a loaded image (FfuImage::Load done; the file's position does not
// matter) against its hash table: reads the file from the image header to
// its end in large pieces, one after the other at the file's read speed,
// while the hash pool hashes the pieces read before on every processor.
// Shows the progress on the status line "Checking image ... N%", then prints
// the damage lines of `report` for the chunks that differ (so they read as
// the mount's), then the catalog's lines, and ends with a final line. It does not depend on how many
// stores the image holds: only `report` knows what a chunk holds. The
// image's chunkCheck is started afresh and holds the findings afterwards.
// Returns: an ImageCheckResult; kImageUncheckable after the line that says
// why, kImageUnreadable after the failed read's line.
int CheckWholeImage(FfuImage& image, const DamageReport& report);
