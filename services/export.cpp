#include "services/export.h"

#include <fcntl.h>
#include <unistd.h>

#include "bridge/bridge_io.h"
#include "bridge/messages.h"
#include "services/sources.h"
#include "store/write_all.h"

namespace plinthos {

namespace {
constexpr const char* kScriptPrefix = "/tmp/duckexport_";
constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask, as for any saved document
}  // namespace

std::string exportStatement(const std::string& query, const std::string& destination,
                            const std::string& setup) {
  return setup + "COPY (\n" + query + "\n) TO '" + sqlQuoted(destination) +
         "' (FORMAT CSV, HEADER)";
}

// Arguments: [sql], the whole query (the pages strip their LIMIT first), and optionally the
// setup statements of a script that run before it in the same engine run.
// Reply: {"ok": destination} once the engine wrote the file; {"cancelled": true} when the
// dialog was cancelled (nothing else happens then).
// Failures: {"error": text} with "Failed to create temp file", "Failed to run database
// engine", or the engine's output on a non-zero exit (else "Export failed"); also for
// arguments that are not [text], checked before the dialog opens.
std::string exportToCsvCpp(const std::string& args, const ServiceEnv& env, Dialogs* dialogs) {
  return guarded(
      [&] {
        std::string problem;
        auto parsed = BridgeArgs::parse(args, &problem);
        auto values =
            parsed ? readTextArgs(args, parsed->size() > 1 ? 2 : 1, &problem) : std::nullopt;
        if (!values) return errorReply(problem);
        std::string setup = values->size() > 1 ? (*values)[1] : std::string();
        std::optional<std::string> destination;
        if (dialogs) destination = dialogs->chooseCsvDestination();
        if (!destination) return cancelledReply();

        std::string folder = workingFolder(env.exePath);
        std::string query = expandAllSourceFolders(folder, (*values)[0]);
        EngineRun run =
            runEngine(folder, env.duckdbPath,
                      exportStatement(query, *destination, expandAllSourceFolders(folder, setup)),
                      kScriptPrefix, OutputMode::Default);
        if (auto failed = failedRunReply(run, messages::kExportFailed)) return *failed;
        return toReply(json{{"ok", *destination}});
      },
      [](const std::string& what) { return errorReply(messages::kInternalError + what); });
}

// Arguments: [csv text], written exactly as received.
// Reply: "ok"; "cancelled" when the dialog was cancelled.
// Failures: "error: could not write file" when the destination cannot be opened or written
// completely; "error: invalid arguments" (no dialog shown) when the argument is not text.
std::string saveCsvCpp(const std::string& args, Dialogs* dialogs) {
  return guarded(
      [&] {
        auto values = readTextArgs(args, 1, nullptr);
        if (!values) return stringReply(messages::kSaveBadArguments);
        std::optional<std::string> destination;
        if (dialogs) destination = dialogs->chooseCsvDestination();
        if (!destination) return stringReply(messages::kSaveCancelled);
        // A NUL would make the file opened differ from the one chosen.
        if (destination->find('\0') != std::string::npos) {
          return stringReply(messages::kSaveWriteFailed);
        }

        int fd =
            ::open(destination->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode);
        if (fd < 0) return stringReply(messages::kSaveWriteFailed);
        bool ok = writeAll(fd, (*values)[0]);
        if (::close(fd) != 0) ok = false;
        return stringReply(ok ? messages::kSaveOk : messages::kSaveWriteFailed);
      },
      [](const std::string&) { return stringReply(messages::kSaveWriteFailed); });
}

}  // namespace plinthos
