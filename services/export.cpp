#include "services/export.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/messages.h"
#include "services/folders.h"
#include "services/sources.h"
#include "store/write_all.h"

namespace plinthos {

namespace {
constexpr EngineJob kExportJob{"/tmp/duckexport_", OutputMode::Default, messages::kExportFailed};
}  // namespace

std::string exportStatement(const std::string& query, const std::string& destination,
                            const std::string& setup) {
  return setup + "COPY (\n" + query + "\n) TO '" + sqlQuoted(destination) +
         "' (FORMAT CSV, HEADER)";
}

Result<std::string> exportToCsv(const std::string& sql, const std::string& setup,
                                const ServiceEnv& env, Dialogs* dialogs) {
  std::optional<std::string> destination;
  if (dialogs) destination = dialogs->chooseCsvDestination();
  if (!destination) return Cancelled{};

  std::string folder = workingFolder(env.exePath);
  std::string query = expandAllSourceFolders(folder, sql);
  auto run = runJob(env, folder,
                    exportStatement(query, *destination, expandAllSourceFolders(folder, setup)),
                    kExportJob);
  if (!std::holds_alternative<std::string>(run)) return run;
  return std::move(*destination);
}

Result<std::string> saveCsv(const std::string& csv, Dialogs* dialogs) {
  std::optional<std::string> destination;
  if (dialogs) destination = dialogs->chooseCsvDestination();
  if (!destination) return Cancelled{};
  auto notWritten = [&](const std::string& reason) {
    return Failure{messages::kCsvNotWritten + *destination + ": " + reason};
  };
  // A NUL would make the file opened differ from the one chosen.
  if (destination->find('\0') != std::string::npos) return notWritten(std::strerror(EINVAL));

  int fd = ::open(destination->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode);
  if (fd < 0) return notWritten(std::strerror(errno));
  Result<Done> written = writeAll(fd, csv);
  if (::close(fd) != 0 && succeeded(written)) written = Failure{std::strerror(errno)};
  if (auto* failure = std::get_if<Failure>(&written)) return notWritten(failure->message);
  return std::move(*destination);
}

}  // namespace plinthos
