// Mending of an AVI recording that was cut off before the multiplexer could
// finish it (the disk filled, the file could no longer be written, the
// program ended without ending the stream).
#pragma once

#include <cstdint>
#include <string>

namespace quell {

struct AviRepairReport {
    bool mended = false;             // sizes, counts and index now describe the file
    std::uint64_t videoFrames = 0;   // frames the mended file holds
    std::uint64_t chunks = 0;        // chunks of pictures and sound it holds
    std::uint64_t droppedChunks = 0; // whole chunks given up to make room for the index
    std::string error;               // why the file was left as it was (or only partly mended)
};

// Cuts the file after its last complete chunk and writes what the
// multiplexer's end would have written: the RIFF and movi sizes, the frame
// and sample counts of the headers, and the index (idx1, or for a file
// beyond its first gigabyte the OpenDML chunk indexes and super indexes).
// When the disk has no room for the index, the last chunks are given up
// until it fits. A file without a readable header is left alone.
AviRepairReport RepairAviFile(const std::string& path);

}  // namespace quell
