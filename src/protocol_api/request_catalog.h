// The request protocol as a client sees it: the protocol version, the answers to the
// opening exchange, the burst slots' channel numbers and every request with its code,
// name, argument and reply layout and who may send it. Header-only and free of the
// server, so the server's dispatch (protocol/) and the C++ client (client/) share one
// table; the JavaScript and Python libraries keep their own, which a test compares with
// this one (request_catalog_json prints it). Constant data, read from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace orvexa {

inline constexpr uint16_t kProtocolVersion = 100;

// The byte that answers Hello.
enum class HelloAnswer : uint8_t { kAdmitted = 0, kWrongVersion = 3, kNotAuthorised = 4 };

// Channel numbers from 1001 on name the burst slots "burst_0".."burst_7", which hold
// the columns of a burst's experiment.
inline constexpr uint16_t kFirstBurstSlot = 1001;
inline constexpr int kBurstSlotCount = 8;

enum class RequestCode : uint8_t {
  kListChannels = 2,
  kFindReadableChannel = 3,
  kFindWritableChannel = 4,
  kReadValue = 5,
  kWriteValue = 6,
  kControlStatus = 7,
  kReadHistory = 8,
  kBatchReplies = 10,
  kListControllers = 11,
  kReadFastSamples = 12,
  kStartRecording = 13,
  kStopRecording = 14,
  kReadExperiment = 15,
  kListExperiments = 16,
  kRunBurst = 17,
  kIsRecording = 18,
  kWriteValueTimed = 19,
  kFindChannel = 20,
  // This server's own requests start at 64, clear of the codes clients know as unused.
  kListAllExperiments = 64,
};

struct RequestCatalogEntry {
  RequestCode code;
  std::string_view name;
  std::string_view arguments;  // after the code byte; "" for none
  std::string_view reply;      // "" for a request answered by nothing
  std::string_view sender;     // who may send it
};

// Every request, by code; a code not listed ends the connection.
inline constexpr std::array kRequestCatalog = {
    RequestCatalogEntry{RequestCode::kListChannels, "ListChannels", "",
                        "u32 n, n x (u8 flags, string ID, string description); n = 0 while "
                        "device listing is disabled",
                        "any client"},
    RequestCatalogEntry{RequestCode::kFindReadableChannel, "FindReadableChannel", "string ID",
                        "u16 channel number (a burst slot too), 0 for none", "any client"},
    RequestCatalogEntry{RequestCode::kFindWritableChannel, "FindWritableChannel", "string ID",
                        "u16 channel number, 0 for none", "any client"},
    RequestCatalogEntry{RequestCode::kReadValue, "ReadValue", "u16 channel number",
                        "f32 value, u32 time", "any client"},
    RequestCatalogEntry{RequestCode::kWriteValue, "WriteValue", "u16 channel number, f32 value", "",
                        "any client; the write is made for a controller in control only, "
                        "silently skipped otherwise"},
    RequestCatalogEntry{RequestCode::kControlStatus, "ControlStatus", "",
                        "u32 state (-1, 0, 1), u32 seconds", "any client"},
    RequestCatalogEntry{RequestCode::kReadHistory, "ReadHistory",
                        "u16 channel number, u32 span or start, u16 mode, u32 limit",
                        "u32 n, n x (u32 time, f32 value)", "any client"},
    RequestCatalogEntry{RequestCode::kBatchReplies, "BatchReplies", "u8 k",
                        "none; the replies of the next k requests go out as one message",
                        "any client"},
    RequestCatalogEntry{RequestCode::kListControllers, "ListControllers", "", "u32 n, n x address",
                        "any client"},
    RequestCatalogEntry{RequestCode::kReadFastSamples, "ReadFastSamples",
                        "u16 channel number, u8 flags, u32 count or first sequence, u16 maximum",
                        "u32 n, n x (u32 sequence or time, f32 value), then u32 newest "
                        "sequence if n > 0",
                        "any client"},
    RequestCatalogEntry{RequestCode::kStartRecording, "StartRecording",
                        "u32 ownerKey, u32 id (0 new), u32 capacity, u32 plug-in argument, u8 "
                        "ring, u16 n, n x u16 channel number",
                        "u32 experiment id, 0xFFFFFFFF refused", "any client"},
    RequestCatalogEntry{RequestCode::kStopRecording, "StopRecording", "",
                        "u32 experiment id, 0xFFFFFFFF refused", "any client"},
    RequestCatalogEntry{RequestCode::kReadExperiment, "ReadExperiment",
                        "u32 id, u32 m, m x (u16 channel number, u32 first sequence, u32 count)",
                        "0xFFFFFFFF, or u32 k, k x (u16 channel number, u32 stored, u32 j, j x "
                        "(u32 sequence, u32 relative time, f32 value))",
                        "any client"},
    RequestCatalogEntry{RequestCode::kListExperiments, "ListExperiments",
                        "u32 ownerKey, u32 lowest id, u32 highest id (0 no bound)",
                        "u32 k, k x (u32 id, u8 recording, u32 start time, u32 stop time, "
                        "address)",
                        "any client"},
    RequestCatalogEntry{RequestCode::kRunBurst, "RunBurst", "string burst name, u32 duration",
                        "u32 experiment id, after the burst", "any client"},
    RequestCatalogEntry{RequestCode::kIsRecording, "IsRecording", "u32 experiment id", "u8 1 or 0",
                        "any client"},
    RequestCatalogEntry{RequestCode::kWriteValueTimed, "WriteValueTimed",
                        "u16 channel number, f32 value", "u32 time",
                        "any client; written as for WriteValue"},
    RequestCatalogEntry{RequestCode::kFindChannel, "FindChannel", "string ID",
                        "u16 channel number (a burst slot too), 0 for none", "any client"},
    RequestCatalogEntry{RequestCode::kListAllExperiments, "ListAllExperiments",
                        "u32 lowest id, u32 highest id (0 no bound)",
                        "u32 k, k x (u32 id, u8 recording, u32 start time, u32 stop time, "
                        "address, u32 ownerKey, u8 burst)",
                        "any client"},
};

}  // namespace orvexa
