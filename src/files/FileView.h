#pragma once

#include <string>

class ImageFiles;

// Shows the image's files on `folder` (an empty folder of the user's) as a
// read-only file system: a folder for each volume, and raw/ with each
// store's disk and partitions as files. Returns once the view is ready and
// serves it in the background, or serves in the foreground until it is
// unmounted or interrupted.
// Returns: 0; 73 after the line that says why there is no view; 1 when
// FUSE is missing here.
int ServeView(ImageFiles& files, const std::wstring& folder, bool foreground);
