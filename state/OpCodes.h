#pragma once
// Operation codes: byte cb::kOpCode of the command block. The codes up to
// kInfo are the unit's; the rest stay on this side and only pick the routine
// the worker runs. The simulated unit shares them.
#include <cstdint>

namespace veldrix::op {

enum Code : uint8_t {
    kNone = 0,              // none: before the first session; a memory sum not after a copy
    kProbe = 1,             // the port search's session: the acknowledgement is the answer
    kClearArea = 2,         // block number 0: the programming memory, 1-15: a directory block
    kDownload = 3,          // the scrambled code into the programming memory
    kMemoryChecksum = 4,    // sum of the programming memory over the range
    kReadMemory = 5,        // a piece of the programming memory
    kEraseMtp = 6,
    kProgram = 7,           // the chip from the programming memory
    kVerify = 8,            // the chip against the programming memory
    kSmart = 9,             // SMART option of an MTP chip
    kReadProtect = 10,
    kLdcProtect = 11,
    kHardwareProtect = 12,  // hardware write protection of an MTP chip
    kChipChecksum = 13,     // sum of the chip over the range (debug mode's verify)
    kReadChip = 14,         // a piece of the chip
    kCopyChip = 15,         // the chip into the programming memory
    kBlankCheck = 16,
    kOfflineConfig = 17,    // an offline file's configuration record
    kOfflineCode = 18,      // the programming memory into a directory block
    kOfflineVerify = 19,    // a directory block against the programming memory
    kOfflineRead = 20,      // a piece of a directory block's file
    kReadFileInfo = 21,     // a directory block's information record
    kSetCounter = 22,       // a directory block's counter and ID address
    kSetPassword = 23,
    kCopyMaster = 24,       // a directory block's file into the programming memory
    kLock = 25,             // lock or unlock the programmer
    kProgramDirect = 26,    // the chip from code streamed with the session (debug mode)
    kSmartDebug = 27,       // SMART option in debug mode
    kReadIdentifier = 29,   // the programmer's eight-byte key
    kOfflineChecksum = 30,  // sum of a directory block's file
    kWriteIdCode = 31,      // three ID-code bytes into the chip
    kInfo = 37,             // firmware version and date (F7)

    // The host's own
    kResetCounts = 38,
    kToggleCounting = 39,
    kOpenFile = 45,         // choose a code file, then download it
    kAutoProgram = 46,      // the automatic sequence
    kSaveHex = 47,          // the programming memory into a HEX file
    kEditByte = 48,         // the code view's single-byte edit: runs no routine
    kMakeOffline = 49,      // an offline file from the programming memory
    kDeleteFile = 51,       // a directory block's file

    // The code view: every code from kFirstView on shows a page.
    kShowMemory = 60,       // opens the view
    kViewSet = 61,          // the typed address
    kViewAscii = 62,
    kPrevPage = 63,
    kNextPage = 64,
    kViewMemory = 65,
    kViewChip = 66,
    kViewMaster = 67,
    kFirstView = kShowMemory,
};

}  // namespace veldrix::op
