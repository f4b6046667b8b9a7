#pragma once

#include <map>
#include <string>

// DOS device name -> its first target.
using DosDeviceMap = std::map<std::wstring, std::wstring>;

// Unmounts and detaches every image disk that earlier runs left attached and
// deletes their VHD files when they are this program's own. 0 when every
// drive was looked at.
int DetachImageDisks();

int QueryDosDevices(DosDeviceMap& devices);
int QueryDosDeviceTarget(const std::wstring& name, std::wstring& target);
int DetachVhdFile(const std::wstring& backingFile);
