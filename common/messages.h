#pragma once
// The short fixed texts the native side adds to its replies. Each is used in one place and
// tested by its exact text; the engine's own messages pass through unchanged.
namespace plinthos::messages {

// Engine services.
inline constexpr const char* kTempFileFailed = "Failed to create temp file";
inline constexpr const char* kEngineNotStarted = "Failed to run database engine";
inline constexpr const char* kQueryFailed = "Query failed";
inline constexpr const char* kNoSuchAnswer = "No such answer";
inline constexpr const char* kSchemaQueryFailed = "Schema query failed";
inline constexpr const char* kConversionFailed = "Conversion failed";
inline constexpr const char* kExportFailed = "Export failed";
inline constexpr const char* kNoDataSource = "No data source found in query";
inline constexpr const char* kNoFreeParquetName = "No free name for the Parquet file beside ";
inline constexpr const char* kEngineKilled = "The engine was stopped by the system";
inline constexpr const char* kOutOfMemory = "The answer is too large for memory";

// Listing.
inline constexpr const char* kBucketNotFound = "Bucket folder not found. Please select a folder.";

// Saving a CSV text: followed by the destination, ": " and the system's reason.
inline constexpr const char* kCsvNotWritten = "Could not write the CSV file ";

// Calls outside the argument contract (the pages never make them).
inline constexpr const char* kArgsNotArray = "Invalid arguments: expected a JSON array";
inline constexpr const char* kArgMissingText = "Invalid arguments: expected text as argument ";
inline constexpr const char* kLayoutNotJson = "The layout is not valid JSON: ";
inline constexpr const char* kFiltersNotJson = "The filters are not valid JSON: ";

// Store.
inline constexpr const char* kSaveConfigFailed = "Could not save the configuration: ";
inline constexpr const char* kNoHomeFolder = "no home folder could be determined";
inline constexpr const char* kExistingUnreadable = "the existing file cannot be read";
inline constexpr const char* kCorruptCopyFailed =
    "could not keep a copy of the unreadable configuration file";
inline constexpr const char* kNestedTooDeeply = "it would nest more than ";
inline constexpr const char* kLevelsDeep = " levels deep";
inline constexpr const char* kLayoutTooDeep = "The layout or filters nest more than ";

// Anything unexpected caught at a bridge boundary.
inline constexpr const char* kInternalError = "Internal error: ";

}  // namespace plinthos::messages
