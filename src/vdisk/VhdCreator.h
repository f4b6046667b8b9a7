#pragma once

#include <cstdint>
#include <string>

#include "win32.h"

class FfuImage;
class MountSession;

// How far the creation came, so that a failed run knows what it made.
enum class VhdStage { kNone, kCreated, kAttached };

int CreateImageVhd(MountSession& session, FfuImage* image);
int CreateAndAttachVhd(HANDLE& diskHandle, uint32_t sectorSize, uint64_t maximumSize,
                       const std::wstring& vhdPath, VhdStage* stage = nullptr);
