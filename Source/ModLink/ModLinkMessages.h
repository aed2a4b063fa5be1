// The fixed English message texts of the library. The platform layer uses them too, so
// this header declares nothing but the texts.
#pragma once

namespace ModLinkMessages {
inline constexpr const char* SInternalError = "Internal error";
inline constexpr const char* SNotEnoughSpace =
    "There is not enough space in the buffer to perform the requested action";
inline constexpr const char* SBufferPositionInvalid = "Buffer position is invalid (%d)";
inline constexpr const char* SBufferSizeInvalid = "Buffer size is invalid (%d)";
inline constexpr const char* SCouldNotOpenPort = "Could not open serial port";
inline constexpr const char* SFailedInitBuffers = "Failed to initialize serial I/O buffers";
inline constexpr const char* SFailedInitTimeouts = "Failed to initialize communication timeouts";
inline constexpr const char* SFailedInitEventMask = "Failed to initialize serial event mask";
inline constexpr const char* SFailedUpdateDCB = "Failed to update device control block";
inline constexpr const char* SConnectionActive =
    "Connection must NOT be active for the requested action to be performed";
inline constexpr const char* SConnectionNotActive =
    "Connection MUST be active for the requested action to be performed";
inline constexpr const char* SFlowControlInvalid =
    "Flow control is not valid for the requested action to be performed";
inline constexpr const char* SValueOutOfRange = "Value must be between %d and %d";
inline constexpr const char* SFailedEnhanceClock = "Failed to enhance system clock resolution";
inline constexpr const char* SFailedEncodeFrame = "Failed to encode frame";
inline constexpr const char* SFailedDecodeFrame = "Failed to decode frame";
inline constexpr const char* SListIndexOutOfBounds = "List index out of bounds (%d)";
inline constexpr const char* SDtrDsrNotSupported =
    "DTR/DSR flow control is not supported on this system";
inline constexpr const char* SNoActiveConnection = "There is no active connection";
inline constexpr const char* SRegisterCountInvalid = "Register count must be between 1 and %d";
inline constexpr const char* SStartRegisterInvalid = "Starting register index is invalid (%d)";
inline constexpr const char* SDiscreteCountInvalid = "Discrete i/o count must be between 1 and %d";
inline constexpr const char* SStartDiscreteInvalid = "Starting discrete i/o index is invalid (%d)";
inline constexpr const char* SRequestDataSizeInvalid = "Invalid request data size (%d)";
inline constexpr const char* SFileRecordListInvalid = "File record list is empty or invalid";
inline constexpr const char* SDiagnosticActionUnknown = "Diagnostic action was not recognized";
}  // namespace ModLinkMessages
