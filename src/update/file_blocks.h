#pragma once
// The installed copy's side of a block update: where each block of the new file lies in it.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "core/block_map.h"
#include "framework/stop_signal.h"

enum class BlockSearch { Done, Stopped, NoSha256, ReadFailed, MapProvedFalse };

// Reads file from where it stands to its end, in pieces, and sets found to where each of map's blocks begins
// in it (-1: nowhere); the strong hashes are CNG's SHA-256. Memory: the map's index and one piece. A stop is
// answered before every strong hash and every piece; a false map costs little (see core::BlockMatcher).
BlockSearch FindMappedBlocks(HANDLE file, const core::BlockMap& map, const CStopSignal& stop, std::vector<std::int64_t>& found);
