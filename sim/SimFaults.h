// Misbehaviour the simulated instrument can be told to show, one field per fault; all off
// by default so a default-constructed value is a healthy instrument.
#pragma once

namespace qv::sim {

struct SimFaults {
    // Transport: how answer bytes reach the wire.
    int splitWrites = 0;              // write each frame in pieces of this many bytes (0 = whole)
    int splitGapUs = 0;               // pause between pieces
    int frameDelayMs = 0;             // pause before each answer frame
    bool garbageBeforeFrame = false;  // a few stray bytes before each answer
    bool silent = false;              // read requests, never answer
    int closeAfterFrames = 0;         // drop the connection after this many answer frames in all

    // Content: what the answer frames carry.
    int badChecksumEvery = 0;      // every Nth answer frame gets a wrong checksum
    bool skipIndex = false;        // answers of three or more frames skip index 2
    bool oversizedFrame = false;   // screens carry one frame with a 5,000-byte payload
    bool answerOverLimit = false;  // screens join to more than 400,000 bytes
    bool firstIndexOne = false;    // the first frame of an answer has index 1
};

}  // namespace qv::sim
