#include "db/jet/jet_errors.h"

namespace brenvo::jet {

void ThrowFileNotFound(const std::string& path) {
  throw BrenvoError(kErrFail, "Could not find file '" + path + "'.", kJetSource);
}

void ThrowUnrecognizedFormat(const std::string& path) {
  throw BrenvoError(kErrFail, "Unrecognized database format '" + path + "'.", kJetSource);
}

void ThrowFileInUse(const std::string& path) {
  throw BrenvoError(kErrFail,
                    "The Microsoft Jet database engine cannot open the file '" + path +
                        "'.  It is already opened exclusively by another user, or you need permission to view "
                        "its data.",
                    kJetSource);
}

void ThrowBadPassword() { throw BrenvoError(kErrPassword, "Not a valid password.", kJetSource); }

void ThrowCorrupt(const std::string& what) {
  throw BrenvoError(kErrFail,
                    "The database is damaged and needs to be repaired (" + what + ").", kJetSource);
}

void ThrowNoTable(const std::string& name) {
  throw BrenvoError(kErrNoTable,
                    "The Microsoft Jet database engine cannot find the input table or query '" + name +
                        "'.  Make sure it exists and that its name is spelled correctly.",
                    kJetSource);
}

void ThrowNoValue() {
  throw BrenvoError(kErrNoValue, "No value given for one or more required parameters.", kJetSource);
}

void ThrowSyntax(const std::string& description) { throw BrenvoError(kErrSyntax, description, kJetSource); }

void ThrowTypeMismatch() {
  throw BrenvoError(kErrTypeMismatch, "Data type mismatch in criteria expression.", kJetSource);
}

void ThrowNotCapable(const std::string& what) { throw BrenvoError(kErrNotCapable, what, kJetSource); }

void ThrowReadOnlyFormat(const std::string& path) {
  throw BrenvoError(kErrNotCapable,
                    "The database '" + path +
                        "' is in Access 97 (Jet 3) format, which this engine reads but does not write. Convert it "
                        "to Access 2000 format in Access first; nothing was changed.",
                    kJetSource);
}

}  // namespace brenvo::jet
