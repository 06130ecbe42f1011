#pragma once
// The administration commands of corvale-server: non-interactive, one line of output per
// record, and the exit codes of CommandLine.h, so that scripts can drive them.

#include "server/CommandLine.h"
#include "server/Result.h"
#include "server/Version.h"

#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace server {

// The bytes of an update package file (at most 64 MiB), or why there are none.
Result<std::string> ReadPackageFile(const std::string& path);

// The text of a package's signature file: `signatureFile` when given, else the package's
// path + ".minisig"; refused when it is missing, too large or no valid signature file.
Result<std::string> ReadPackageSignature(const std::string& packagePath,
                                         const std::optional<std::string>& signatureFile);

bool IsAdminCommand(std::string_view command);

// Runs `line.Command` against the database of `line`; returns the exit code. `in` supplies
// a password that is not on the command line.
int RunAdminCommand(const CommandLine& line, const ProductVersion& clientVersion, std::istream& in,
                    std::ostream& out, std::ostream& err);

} // namespace server
