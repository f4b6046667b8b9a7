#pragma once

#include <map>
#include <string>

// DOS device name -> its first target.
using DosDeviceMap = std::map<std::wstring, std::wstring>;

// Unmounts and detaches every image disk that earlier runs left attached and
// deletes their VHD files when they are this program's own.
// Returns: 0 when every drive was looked at, also when a disk stays attached
// (that draws a warning only); the character count of the failure line when
// the device names cannot be listed; otherwise the Win32 error code of the
// drive that stopped the sweep, or of a temporary folder that is refused,
// after printing it.
int DetachImageDisks();

// Returns: 0 with `devices` filled, or the Win32 error code after printing
// it. A name whose target cannot be read is kept with an empty target,
// after its error line.
int QueryDosDevices(DosDeviceMap& devices);
// Returns: 0 with `target` set to the name's first target, or the Win32
// error code after printing it.
int QueryDosDeviceTarget(const std::wstring& name, std::wstring& target);
// Returns: 0 once the disk of that file is detached, or the Win32 error code
// after printing it when it cannot be opened or detached.
int DetachVhdFile(const std::wstring& backingFile);
