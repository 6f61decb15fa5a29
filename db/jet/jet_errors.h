// The errors the Jet engine raises, in one place. Numbers and wording follow
// what the Jet 4.0 OLE DB provider reports through ADO, so a technician's
// report reads the same as on a Windows workstation:
//
//   -2147467259 (0x80004005, E_FAIL)   file-level failures: missing file,
//                                      unrecognised format, file in use,
//                                      damaged content
//   -2147217843 (0x80040E4D)           "Not a valid password."
//   -2147217865 (0x80040E37)           unknown table
//   -2147217904 (0x80040E10)           unknown column ("No value given ...")
//   -2147217900 (0x80040E14)           SQL syntax error / unsupported statement
//   -2147217913 (0x80040E07)           "Data type mismatch in criteria expression."
//   -2147217887 (0x80040E21)           a request the engine cannot carry out
//                                      (for example appending before writing
//                                      is built)
//   3704 / 3705 / 3021                 ADO's closed-object, open-object and
//                                      no-current-record errors
#pragma once

#include <string>

#include "util/error.h"

namespace brenvo::jet {

inline constexpr const char* kJetSource = "Microsoft JET Database Engine";

inline constexpr long kErrFail = -2147467259;
inline constexpr long kErrPassword = -2147217843;
inline constexpr long kErrNoTable = -2147217865;
inline constexpr long kErrNoValue = -2147217904;
inline constexpr long kErrSyntax = -2147217900;
inline constexpr long kErrTypeMismatch = -2147217913;
inline constexpr long kErrNotCapable = -2147217887;
inline constexpr long kErrObjectClosed = 3704;
inline constexpr long kErrObjectOpen = 3705;
inline constexpr long kErrNoCurrentRecord = 3021;

[[noreturn]] void ThrowFileNotFound(const std::string& path);
[[noreturn]] void ThrowUnrecognizedFormat(const std::string& path);
[[noreturn]] void ThrowFileInUse(const std::string& path);
[[noreturn]] void ThrowBadPassword();
// Damaged content found while reading: what was wrong, for the report.
[[noreturn]] void ThrowCorrupt(const std::string& what);
[[noreturn]] void ThrowNoTable(const std::string& name);
[[noreturn]] void ThrowNoValue();
[[noreturn]] void ThrowSyntax(const std::string& description);
[[noreturn]] void ThrowTypeMismatch();
[[noreturn]] void ThrowNotCapable(const std::string& what);
// A write (rows, DELETE FROM, import) into a file the engine only reads.
[[noreturn]] void ThrowReadOnlyFormat(const std::string& path);

}  // namespace brenvo::jet
