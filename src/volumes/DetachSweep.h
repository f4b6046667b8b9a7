#pragma once

#include <map>
#include <string>

// DOS device name -> its first target.
using DosDeviceMap = std::map<std::wstring, std::wstring>;

// Who sweeps: a mount, which cannot go on while a device flashed from the
// image (not a virtual disk) is connected, or --detach, which leaves such a
// device alone and is done.
enum class SweepFor { kMount, kDetach };

// Unmounts and detaches every image disk that earlier runs left attached and
// deletes their VHD files when they are this program's own.
// Returns: 0 when every drive was looked at, also when a disk stays attached
// (that draws a warning only); the character count of the failure line when
// the device names cannot be listed; ERROR_BUSY, after its line, when a
// mount meets a device flashed from the image; otherwise the Win32 error
// code of the drive that stopped the sweep, or of a temporary folder that is
// refused, after printing it.
int DetachImageDisks(SweepFor purpose = SweepFor::kMount);

// Returns: 0 with `devices` filled, or the Win32 error code after printing
// it. A name whose target cannot be read is kept with an empty target,
// without a line.
int QueryDosDevices(DosDeviceMap& devices);
// Returns: 0 once the disk of that file is detached, or the Win32 error code
// after printing it when it cannot be opened or detached.
int DetachVhdFile(const std::wstring& backingFile);
