#pragma once

#include <cstdint>
#include <string>

#include "win32.h"

class FfuImage;
class MountSession;

int CreateImageVhd(MountSession& session, FfuImage* image);
int CreateAndAttachVhd(HANDLE& diskHandle, uint32_t sectorSize, uint64_t maximumSize,
                       const std::wstring& vhdPath);
